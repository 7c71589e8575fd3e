"""A case given as a dict, written as the TOML text of a case file.

Only what case files use: tables (dicts), strings, booleans, integers, floats and arrays
(the temperature table's rows). The text goes through the program's own case reader, so every
check and message is the command line's.
"""

import math
import numbers
import re

_BARE_KEY = re.compile(r"^[A-Za-z0-9_-]+$")


def _key(key, path):
    if not isinstance(key, str):
        raise TypeError("case key %r in %s: expected a string" % (key, path or "the case"))
    if _BARE_KEY.match(key):
        return key
    return _string(key)


def _string(text):
    escaped = []
    for char in text:
        if char == '"':
            escaped.append('\\"')
        elif char == "\\":
            escaped.append("\\\\")
        elif ord(char) < 0x20 or ord(char) == 0x7F:
            escaped.append("\\u%04X" % ord(char))
        else:
            escaped.append(char)
    return '"' + "".join(escaped) + '"'


def _value(value, path):
    # bool before the numbers: True is an int to Python; numpy's bool is neither.
    if isinstance(value, bool) or type(value).__name__ == "bool_":
        return "true" if value else "false"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        value = float(value)
        if math.isnan(value):
            return "nan"  # the reader refuses it with its own message
        if math.isinf(value):
            return "inf" if value > 0 else "-inf"
        return repr(value)
    if isinstance(value, str):
        return _string(value)
    if isinstance(value, (list, tuple)) or type(value).__name__ == "ndarray":
        return "[" + ", ".join(_value(item, "%s[%d]" % (path, i))
                               for i, item in enumerate(value)) + "]"
    if isinstance(value, dict):
        return "{" + ", ".join("%s = %s" % (_key(k, path), _value(v, path + "." + str(k)))
                               for k, v in value.items()) + "}"
    raise TypeError("case value %s = %r: expected a table (dict), string, boolean, number or "
                    "list" % (path, value))


def to_toml(case):
    """The TOML text of a case given as a nested dict (tables as dicts)."""
    if not isinstance(case, dict):
        raise TypeError("a case must be a dict, not %s" % type(case).__name__)
    lines = []

    def table(mapping, keys):
        path = ".".join(keys)
        scalars = [(k, v) for k, v in mapping.items() if not isinstance(v, dict)]
        tables = [(k, v) for k, v in mapping.items() if isinstance(v, dict)]
        for key, value in scalars:
            dotted = (path + "." if path else "") + str(key)
            lines.append("%s = %s" % (_key(key, path), _value(value, dotted)))
        for key, value in tables:
            inner = keys + [key]
            if lines:
                lines.append("")
            lines.append("[%s]" % ".".join(_key(part, path) for part in inner))
            table(value, inner)

    table(case, [])
    return "\n".join(lines) + "\n"
