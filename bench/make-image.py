#!/usr/bin/env python3
"""Writes SIZE random program bytes from address 0 as Intel HEX, 16 bytes a
record, from a fixed seed, so that every run of a benchmark sends the same.
With --runs, the image is a program a chip can run: a GOTO 0x000008 at
the reset vector and a branch to itself there, random bytes after it.
   make-image.py OUT.hex SIZE SEED [--runs]"""
import random
import sys

out_path, size, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = random.Random(seed).randbytes(size)
if "--runs" in sys.argv[4:]:
    data = bytes([0x04, 0xEF, 0x00, 0xF0, 0, 0, 0, 0, 0xFF, 0xD7]) + data[10:]
with open(out_path, "w") as out:
    for at in range(0, len(data), 16):
        chunk = data[at:at + 16]
        record = [len(chunk), (at >> 8) & 0xFF, at & 0xFF, 0, *chunk]
        record.append(-sum(record) & 0xFF)
        out.write(":" + "".join("%02X" % b for b in record) + "\n")
    out.write(":00000001FF\n")
