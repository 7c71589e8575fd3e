"""aerosol: the nodal aerosol model from Python.

    import aerosol
    ds = aerosol.simulate({"mechanisms": {...}, "material": {...}, ...})
    ds = aerosol.simulate("examples/simulate/nucleation-growth-100.toml", output_times=51)
    ds = aerosol.simulate(aerosol.Case.from_toml(text))   # the text of a case file
    ds = aerosol.read("run.nc")               # a file written by `aerosol simulate`
    run = aerosol.read_legacy("out.txt")      # a saved standard output of a process

`simulate` runs the same code as `aerosol simulate` and returns an xarray.Dataset with the
variables, dimensions, units and attributes of the NetCDF file that the command writes.
See docs/python.md.
"""

import os
import warnings

from . import _classic, _toml

__all__ = ["simulate", "Case", "read", "read_legacy", "case_toml", "SimulationError",
           "__version__"]


def _core():
    """The compiled module, imported at first use: the package's pure-Python modules (inputs,
    output, plot, plot_simulate, sweep) work without it, from the source tree's python/."""
    try:
        from . import _aerosol
    except ImportError as error:
        raise ImportError("aerosol: the compiled module aerosol._aerosol cannot be imported "
                          "(%s); it is built by CMake or pip install (docs/python.md)"
                          % error) from error
    return _aerosol


def __getattr__(name):
    # The version is the compiled module's, the program's own (CMake's project version).
    if name == "__version__":
        return _core().__version__
    raise AttributeError("module 'aerosol' has no attribute %r" % name)


# Where a dict case or a TOML text comes from, in messages and in the case_source attribute.
DICT_SOURCE = "<dict>"
TOML_SOURCE = "<toml>"


class SimulationError(RuntimeError):
    """A run that could not finish: the integrator failed, or its results could not be kept.

    `run_end` says how the run ended, in the words of the NetCDF file's attribute of that
    name; `dataset` holds the output times reached (None when the run ended before its first
    output time, for example when the grid or the initial state cannot be formed).
    """

    def __init__(self, run_end, dataset):
        super().__init__(run_end)
        self.run_end = run_end
        self.dataset = dataset


def case_toml(case):
    """The TOML case file text of a case given as a dict (what `simulate` reads).

    Line numbers in the messages about a dict case refer to this text.
    """
    return _toml.dumps(case)


class Case:
    """A case read and checked by the program's own case reader, ready for simulate().

        aerosol.Case.from_toml(text)     # the text of a case file
        aerosol.Case.from_dict(case)     # its tables as dicts
        aerosol.Case.read(path)          # a case file, or a legacy run folder

    Each raises ValueError with the command line's message when the case is refused (line
    numbers refer to the text, for a dict to case_toml(case)). `source` names where the case
    came from ("<toml>", "<dict>", the path); `toml` is its text as a case file.
    """

    def __init__(self, handle):
        self._handle = handle

    @classmethod
    def from_toml(cls, text, name=TOML_SOURCE):
        if not isinstance(text, str):
            raise TypeError("Case.from_toml: expected the case file's text as a str, not %s"
                            % type(text).__name__)
        return cls(_core().parse_case(text, name))

    @classmethod
    def from_dict(cls, case):
        return cls(_core().parse_case(_toml.dumps(case), DICT_SOURCE))

    @classmethod
    def read(cls, path):
        if not isinstance(path, (str, bytes, os.PathLike)):
            raise TypeError("case: expected a dict, an aerosol.Case, a case file's path or a "
                            "legacy run folder, not %s" % type(path).__name__)
        path = os.fsdecode(path)
        if ("\n" in path or "=" in path) and not os.path.exists(path):
            shown = repr(path[:60]) + ("... (%d characters)" % len(path) if len(path) > 60
                                       else "")
            raise ValueError("case: %s is no file or folder; to run the text of a case file, "
                             "give aerosol.Case.from_toml(text)" % shown)
        return cls(_core().read_case(path))

    @property
    def source(self):
        return self._handle.source

    @property
    def toml(self):
        return self._handle.text

    def __repr__(self):
        return "<aerosol.Case from %s>" % self.source


def _read_case(case):
    if isinstance(case, Case):
        return case._handle
    if isinstance(case, dict):
        return Case.from_dict(case)._handle
    return Case.read(case)._handle


# The keyword arguments of simulate and the case-file keys they replace. Their values are
# checked once, by the case reader of the compiled module, with the case file's limits.
_OPTIONS = {"output_times": ("output", "times"), "spacing": ("output", "spacing"),
            "rtol": ("tolerances", "relative"), "atol": ("tolerances", "absolute"),
            "max_steps": ("tolerances", "max_steps")}


def _apply_options(handle, **given):
    """The case with the keyword arguments given (not None) replacing its own settings."""
    given = {name: value for name, value in given.items() if value is not None}
    if not given:
        return handle
    tables = {}
    for name, value in given.items():
        _toml.value_text(value, name)  # TypeError here names the keyword
        table, key = _OPTIONS[name]
        tables.setdefault(table, {})[key] = value
    keywords = {"%s.%s" % _OPTIONS[name]: name for name in given}
    return _core().with_options(handle, _toml.dumps(tables), keywords)


