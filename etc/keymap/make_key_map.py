#!/usr/bin/env python3
"""Writes the sample key map from the driver's set-2 table.

    make_key_map.py SET2_KEYS TEMPLATE OUTPUT [--check]

SET2_KEYS is set2_keys.txt (one key a line: prefix, scan code, Linux key
code, Linux key name, map name). TEMPLATE is the map's header and fixed
lines with a line "@KEYS@" where the key lines go. Every key gets one line
per modifier combination, 16 in all, each sending the key's Linux code.
With --check nothing is written: the exit status is 1 when OUTPUT differs
from what would be written.
"""
import sys

# The flag words of the 16 combinations, in combination order: bit 0
# shift (S), bit 1 ctrl (C), bit 2 alt (F), bit 3 cmd (M).
FLAGS = ["".join(letter for bit, letter in enumerate("SCFM") if combination >> bit & 1) or "-"
         for combination in range(16)]

# The daemon looks the Pause key's E1 sequence up as E0 80; the driver
# lets it land on E0 77.
PAUSE_LANDING = 0x77
PAUSE_SLOT = 0x80

SECTIONS = [
    ("-", lambda code: code < 0x80, "Plain scan codes 00-7F"),
    ("E0", lambda code: True, "Scan codes after the E0 prefix"),
    ("-", lambda code: code >= 0x80, "Plain scan codes 80-FF"),
]


def read_keys(path):
    keys = []
    with open(path, encoding="ascii") as table:
        for number, line in enumerate(table, 1):
            if line.startswith("#") or not line.strip():
                continue
            fields = line.split()
            if len(fields) != 5 or fields[0] not in ("-", "E0"):
                sys.exit(f"{path}:{number}: want: prefix code keycode KEY_NAME name")
            prefix, code, key_code, linux_name, name = fields
            keys.append((prefix, int(code, 16), int(key_code), linux_name, name))
    return keys


def key_block(prefix, code, key_code, linux_name, name, note=""):
    token = f"E0{code:02X}" if prefix == "E0" else f"{code:02X}"
    lines = [f"# {token}  {linux_name} ({key_code}){note}"]
    lines += [f"{token:<6}{name:<18}{flags:<6}0x{key_code:02X}" for flags in FLAGS]
    return lines


def key_lines(keys):
    lines = []
    for wanted_prefix, in_section, title in SECTIONS:
        block = [key_block(*key) for key in keys if key[0] == wanted_prefix and in_section(key[1])]
        if wanted_prefix == "E0":
            block += [key_block("E0", PAUSE_SLOT, *key[2:], note=", its E1 sequence")
                      for key in keys if key[0] == "E0" and key[1] == PAUSE_LANDING]
        lines.append(f"# {title}")
        for lines_of_key in block:
            lines += lines_of_key
        lines.append("#")
    return lines[:-1]


def main(argv):
    if len(argv) not in (4, 5) or (len(argv) == 5 and argv[4] != "--check"):
        sys.exit(__doc__)
    keys = read_keys(argv[1])
    with open(argv[2], encoding="ascii") as template:
        text = template.read()
    text = text.replace("@KEYS@\n", "\n".join(key_lines(keys)) + "\n")
    too_long = [line for line in text.splitlines() if len(line) > 77]
    if too_long:
        sys.exit(f"line longer than 77 characters: {too_long[0]}")
    if len(argv) == 5:
        try:
            with open(argv[3], encoding="ascii") as shipped:
                same = shipped.read() == text
        except OSError:
            same = False
        if not same:
            print(f"{argv[3]} is not what {argv[1]} gives: regenerate it "
                  "(cmake --build <dir> --target update_key_map)")
        return 0 if same else 1
    with open(argv[3], "w", encoding="ascii") as output:
        output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
