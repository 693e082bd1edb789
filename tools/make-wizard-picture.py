#!/usr/bin/env python3
"""Writes the wizard's list-page picture: a 48 x 48 24-bit bitmap of a parcel on a tinted
ground, drawn here so that the program carries a picture of its own."""
import struct
import sys

SIZE = 48


def pixel(x, y):
    # Ground: a soft blue that lightens towards the top.
    ground = (235 - y, 215 - y // 2, 170 - y // 3)
    inside = 10 <= x < 38 and 14 <= y < 40
    if not inside:
        return ground
    edge = x in (10, 37) or y in (14, 39)
    tape = 22 <= x < 26 or 25 <= y < 29
    if edge:
        return (40, 70, 120)
    if tape:
        return (60, 90, 200)
    return (110, 170, 215)


def main(path):
    row_bytes = (SIZE * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in range(SIZE - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(SIZE):
            b, g, r = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as out:
        out.write(header + info + pixels)


if __name__ == "__main__":
    main(sys.argv[1])
