#!/usr/bin/env python3
"""Prints the upper halves (bytes 0x80-0xFF) of the single-byte code pages of
platform/simulated/codepage.cpp as UTF-16 values.

Bytes 0x00-0x7F are ASCII in every one of them. The five bytes Windows-1252
leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of
the same value, as the Windows conversion does.
"""

for page in ("cp1252", "cp437", "cp850"):
    print(f"// {page[2:]}")
    values = []
    for b in range(0x80, 0x100):
        try:
            values.append(ord(bytes([b]).decode(page)))
        except UnicodeDecodeError:
            values.append(b)
    for i in range(0, len(values), 8):
        print("    " + " ".join(f"0x{v:04X}," for v in values[i:i + 8]))
