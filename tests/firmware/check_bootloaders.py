#!/usr/bin/env python3
"""Reads each assembled bootloader back with gpdasm and checks, from its
instructions, that it can write nowhere in its own area but the block that
keeps the user's first eight bytes, and that it sits where its device
template says.

Usage: check_bootloaders.py SOURCE_DIR BIN_DIR CHIP..."""
import re
import subprocess
import sys

ERASE_BLOCK = 64
TBLPTRH, TBLPTRL, EECON1 = 0xF7, 0xF6, 0xA6


def template_value(source, chip, key):
    model = "PIC" + chip[1:].upper()
    with open(f"{source}/devices/{model}.txt") as text:
        for line in text:
            if line.startswith(key + ":"):
                return line[len(key) + 1:].strip()
    raise SystemExit(f"{model}.txt has no {key}: line")


def instructions(hex_file, chip):
    """(address, mnemonic, operands) for every instruction gpdasm shows."""
    listing = subprocess.run(["gpdasm", "-p", chip, hex_file], check=True,
                             capture_output=True, text=True).stdout
    found = []
    for line in listing.splitlines():
        match = re.match(r"^([0-9a-f]{6}):\s+[0-9a-f]{4}\s+(\w+)\s*(.*)$", line)
        if match:
            operands = [int(v, 16) for v in re.findall(r"0x[0-9a-f]+", match.group(3))]
            found.append((int(match.group(1), 16), match.group(2), operands))
    return found


def check(source, bin_dir, chip):
    flash = int(template_value(source, chip, "flash"))
    boot = int(template_value(source, chip, "bootloader"), 16)
    slot = flash - ERASE_BLOCK
    code = [i for i in instructions(f"{bin_dir}/bootloader-{chip}.hex", chip) if i[0] < flash]
    faults = []
    outside = [a for a, _, _ in code if 8 <= a < boot]
    if outside:
        faults.append(f"code at 0x{outside[0]:06X}, below its address 0x{boot:06X}")
    if not any(a >= boot for a, _, _ in code):
        faults.append(f"no code at its address 0x{boot:06X}")
    # The only flash address it loads as a constant is in the slot block.
    for (_, m1, o1), (a2, m2, o2) in zip(code, code[1:]):
        if m1 == "movlw" and m2 == "movwf" and o2[0] == TBLPTRH and o1[0] != (slot >> 8) & 0xFF:
            faults.append(f"0x{a2:06X} points the table at 0x{o1[0]:02X}xx, outside its slot block")
    # Every other write goes where the received address says, and only past
    # the comparison of that address with its own: high byte of BOOT_ADDR,
    # subtracted with borrow.
    guarded = any(m1 == "movlw" and o1[0] == (boot >> 8) and m2 == "subwfb"
                  for (_, m1, o1), (_, m2, _) in zip(code, code[1:]))
    if not guarded:
        faults.append(f"no comparison of the address with 0x{boot:06X}")
    triggers = [a for a, m, o in code if m == "bsf" and o[:2] == [EECON1, 1]]
    if len(triggers) != 1:
        faults.append(f"{len(triggers)} places start a flash operation, not one")
    return faults


def main():
    source, bin_dir, chips = sys.argv[1], sys.argv[2], sys.argv[3:]
    failed = False
    for chip in chips:
        for fault in check(source, bin_dir, chip):
            print(f"{chip}: {fault}")
            failed = True
    print("FAILED" if failed else f"checked {len(chips)} bootloaders")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
