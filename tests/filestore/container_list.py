#!/usr/bin/env python3
"""Lists the items of an item container, independently of the C++ reader.

Prints one line per item of the table of contents: ENTRY, ADDRESS, DIM and the SHA-1 of the
DIM bytes at 44 + ADDRESS, separated by single blanks. Exits 1 on a file that is not a container.
"""
import hashlib
import re
import struct
import sys


def main(path):
    with open(path, "rb") as handle:
        data = handle.read()
    if len(data) < 44 or data[:8] != b"Vorlan2 ":
        return 1
    (total,) = struct.unpack_from("<i", data, 40)
    if total < 0 or total > len(data) - 44:
        return 1
    table = data[44 + total:].decode("latin-1")
    for item in re.findall(r"<ITEM>(.*?)</ITEM>", table, re.S):
        fields = dict(
            (name, value.strip()) for name, value in re.findall(r"<(\w+)>([^<]*)</\1>", item)
        )
        address, dim = int(fields["ADDRESS"]), int(fields["DIM"])
        block = data[44 + address:44 + address + dim]
        print(fields["ENTRY"], address, dim, hashlib.sha1(block).hexdigest())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
