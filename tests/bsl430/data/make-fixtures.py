#!/usr/bin/env python3
"""Writes the small TI-TXT images the BSL library tests use when the package is not built.
Deterministic: running it again gives the same files."""
import random

rng = random.Random(430)


def ti_txt(sections, lower=False, crlf=True, final_newline=True):
    nl = "\r\n" if crlf else "\n"
    lines = []
    for addr, data in sections:
        lines.append("@%04X" % addr)
        for i in range(0, len(data), 16):
            row = " ".join(("%02x" if lower else "%02X") % b for b in data[i:i + 16])
            lines.append(row)
    lines.append("q")
    return nl.join(lines) + (nl if final_newline else "")


def data(n):
    return bytes(rng.randrange(256) for _ in range(n))


password = bytes(range(0x40, 0x60))
with open("Pass", "w", newline="") as f:
    f.write(ti_txt([(0xFFE0, password)]))

ram_bsl = bytes([0x00, 0x07, 0x08, 0x38]) + data(700)
with open("RAM_BSL", "w", newline="") as f:
    f.write(ti_txt([(0x2500, ram_bsl)]))

with open("ForcedBOR", "w", newline="") as f:
    f.write("@0120\r\n04 A5 \r\nq")

# Runs that start inside a segment and cross segment boundaries, a run at an odd address,
# two runs that continue each other, data above 64 KB and the vector area.
image = [
    (0x8000, data(1000)),
    (0x8501, data(700)),
    (0x9000, data(16)),
    (0x9010, data(40)),
    (0xC1F0, data(600)),
    (0x10000, data(300)),
    (0xFF80, data(128)),
]
with open("BinVorel", "w", newline="") as f:
    f.write(ti_txt(image, lower=True, crlf=True, final_newline=False))
