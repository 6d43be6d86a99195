#!/usr/bin/python3
"""Writes random valid HEX files with outside writers, and what outside
readers make of them, for comparison with our reader.

usage: reference_hex.py OUTDIR COUNT SEED FLASH_SIZE

Half of the files come from python3-intelhex, half from srec_cat. Each
file N.hex gets N.bin, the program-memory image (FLASH_SIZE bytes, 0xFF
where nothing is written) as intelhex reads it back, checked against
srec_cat's reading for the srec_cat files. manifest.txt lists
"N.hex PROGRAM_BYTES" per file.
"""
import io
import os
import random
import subprocess
import sys

from intelhex import IntelHex

# Bytes outside program memory that our reader checks and does not store.
OTHER_AREAS = [(0x200000, 8), (0x300000, 16), (0x3FFFFE, 2), (0xF00000, 256)]


def random_chunks(rng, flash_size):
    """Non-overlapping (address, bytes) chunks with gaps between them."""
    chunks, address = [], rng.randrange(0, 0x400)
    for _ in range(rng.randint(1, 8)):
        length = rng.randint(1, 3000)
        if address + length > flash_size:
            break
        chunks.append((address, rng.randbytes(length)))
        address += length + rng.randint(1, 0x6000)
    return chunks or [(0, b"\x42")]


def shuffle_records(text, rng):
    """Puts the data records out of address order, each after the type 04
    record it needs; keeps other records."""
    upper, data, others = "0000", [], []
    for line in text.splitlines():
        kind = line[7:9]
        if kind == "04":
            upper = line[9:13]
        elif kind == "00":
            data.append((upper, line))
        elif kind != "01":
            others.append(line)
    rng.shuffle(data)
    out, current = others, None
    for upper, line in data:
        if upper != current:
            value = int(upper, 16)
            checksum = (-(2 + 4 + (value >> 8) + (value & 0xFF))) & 0xFF
            out.append(":02000004%s%02X" % (upper, checksum))
            current = upper
        out.append(line)
    out.append(":00000001FF")
    return "\r\n".join(out) + "\r\n"


def write_intelhex(rng, path, chunks):
    ih = IntelHex()
    for address, data in chunks:
        ih.puts(address, data)
    for address, size in rng.sample(OTHER_AREAS, rng.randint(0, 2)):
        ih.puts(address, rng.randbytes(size))
    if rng.random() < 0.5:
        ih.start_addr = {"EIP": rng.randrange(0, 0x10000)}
    text = io.StringIO()
    ih.write_hex_file(text, byte_count=rng.randint(1, 255))
    with open(path, "w", newline="") as out:
        out.write(shuffle_records(text.getvalue(), rng))


def write_srec(rng, path, chunks, work):
    args = ["srec_cat"]
    for index, (address, data) in enumerate(chunks):
        chunk_path = os.path.join(work, "chunk%d.bin" % index)
        with open(chunk_path, "wb") as out:
            out.write(data)
        args += [chunk_path, "-binary", "-offset", str(address)]
    args += ["-o", "-", "-intel", "-obs=%d" % rng.randint(1, 255)]
    text = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    lines = text.splitlines()
    # A start address record before the end record.
    lines.insert(len(lines) - 1, ":04000005000000CD2A")
    with open(path, "w", newline="") as out:
        out.write("\n".join(lines) + "\n")


def program_image(path, flash_size):
    ih = IntelHex(path)
    ih.padding = 0xFF
    image = ih.tobinstr(start=0, size=flash_size)
    used = [a for a in ih.addresses() if a < flash_size]
    return image, (max(used) + 1 if used else 0)


def srec_image(path, flash_size):
    size = "0x%X" % flash_size
    args = ["srec_cat", path, "-intel", "-fill", "0xFF", "0", size, "-crop", "0", size,
            "-o", "-", "-binary"]
    return subprocess.run(args, check=True, capture_output=True).stdout


def main():
    out_dir, count, seed, flash_size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4], 0)
    rng = random.Random(seed)
    manifest = []
    for n in range(count):
        path = os.path.join(out_dir, "%d.hex" % n)
        chunks = random_chunks(rng, flash_size)
        if n % 2 == 0:
            write_intelhex(rng, path, chunks)
        else:
            write_srec(rng, path, chunks, out_dir)
        image, program_bytes = program_image(path, flash_size)
        if n % 2 == 1 and srec_image(path, flash_size) != image:
            sys.exit("intelhex and srec_cat read %s differently" % path)
        with open(os.path.join(out_dir, "%d.bin" % n), "wb") as out:
            out.write(image)
        manifest.append("%d.hex %d" % (n, program_bytes))
    with open(os.path.join(out_dir, "manifest.txt"), "w") as out:
        out.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
