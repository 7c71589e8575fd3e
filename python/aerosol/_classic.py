"""How many records of a netCDF classic file (CDF-1, or CDF-2 with 64-bit offsets, as
`aerosol simulate` writes) are on disk whole. The header counts the records; a file cut short
(a copy stopped part way, a full disk outside the program) holds fewer, and the netCDF
library reads the missing ones as zeros. The header is the netCDF classic format's: magic,
record count, dimensions, global attributes, variables (each with its size per record and its
offset)."""

import os
import struct

_ABSENT = 0
_DIMENSION = 0x0A
_VARIABLE = 0x0B
_ATTRIBUTE = 0x0C
# Bytes per value of the classic types: byte, char, short, int, float, double.
_TYPE_SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 4, 6: 8}


class _Header:
    def __init__(self, data, offset_size):
        self.data = data
        self.at = 0
        self.offset_size = offset_size

    def take(self, count):
        if self.at + count > len(self.data):
            raise ValueError("the header ends early")
        chunk = self.data[self.at:self.at + count]
        self.at += count
        return chunk

    def uint(self):
        return struct.unpack(">I", self.take(4))[0]

    def offset(self):
        return struct.unpack(">Q" if self.offset_size == 8 else ">I",
                             self.take(self.offset_size))[0]

    def padded(self, count):
        self.take((count + 3) // 4 * 4)

    def name(self):
        self.padded(self.uint())

    def list_of(self, tag):
        found, count = self.uint(), self.uint()
        if found == _ABSENT and count == 0:
            return 0
        if found != tag:
            raise ValueError("unexpected header tag %#x" % found)
        return count

    def attributes(self):
        for _ in range(self.list_of(_ATTRIBUTE)):
            self.name()
            kind = self.uint()
            if kind not in _TYPE_SIZES:
                raise ValueError("unknown attribute type %d" % kind)
            self.padded(self.uint() * _TYPE_SIZES[kind])


def whole_records(path):
    """(records the header counts, records whole on disk), or None for a file that is not in
    the classic format (NetCDF-4 and CDF-5 files are left to the netCDF library). Raises
    ValueError for a classic file whose header is damaged or cut."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(min(size, 1 << 22))
    if head[:3] != b"CDF" or len(head) < 4 or head[3] not in (1, 2):
        return None
    header = _Header(head, 8 if head[3] == 2 else 4)
    header.take(4)
    counted = header.uint()
    lengths = []
    for _ in range(header.list_of(_DIMENSION)):
        header.name()
        lengths.append(header.uint())
    header.attributes()
    record_size = 0
    record_begin = None
    for _ in range(header.list_of(_VARIABLE)):
        header.name()
        dims = [header.uint() for _ in range(header.uint())]
        header.attributes()
        header.uint()  # type
        var_size = header.uint()
        begin = header.offset()
        if any(d >= len(lengths) for d in dims):
            raise ValueError("a variable names a dimension that does not exist")
        if dims and lengths[dims[0]] == 0:  # the record dimension
            record_size += var_size
            record_begin = begin if record_begin is None else min(record_begin, begin)
    if record_begin is None or record_size == 0:
        return counted, counted
    on_disk = max(0, (size - record_begin) // record_size)
    if counted == 0xFFFFFFFF:  # streaming: the count was never written
        return on_disk, on_disk
    return counted, min(counted, on_disk)
