#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_pe_headers: images and near-images around every boundary."""
import os
import struct
import sys


def image(size, lfanew=0x80, signature=b"PE\0\0", magic=b"MZ"):
    b = bytearray(size)
    b[0:len(magic[:size])] = magic[:size]
    if size >= 64:
        b[60:64] = struct.pack("<i", lfanew)
    if 0 <= lfanew and lfanew + 4 <= size:
        b[lfanew:lfanew + 4] = signature
    return bytes(b)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {
        "pe-313": image(313),
        "pe-312": image(312),
        "half": image(400, 200),
        "half-plus-one": image(400, 201),
        "negative": image(1024, -4),
        "dos-program": image(1024, 0x40, b"\x0e\x1f\xba\x0e"),
        "pe-other": image(1024, 0x80, b"PE\0\1"),
        "zm": image(1024, magic=b"ZM"),
        "tiny": b"MZ",
        "lfanew-end": image(4096, 2048),
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


main()
