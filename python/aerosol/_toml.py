"""The package's one TOML writer: a case (nested dicts) as the text of a case file.

Used for a case given to `simulate` as a dict (`aerosol.case_toml`) and for each run of a
case-file sweep. Only what case files use: tables (dicts), strings, booleans, integers,
floats and arrays (lists, tuples, NumPy arrays; of numbers, of arrays, of inline tables).
NumPy scalars are written as the Python numbers they stand for; a NumPy float that holds a
whole number (np.float64(20), as arrays of counts often are) is written as that integer, so
that it serves where a whole number is expected. A Python float keeps its decimal point.

The text goes through the program's own case reader, so the checks and messages about the
values are the command line's: this writer checks only that a value can be written at all
(TypeError otherwise), that an integer fits TOML's 64 bits and that the nesting stays within
MAX_DEPTH (ValueError otherwise).
"""

import math
import numbers
import re

BARE_KEY = re.compile(r"[A-Za-z0-9_-]+")
# Case files nest three deep at most (initial.particles, rows of the temperature table); far
# deeper nesting, or a dict that holds itself, is refused before Python's recursion limit.
MAX_DEPTH = 32
# Integers a double holds exactly: a whole NumPy float within them is written as an integer.
_EXACT = 2.0 ** 53


def _string(text):
    out = ['"']
    for ch in text:
        code = ord(ch)
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif code < 0x20 or code == 0x7F:
            out.append("\\u%04X" % code)
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def _key(key, path):
    if not isinstance(key, str):
        raise TypeError("case key %r in %s: expected a string" % (key, path or "the case"))
    return key if BARE_KEY.fullmatch(key) else _string(key)


def _too_deep(path):
    return ValueError("case: %s is nested more than %d levels deep (a case file nests three "
                      "at most)" % (path or "the case", MAX_DEPTH))


def _float(value):
    if math.isnan(value):
        return "nan"  # the case reader refuses it with its own message
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return repr(value)


def value_text(value, path="", depth=0):
    """A value in TOML. Floats use repr, the shortest text that reads back to the same
    double; a whole Python float keeps its ".0" so that it stays a float."""
    if depth > MAX_DEPTH:
        raise _too_deep(path)
    kind = type(value)
    numpy = kind.__module__ == "numpy"
    # bool before the numbers: True is an int to Python; NumPy's bool_ is neither.
    if isinstance(value, bool) or (numpy and kind.__name__ == "bool_"):
        return "true" if value else "false"
    if isinstance(value, numbers.Integral):
        if not -2 ** 63 <= int(value) < 2 ** 63:
            raise ValueError("case value %s = %d: beyond the 64-bit integers of a case file"
                             % (path or "?", int(value)))
        return str(int(value))
    if isinstance(value, numbers.Real):
        number = float(value)
        if numpy and kind is not float and number.is_integer() and abs(number) <= _EXACT:
            return str(int(number))
        return _float(number)
    if isinstance(value, str):
        return _string(value)
    if numpy and kind.__name__ == "ndarray" and value.ndim == 0:
        return value_text(value.item(), path, depth)
    if isinstance(value, (list, tuple)) or (numpy and kind.__name__ == "ndarray"):
        return "[" + ", ".join(value_text(item, "%s[%d]" % (path, i), depth + 1)
                               for i, item in enumerate(value)) + "]"
    if isinstance(value, dict):
        return "{" + ", ".join("%s = %s" % (_key(k, path), value_text(v, _join(path, k),
                                                                       depth + 1))
                               for k, v in value.items()) + "}"
    raise TypeError("case value %s = %r: expected a table (dict), string, boolean, number or "
                    "list" % (path or "?", value))


def _join(path, key):
    return "%s.%s" % (path, key) if path else str(key)


def dumps(case, header=""):
    """The case as TOML text: each table's plain values first, then its tables under their
    headers. `header` becomes comment lines at the top."""
    if not isinstance(case, dict):
        raise TypeError("a case must be a dict, not %s" % type(case).__name__)
    lines = ["# %s" % line if line else "#" for line in header.splitlines()]

    def table(node, keys, path, depth):
        if depth > MAX_DEPTH:
            raise _too_deep(path)
        plain = [(k, v) for k, v in node.items() if not isinstance(v, dict)]
        tables = [(k, v) for k, v in node.items() if isinstance(v, dict)]
        if keys and (plain or not tables):
            if lines:
                lines.append("")
            lines.append("[%s]" % ".".join(_key(k, path) for k in keys))
        for key, value in plain:
            lines.append("%s = %s" % (_key(key, path), value_text(value, _join(path, key),
                                                                  depth)))
        for key, value in tables:
            table(value, keys + [key], _join(path, key), depth + 1)

    table(case, [], "", 0)
    return "\n".join(lines) + "\n"
