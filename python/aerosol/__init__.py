"""aerosol: the nodal aerosol model from Python.

    import aerosol
    ds = aerosol.simulate({"mechanisms": {...}, "material": {...}, ...})
    ds = aerosol.simulate("examples/simulate/nucleation-growth-100.toml", output_times=51)
    ds = aerosol.read("run.nc")               # a file written by `aerosol simulate`
    run = aerosol.read_legacy("out.txt")      # a saved standard output of a process

`simulate` runs the same code as `aerosol simulate` and returns an xarray.Dataset with the
variables, dimensions, units and attributes of the NetCDF file that the command writes.
See docs/python.md.
"""

import os
import numbers

from . import _toml

__all__ = ["simulate", "read", "read_legacy", "case_toml", "SimulationError", "__version__"]


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

# Where a dict case comes from, in messages and in the case_source attribute.
DICT_SOURCE = "<dict>"


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


def _read_case(case):
    if isinstance(case, dict):
        return _core().parse_case(_toml.dumps(case), DICT_SOURCE)
    if isinstance(case, (str, os.PathLike)):
        return _core().read_case(os.fspath(case))
    raise TypeError("case: expected a dict, a case file's path or a legacy run folder, not %s"
                    % type(case).__name__)


def _check(name, value, accept, expected):
    if not accept(value):
        raise ValueError("%s = %r: expected %s" % (name, value, expected))
    return value


def _is_whole(value):
    return isinstance(value, numbers.Integral) and not isinstance(value, bool)


def _is_real(value):
    return isinstance(value, numbers.Real) and not isinstance(value, bool)


def _apply_options(handle, output_times, spacing, rtol, atol, max_steps):
    """The keyword arguments replace the case's own settings, within the case file's limits."""
    if output_times is None and spacing is None and rtol is None and atol is None \
            and max_steps is None:
        return
    if output_times is not None:
        _check("output_times", output_times, lambda v: _is_whole(v) and 2 <= v <= 1000000,
               "a whole number of output times from 2 to 1000000 (the start and the end "
               "included)")
    if spacing is not None:
        _check("spacing", spacing, lambda v: v in ("linear", "log"), '"linear" or "log"')
    if rtol is not None:
        _check("rtol", rtol, lambda v: _is_real(v) and 0.0 < v < 1.0,
               "a relative tolerance above 0 and below 1")
    if atol is not None:
        _check("atol", atol, lambda v: _is_real(v) and 0.0 < v < float("inf"),
               "an absolute tolerance above 0 (#/m3)")
    if max_steps is not None:
        _check("max_steps", max_steps, lambda v: _is_whole(v) and 1 <= v <= 10**12,
               "a whole number of steps from 1 to 1e12")
    handle.set_output(
        handle.output_times if output_times is None else int(output_times),
        handle.log_spacing if spacing is None else spacing == "log")
    handle.set_tolerances(
        handle.rtol if rtol is None else float(rtol),
        handle.atol if atol is None else float(atol),
        handle.max_steps if max_steps is None else int(max_steps))
    # The case attribute then describes the run that was made.
    handle.restate()


def _dataset(results):
    """The Dataset of a run's arrays, as xarray opens the NetCDF file of the same run."""
    import xarray

    coords = {}
    data_vars = {}
    for name, dims, units, long_name, values in results["variables"]:
        variable = xarray.Variable(dims, values, {"units": units, "long_name": long_name})
        (coords if name in dims else data_vars)[name] = variable
    attrs = dict(results["attributes"])
    attrs["run_end"] = results["outcome"]["run_end"]
    return xarray.Dataset(data_vars, coords, attrs)


def simulate(case, *, output_times=None, spacing=None, rtol=None, atol=None, max_steps=None):
    """Runs a simulate case and returns its results as an xarray.Dataset.

    case: a dict with the structure of a TOML case file (tables as dicts, for example
        {"grid": {"nodes": 48}, ...}), the path of a case file, or a legacy run folder
        (main.inp with coag.inp or grow.inp). docs/simulate.md describes every key.
    output_times: number of output times, t = 0 and the end included (case: output.times).
    spacing: "linear" or "log" spacing of the output times (output.spacing).
    rtol, atol: the integrator's relative and absolute (#/m3) tolerances
        (tolerances.relative, tolerances.absolute).
    max_steps: internal steps over the whole run before it gives up (tolerances.max_steps).
    A keyword argument replaces the case's setting; the Dataset's `case` attribute then holds
    the case as run. The case's output.file is not used: nothing is written.

    Returns a Dataset with the dimensions time and node and the variables, units and
    attributes of the NetCDF file `aerosol simulate` writes (docs/simulate.md), run_end
    "complete".

    Raises ValueError with the command line's message when the case is refused (for a dict,
    line numbers refer to case_toml(case)); SimulationError (a RuntimeError) when the
    integrator fails or the results cannot be kept, with the times reached in its `dataset`;
    KeyboardInterrupt on Ctrl-C, also with the times reached in its `dataset` attribute
    (run_end "interrupted at t = ... s").

    The integration runs without the GIL, so other Python threads go on meanwhile; Ctrl-C is
    seen (within about 20 ms) only when simulate is called from the main thread.
    """
    handle = _read_case(case)
    _apply_options(handle, output_times, spacing, rtol, atol, max_steps)
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
    memory (the file is closed on return)."""
    import xarray

    with xarray.open_dataset(os.fspath(path)) as dataset:
        return dataset.load()


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
