"""Reading and checking a sweep file. Everything that can be wrong with it is found here,
before any folder is written or any run started."""

import itertools
import math
import os
import re
import shutil
import tomllib

from .. import _toml, inputs
from . import case_files

SAFE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]{0,127}")
TOP_KEYS = {"base", "runs", "combine", "program", "folder", "vary", "slurm"}
SLURM_KEYS = {"job-name", "partition", "time", "cpus-per-task", "mem", "max-running",
              "account", "qos", "extra"}


class SweepError(Exception):
    """A sweep file that cannot be run; the message says which key and why."""


class Run:
    def __init__(self, index, values, folder, inputs_by_file):
        self.index = index
        self.values = values            # the varied fields of this run, in sweep order
        self.folder = folder            # absolute path of the run folder
        self.inputs = inputs_by_file    # {file name: text} of the files this run reads
        self.name = os.path.basename(folder)


class Sweep:
    def __init__(self, path, fields, runs, runs_dir, program, slurm, combine, kind="folder"):
        self.path = path
        self.kind = kind                # "folder": input files; "case": a TOML case file
        self.fields = fields            # varied field names, in the order of the sweep file
        self.runs = runs
        self.runs_dir = runs_dir
        self.program = program
        self.slurm = slurm
        self.combine = combine


def _check_value(field, value, where):
    kind = inputs.FIELD_FILE[field].kinds[field]
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise SweepError(f"{where}: {field} value {value!r} is not a number")
    if kind == "int":
        if isinstance(value, float):
            if not (math.isfinite(value) and value == int(value)):
                raise SweepError(f"{where}: {field} takes whole numbers, not {value!r}")
            value = int(value)
        if not -2**31 <= value < 2**31:
            raise SweepError(f"{where}: {field} value {value} does not fit an int")
        return int(value)
    return float(value)


def _safe_path(text, key, path, allow_up=False):
    """Relative or absolute path whose every part is a plain name: no '..' (unless
    allow_up: the base is only read, never written or named in a job script), no blanks, no
    characters that a shell or a job script would read."""
    if not isinstance(text, str) or not text:
        raise SweepError(f"{path}: '{key}' must be a folder name, not {text!r}")
    parts = [p for p in text.split("/") if p not in ("", ".")]
    if not parts:
        raise SweepError(f"{path}: '{key}' = {text!r} names no folder")
    for p in parts:
        if p == ".." and allow_up:
            continue
        if p == ".." or not SAFE_NAME.fullmatch(p):
            raise SweepError(
                f"{path}: '{key}' = {text!r} has the unsafe part {p!r}; use letters, digits, "
                "'.', '_' and '-' (not starting with '.' or '-'), and no '..'")
    return text


def _inside(child, parent):
    child, parent = os.path.realpath(child), os.path.realpath(parent)
    return child == parent or child.startswith(parent.rstrip("/") + "/")


def find_program(explicit, sweep_value, sweep_dir):
    """The program to run: --program, else the sweep file's 'program' (relative to the sweep
    file), else $AEROSOL_PROGRAM (the launchers set it to the program beside them, or to the
    source tree's build/aerosol), else aerosol on PATH; None when there is none."""
    if explicit:
        return os.path.abspath(explicit)
    if sweep_value:
        return os.path.abspath(os.path.join(sweep_dir, sweep_value))
    if os.environ.get("AEROSOL_PROGRAM"):
        return os.path.abspath(os.environ["AEROSOL_PROGRAM"])
    found = shutil.which("aerosol")
    return os.path.abspath(found) if found else None


