#!/usr/bin/env python3
"""Prints the Windows-1252 to OEM (437, 850) byte pairs of support/catalog_lines.cpp.

Each Windows-1252 byte 128-255 maps to the OEM byte of the same character
when the OEM code page has it; otherwise to a close ASCII stand-in (listed
below, or the base letter of an accented letter); otherwise to "~".
Bytes that Windows-1252 leaves undefined map to "~".
"""
import unicodedata

# Characters without an OEM equivalent in at least one of the two pages, and
# the stand-in used where the page lacks them.
STAND_INS = {
    "\u20ac": "~",   # euro sign
    "\u201a": ",", "\u201e": '"', "\u2026": ".", "\u2020": "+", "\u2021": "+",
    "\u02c6": "^", "\u2030": "%", "\u2039": "<", "\u203a": ">",
    "\u0152": "O", "\u0153": "o", "\u2018": "'", "\u2019": "'",
    "\u201c": '"', "\u201d": '"', "\u2022": "\u00b7", "\u2013": "-", "\u2014": "-",
    "\u02dc": "~", "\u2122": "~",
    "\u00a4": "~", "\u00a6": "|", "\u00a8": '"', "\u00a9": "c", "\u00ae": "r",
    "\u00af": "-", "\u00b3": "3", "\u00b4": "'", "\u00b8": ",", "\u00b9": "1",
    "\u00be": "~", "\u00d7": "x", "\u00d0": "D", "\u00d8": "O", "\u00de": "~",
    "\u00f0": "d", "\u00f8": "o", "\u00fe": "~", "\u00ad": "-",
}


def oem_byte(ch, page):
    try:
        return ch.encode(page)[0]
    except UnicodeEncodeError:
        return None


def map_byte(b, page):
    try:
        ch = bytes([b]).decode("cp1252")
    except UnicodeDecodeError:
        return ord("~")
    exact = oem_byte(ch, page)
    if exact is not None:
        return exact
    stand_in = STAND_INS.get(ch)
    if stand_in is not None:
        found = oem_byte(stand_in, page)
        return found if found is not None else ord("~")
    base = unicodedata.normalize("NFKD", ch)[0]
    if base.isascii() and base.isalpha():
        return ord(base)
    return ord("~")


for page in ("cp437", "cp850"):
    print(f"// {page}")
    pairs = [(b, map_byte(b, page)) for b in range(128, 256)]
    for i in range(0, len(pairs), 8):
        print("    " + " ".join(f"{{0x{a:02X}, 0x{o:02X}}}," for a, o in pairs[i:i + 8]))
