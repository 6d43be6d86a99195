#!/usr/bin/env python3
"""Reads each assembled bootloader back with gpdasm and checks, from its
instructions, that it can write nowhere in its own area but the block that
keeps the user's first eight bytes, that it sits where its device template
says and carries the jump words a download must match; and checks each
template against gputils' own description of the part (program and EEPROM
sizes, the UART pins, RAM where the loader keeps its buffer).

Usage: check_bootloaders.py SOURCE_DIR BIN_DIR CHIP..."""
import re
import subprocess
import sys

GPUTILS = "/usr/share/gputils"
TBLPTRH, EECON1 = 0xF7, 0xA6
BUFFER_END = 0x0BF  # the loader's variables and write buffer: 0x000..0x0BF


def template(source, chip):
    model = "PIC" + chip[1:].upper()
    with open(f"{source}/devices/{model}.txt") as text:
        return dict(line.rstrip("\n").split(":", 1) for line in text
                    if ":" in line and not line.startswith("#"))


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


def jump_words(boot):
    """BSF 0xD0,7 / GOTO boot / NOP as bytes, as the download frame carries them."""
    word = boot // 2
    return [0xD0, 0x8E, word & 0xFF, 0xEF, (word >> 8) & 0xFF, 0xF0 | (word >> 16), 0, 0]


def program_bytes(hex_file):
    """address -> byte of an Intel HEX file's data records."""
    data, upper = {}, 0
    for line in open(hex_file):
        count, address, kind = int(line[1:3], 16), int(line[3:7], 16), int(line[7:9], 16)
        payload = bytes.fromhex(line[9:9 + 2 * count])
        if kind == 4:
            upper = int.from_bytes(payload, "big") << 16
        elif kind == 0:
            data.update((upper + address + i, b) for i, b in enumerate(payload))
    return data


def check_part(source, chip, values):
    """The template against gputils' linker script and header of the part."""
    faults = []
    lkr = open(f"{GPUTILS}/lkr/{chip[1:]}_g.lkr").read()
    ends = [int(e, 16) for e in re.findall(r"NAME=(?:page|vectors)\s.*?END=(0x[0-9A-F]+)", lkr, re.I)]
    eeprom = re.search(r"NAME=eedata\s+START=(0x\w+)\s+END=(0x\w+)", lkr, re.I)
    sizes = (max(ends) + 1, int(eeprom.group(2), 16) - int(eeprom.group(1), 16) + 1)
    if (int(values["flash"]), int(values["eeprom"])) != sizes:
        faults.append(f"flash/eeprom {values['flash']}/{values['eeprom']}, gputils says {sizes}")
    header = open(f"{GPUTILS}/header/{chip}.inc").read()
    for pin in values["uart"].split(","):
        if not re.search(rf"^{pin}\s+EQU", header, re.M):
            faults.append(f"uart pin {pin} is no port bit of this part")
    for low, high in re.findall(r"__BADRAM\s+H'([0-9A-F]+)'(?:-H'([0-9A-F]+)')?", header):
        if int(low, 16) <= BUFFER_END:
            faults.append(f"no RAM at {low}-{high or low}, where the loader keeps its buffer")
    return faults


def check(source, bin_dir, chip):
    values = template(source, chip)
    flash, boot = int(values["flash"]), int(values["bootloader"], 16)
    slot = flash - int(values["eraseblock"])
    hex_file = f"{bin_dir}/bootloader-{chip}.hex"
    code = [i for i in instructions(hex_file, chip) if i[0] < flash]
    faults = check_part(source, chip, values)
    outside = [a for a, _, _ in code if 8 <= a < boot]
    if outside:
        faults.append(f"code at 0x{outside[0]:06X}, below its address 0x{boot:06X}")
    if not any(a >= boot for a, _, _ in code):
        faults.append(f"no code at its address 0x{boot:06X}")
    # The jump words at 0..7, and the table it reads them from: the last
    # eight bytes of its code.
    memory = program_bytes(hex_file)
    table = max(a for a in memory if a < slot) - 7
    for where in (0, table):
        if [memory.get(where + i) for i in range(8)] != jump_words(boot):
            faults.append(f"the words at 0x{where:06X} are not the jump to 0x{boot:06X}")
    # The only flash addresses it loads as constants are in the slot block
    # and the jump table (read only).
    pages = {(slot >> 8) & 0xFF, (table >> 8) & 0xFF}
    for (_, m1, o1), (a2, m2, o2) in zip(code, code[1:]):
        if m1 == "movlw" and m2 == "movwf" and o2[0] == TBLPTRH and o1[0] not in pages:
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