def load(path, program=None):
    """Reads and checks a sweep file; returns the Sweep with every run laid out (inputs
    rendered) but nothing written."""
    try:
        with open(path, "rb") as f:
            data = tomllib.load(f)
    except OSError as e:
        raise SweepError(f"{path}: cannot be read: {e.strerror}") from None
    except tomllib.TOMLDecodeError as e:
        raise SweepError(f"{path}: not a valid TOML file: {e}") from None
    sweep_dir = os.path.dirname(os.path.abspath(path))

    unknown = sorted(set(data) - TOP_KEYS)
    if unknown:
        raise SweepError(f"{path}: unknown key(s) {', '.join(unknown)}; "
                         f"known keys are {', '.join(sorted(TOP_KEYS))}")
    if "base" not in data:
        raise SweepError(f"{path}: 'base' (a case file, or the folder with the base run's "
                         "input files) is missing")
    base_dir = os.path.join(sweep_dir, _safe_path(data["base"], "base", path, allow_up=True))
    runs_name = data.get("runs", os.path.splitext(os.path.basename(path))[0] + "-runs")
    runs_dir = os.path.join(sweep_dir, _safe_path(runs_name, "runs", path))
    if _inside(runs_dir, base_dir) or _inside(base_dir, runs_dir) or \
            os.path.realpath(runs_dir) == os.path.realpath(sweep_dir):
        raise SweepError(f"{path}: 'runs' = {runs_name!r} must be a folder of its own, apart "
                         f"from the base folder and the sweep file's folder")
    combine = data.get("combine", "grid")
    if combine not in ("grid", "zip"):
        raise SweepError(f"{path}: 'combine' = {combine!r}; expected \"grid\" (every "
                         "combination) or \"zip\" (the lists side by side)")

    slurm = _check_slurm(data, path)
    if os.path.isfile(base_dir) or base_dir.endswith(".toml"):
        return _load_case_sweep(path, data, base_dir, runs_dir, combine, slurm, program,
                                sweep_dir)

    vary = data.get("vary")
    if not isinstance(vary, dict) or not vary:
        raise SweepError(f"{path}: [vary] is missing or empty; name at least one field with a "
                         "list of values, e.g. coolingRate = [1e3, 1e4]")
    for field, values in vary.items():
        if field not in inputs.FIELD_FILE:
            raise SweepError(f"{path}: [vary] {field}: unknown field; known fields are "
                             + ", ".join(f for f_ in inputs.FILES for f in f_.fields))
        if not isinstance(values, list):
            values = [values]
        if not values:
            raise SweepError(f"{path}: [vary] {field}: the list of values is empty")
        vary[field] = [_check_value(field, v, f"{path}: [vary]") for v in values]
    fields = list(vary)

    combos = _combinations(vary, combine, path)

    # The base run.
    base = {}
    for f in inputs.FILES:
        file_path = os.path.join(base_dir, f.name)
        if not os.path.exists(file_path):
            continue
        try:
            base[f.name] = inputs.read_input_file(file_path, f)
        except OSError as e:
            raise SweepError(f"{file_path}: cannot be read: {e.strerror}") from None
        except inputs.InputError as e:
            raise SweepError(f"{base_dir}/{e}") from None
    if "main.inp" not in base:
        raise SweepError(f"{path}: the base folder {base_dir} has no main.inp")

    folder_template = data.get("folder")
    if folder_template is not None and not isinstance(folder_template, str):
        raise SweepError(f"{path}: 'folder' must be a text such as \"rate-{{coolingRate}}\"")
    runs = []
    names = set()
    for index, combo in enumerate(combos):
        values = dict(zip(fields, combo))
        merged = {name: dict(v) for name, v in base.items()}
        merged["main.inp"].update({k: v for k, v in values.items() if k in inputs.MAIN_FIELDS})
        process = merged["main.inp"]["process"]
        reads = inputs.files_read_by(process)
        texts = {}
        for f in reads:
            if f.name not in merged:
                raise SweepError(f"{path}: run {index} ({_describe(values)}) is process "
                                 f"{process}, which reads {f.name}; the base folder has none")
            merged[f.name].update({k: v for k, v in values.items() if k in f.fields})
            texts[f.name] = inputs.render(f, merged[f.name])
        for field in fields:
            owner = inputs.FIELD_FILE[field]
            if owner not in reads:
                raise SweepError(f"{path}: [vary] {field} is a field of {owner.name}, which "
                                 f"process {process} does not read (run {index}: "
                                 f"{_describe(values)})")
        name = _folder_name(index, values, folder_template, path)
        if name in names:
            raise SweepError(f"{path}: two runs would share the folder {name!r}; make 'folder' "
                             "name every varied field, or drop repeated values")
        names.add(name)
        runs.append(Run(index, values, os.path.join(runs_dir, name), texts))

    program_path = find_program(program, data.get("program"), sweep_dir)
    return Sweep(os.path.abspath(path), fields, runs, runs_dir, program_path, slurm, combine)


def _check_slurm(data, path):
    slurm = data.get("slurm", {})
    if not isinstance(slurm, dict):
        raise SweepError(f"{path}: [slurm] must be a table")
    unknown = sorted(set(slurm) - SLURM_KEYS)
    if unknown:
        raise SweepError(f"{path}: [slurm]: unknown key(s) {', '.join(unknown)}; known keys "
                         f"are {', '.join(sorted(SLURM_KEYS))}")
    for key, value in slurm.items():
        items = value if key == "extra" else [value]
        if key == "extra" and not isinstance(value, list):
            raise SweepError(f"{path}: [slurm] extra must be a list of sbatch options")
        for item in items:
            text = str(item)
            if isinstance(item, bool) or not isinstance(item, (str, int)) or \
                    not re.fullmatch(r"[A-Za-z0-9_.:=,@%+/-]+", text) or \
                    (key == "extra" and not text.startswith("--")):
                raise SweepError(f"{path}: [slurm] {key} = {item!r} is not a plain sbatch value"
                                 + (" (each must start with '--')" if key == "extra" else ""))
    return slurm


def _combinations(vary, combine, path):
    if combine == "zip":
        lengths = {f: len(v) for f, v in vary.items()}
        if len(set(lengths.values())) != 1:
            raise SweepError(f"{path}: combine = \"zip\" needs lists of one length; got "
                             + ", ".join(f"{f}: {n}" for f, n in lengths.items()))
        return list(zip(*vary.values()))
    return list(itertools.product(*vary.values()))