def _dataset(results):
    """The Dataset of a run's arrays, as xarray opens the NetCDF file of the same run."""
    import xarray

    coords = {}
    data_vars = {}
    for name, dims, attributes, values, coordinate in results["variables"]:
        variable = xarray.Variable(dims, values, attributes)
        (coords if coordinate else data_vars)[name] = variable
    attrs = dict(results["attributes"])
    attrs["run_end"] = results["outcome"]["run_end"]
    return xarray.Dataset(data_vars, coords, attrs)


def simulate(case, *, output_times=None, spacing=None, rtol=None, atol=None, max_steps=None):
    """Runs a simulate case and returns its results as an xarray.Dataset.

    case: a dict with the structure of a TOML case file (tables as dicts, for example
        {"grid": {"nodes": 48}, ...}; NumPy scalars and arrays serve as Python numbers and
        lists), the path of a case file, a legacy run folder (main.inp with coag.inp or
        grow.inp), or an aerosol.Case (aerosol.Case.from_toml(text) for the text of a case
        file). docs/simulate.md describes every key.
    output_times: number of output times, t = 0 and the end included (case: output.times).
    spacing: "linear" or "log" spacing of the output times (output.spacing).
    rtol, atol: the integrator's relative and absolute (#/m3) tolerances
        (tolerances.relative, tolerances.absolute).
    max_steps: internal steps over the whole run before it gives up (tolerances.max_steps).
    A keyword argument replaces the case's setting, within the case file's limits (checked by
    the case reader: ValueError naming the keyword outside them); the Dataset's `case`
    attribute then holds the case as run. The case's output.file is not used: nothing is
    written.

    Returns a Dataset with the dimensions time and node and the variables, units and
    attributes of the NetCDF file `aerosol simulate` writes (docs/simulate.md), run_end
    "complete".

    Raises ValueError with the command line's message when the case is refused (for a dict,
    line numbers refer to case_toml(case)); SimulationError (a RuntimeError) when the
    integrator fails or the results cannot be kept, with the times reached in its `dataset`;
    KeyboardInterrupt on Ctrl-C, also with the times reached in its `dataset` attribute
    (run_end "interrupted at t = ... s", the state reached as its last time). What the
    command line warns of before a run comes as a UserWarning.

    The integration runs without the GIL, so other Python threads go on meanwhile; Ctrl-C is
    seen (within about 20 ms) only when simulate is called from the main thread.
    """
    handle = _apply_options(_read_case(case), output_times=output_times, spacing=spacing,
                            rtol=rtol, atol=atol, max_steps=max_steps)
    # What the command line warns of before a run (a library fit left, particles beyond
    # the grid), as Python warnings.
    for text in _core().case_warnings(handle):
        warnings.warn("aerosol: " + text, stacklevel=2)
    results = _core().run(handle)
    outcome = results["outcome"]
    dataset = _dataset(results) if "variables" in results else None
    exception = results["exception"]
    if exception is not None:
        try:
            exception.dataset = dataset
        except AttributeError:
            pass
        raise exception
    if outcome["end"] != "complete":
        raise SimulationError(outcome["run_end"], dataset)
    return dataset


def read(path):
    """Opens a NetCDF file written by `aerosol simulate` as an xarray.Dataset, loaded into
    memory (the file is closed on return).

    A file cut short (its header counts more output times than it holds) gives the times
    that are whole, with `run_end` saying so; a file that cannot be read (not NetCDF, a
    damaged or cut header) raises ValueError naming it."""
    import xarray

    path = os.fspath(path)
    def unreadable(error):
        reason = (str(error).splitlines() or [type(error).__name__])[0][:120]
        return ValueError("%s: not a readable NetCDF file of aerosol simulate (%s)"
                          % (path, reason))

    try:
        records = _classic.whole_records(path)
    except ValueError as error:
        raise unreadable(error) from None
    try:
        with xarray.open_dataset(path) as dataset:
            if records is None or records[1] == records[0] or "time" not in dataset.dims:
                return dataset.load()
            counted, whole = records
            kept = dataset.isel(time=slice(0, whole)).load()
    except (OSError, ValueError, RuntimeError, KeyError, IndexError) as error:
        raise unreadable(error) from None
    kept.attrs["run_end"] = ("file cut short: %d of its %d output times are whole (its run_end: "
                             "%s)" % (whole, counted, kept.attrs.get("run_end", "?")))
    return kept


def read_legacy(path, process=None):
    """Parses a saved standard output of an input-file process (1 to 4).

    Returns the RunOutput of aerosol.output: `process`, the progress rows in `table`
    (dicts keyed as `columns`), `final`, `listings` or `blocks` as the process prints them,
    and `complete`; `process` is detected from the text unless given. Raises
    aerosol.output.OutputError (a ValueError) when the text is not such an output.
    """
    from . import output

    with open(os.fspath(path), "rb") as f:
        text = f.read()
    return output.parse_output(text, process)
