#!/usr/bin/env python3
"""Independent reader of the WAV files our writers produce (stdlib only).

Prints the header fields on the first line:
  tag channels rate byte_rate block_align bits data_size riff_size
then one line per sample (frame after frame, channel after channel) with the sample's IEEE bits
in hexadecimal, so that the caller can compare bit for bit.
"""
import struct
import sys


def main(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit("not a RIFF WAVE file")
    riff_size = struct.unpack_from("<I", data, 4)[0]
    pos = 12
    fmt = None
    samples = None
    while pos + 8 <= len(data):
        chunk_id = data[pos:pos + 4]
        size = struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if chunk_id == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body, 0)
        elif chunk_id == b"data":
            samples = body
            data_size = size
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None:
        sys.exit("fmt or data missing")
    tag, channels, rate, byte_rate, block_align, bits = fmt
    print(tag, channels, rate, byte_rate, block_align, bits, data_size, riff_size)
    width = bits // 8
    code = "<Q" if width == 8 else "<I"
    for at in range(0, len(samples) - width + 1, width):
        print("%x" % struct.unpack_from(code, samples, at)[0])


if __name__ == "__main__":
    main(sys.argv[1])