CASE_FILE = "case.toml"
FIELD = re.compile(r"\{([A-Za-z0-9_.-]+)\}")


def _load_case_sweep(path, data, base_path, runs_dir, combine, slurm, program, sweep_dir):
    """A sweep whose base is a case file of `aerosol simulate`: [vary] names keys by their
    dotted paths, and each run gets the base case with those values set, as case.toml."""
    try:
        with open(base_path, "rb") as f:
            base_bytes = f.read()
        base = tomllib.loads(base_bytes.decode("utf-8"))
    except OSError as e:
        raise SweepError(f"{path}: the base case file {base_path} cannot be read: "
                         f"{e.strerror}") from None
    except (UnicodeDecodeError, tomllib.TOMLDecodeError) as e:
        raise SweepError(f"{base_path}: not a valid TOML case file: {e}") from None
    vary = data.get("vary")
    if not isinstance(vary, dict) or not vary:
        raise SweepError(f"{path}: [vary] is missing or empty; name at least one key of the "
                         "case file by its dotted path with a list of values, e.g. "
                         "temperature.cooling_rate = [1e3, 1e4]")
    vary = case_files.flatten_vary(vary)
    for field, values in vary.items():
        try:
            case_files.split_path(field)
            case_files.check_path(base, field)
            if not values:
                raise case_files.CaseError(f"{field}: the list of values is empty")
            case_files.check_value(values, field)
        except case_files.CaseError as e:
            raise SweepError(f"{path}: [vary] {e}") from None
    fields = list(vary)
    folder_template = data.get("folder")
    if folder_template is not None and not isinstance(folder_template, str):
        raise SweepError(f"{path}: 'folder' must be a text such as "
                         "\"rate-{temperature.cooling_rate}\"")
    runs, names = [], set()
    base_name = os.path.basename(base_path)
    for index, combo in enumerate(_combinations(vary, combine, path)):
        values = dict(zip(fields, combo))
        case = tomllib.loads(base_bytes.decode("utf-8"))      # a fresh copy
        for field, value in values.items():
            case_files.set_path(case, field, value)
        header = f"Run {index} of the sweep {os.path.basename(path)}: {base_name} with\n" + \
            "\n".join(f"  {f} = {_toml.value_text(v)}" for f, v in values.items())
        text = _toml.dumps(case, header)
        name = _case_folder_name(index, values, folder_template, path)
        if name in names:
            raise SweepError(f"{path}: two runs would share the folder {name!r}; make 'folder' "
                             "name every varied key, or drop repeated values")
        names.add(name)
        runs.append(Run(index, values, os.path.join(runs_dir, name), {CASE_FILE: text}))
    program_path = find_program(program, data.get("program"), sweep_dir)
    return Sweep(os.path.abspath(path), fields, runs, runs_dir, program_path, slurm, combine,
                 kind="case")


def _case_folder_name(index, values, template, path):
    shown = {k: case_files.shown(v) for k, v in values.items()}
    if template is None:
        name = f"{index:03d}_" + "_".join(f"{k}-{v}" for k, v in shown.items())
        if not SAFE_NAME.fullmatch(name):      # long, odd or array values: the index alone
            name = f"{index:03d}"
        return name

    def fill(match):
        key = match.group(1)
        if key == "index":
            return str(index)
        if key not in shown:
            raise SweepError(f"{path}: 'folder' = {template!r} names {{{key}}}, which is "
                             "neither {index} nor a varied key")
        return shown[key]

    name = FIELD.sub(fill, template)
    if not SAFE_NAME.fullmatch(name):
        raise SweepError(f"{path}: 'folder' = {template!r} gives the unsafe folder name "
                         f"{name!r}; use letters, digits, '.', '_' and '-' (not starting with "
                         "'.' or '-'), at most 128 characters")
    return name


def _describe(values):
    return ", ".join(f"{k} = {inputs.format_value(v, inputs.FIELD_FILE[k].kinds[k])}"
                     for k, v in values.items())


def _folder_name(index, values, template, path):
    shown = {k: inputs.format_value(v, inputs.FIELD_FILE[k].kinds[k]) for k, v in values.items()}
    if template is None:
        name = f"{index:03d}_" + "_".join(f"{k}-{v}" for k, v in shown.items())
        if not SAFE_NAME.fullmatch(name):      # very long or odd values: the index alone
            name = f"{index:03d}"
        return name
    try:
        name = template.format(index=index, **shown)
    except (KeyError, IndexError, ValueError) as e:
        raise SweepError(f"{path}: 'folder' = {template!r} cannot be filled: {e!r}; it may "
                         "use {index} and the varied fields") from None
    if not SAFE_NAME.fullmatch(name):
        raise SweepError(f"{path}: 'folder' = {template!r} gives the unsafe folder name "
                         f"{name!r}; use letters, digits, '.', '_' and '-' (not starting with "
                         "'.' or '-'), at most 128 characters")
    return name
