#!/usr/bin/env python3
"""Draws the application icon: a two-line customer display on its pole.

The picture is described on a 16 x 16 grid, so the 16-pixel icon is pixel-exact and
every larger size (a multiple of 16) is the same picture scaled, with anti-aliased
rounded corners. Writes vyx-utility-<size>.png (RGBA, 32 bits per pixel) next to
this script, and vyx-utility.ico, the Windows icon resource (16, 32 and 48 pixels). Only the standard library is used, so the output is reproducible.

    resources/icons/make-icons.py
"""
import os
import struct
import zlib

SIZES = (16, 32, 48, 64, 128, 256)

# (x0, y0, x1, y1, corner radius, RGBA), on the 16-unit grid, painted in order.
SHAPES = [
    (4, 13, 12, 15, 0.5, (0x3B, 0x42, 0x52, 0xFF)),  # foot
    (7, 10, 9, 13, 0.0, (0x4C, 0x56, 0x6A, 0xFF)),  # pole
    (0, 2, 16, 11, 1.0, (0x2E, 0x34, 0x40, 0xFF)),  # casing
    (0.5, 2.5, 15.5, 3, 0.0, (0x4C, 0x56, 0x6A, 0xFF)),  # light on the top edge
    (1, 4, 15, 9, 0.25, (0x06, 0x26, 0x1C, 0xFF)),  # screen
]
GLYPH = (0x7C, 0xF5, 0xB5, 0xFF)
# Characters on the two lines: x of each 2-unit-wide character.
LINE1 = (2, 5, 8, 11)
LINE2 = (2, 5, 11)
for x in LINE1:
    SHAPES.append((x, 5, x + 2, 6, 0.0, GLYPH))
for x in LINE2:
    SHAPES.append((x, 7, x + 2, 8, 0.0, GLYPH))


def inside(shape, px, py):
    x0, y0, x1, y1, r, _ = shape
    if not (x0 <= px < x1 and y0 <= py < y1):
        return False
    if r <= 0:
        return True
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def render(size):
    scale = size / 16.0
    samples = 4
    pixels = bytearray()
    for y in range(size):
        pixels.append(0)  # PNG filter type: none
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(samples):
                for sx in range(samples):
                    gx = (x + (sx + 0.5) / samples) / scale
                    gy = (y + (sy + 0.5) / samples) / scale
                    colour = (0, 0, 0, 0)
                    for shape in SHAPES:
                        if inside(shape, gx, gy):
                            colour = shape[5]
                    a = colour[3] / 255.0
                    acc[0] += colour[0] * a
                    acc[1] += colour[1] * a
                    acc[2] += colour[2] * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [round(acc[i] / n / alpha) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            pixels.extend(bytes(rgb + [round(alpha * 255)]))
    return bytes(pixels)


def png(size, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


ICO_SIZES = (16, 32, 48)


def dib(size, raw):
    """One icon image as Windows stores it: a BITMAPINFOHEADER of twice the height
    (colour rows, then the mask), BGRA rows bottom-up, then the 1-bit AND mask, whose
    rows are padded to 32 bits. The mask is all zero: the alpha channel decides."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        row = raw[y * size * 4:(y + 1) * size * 4]
        rows.append(b"".join(bytes((row[i + 2], row[i + 1], row[i], row[i + 3]))
                             for i in range(0, len(row), 4)))
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * size)


def ico(images):
    """An .ico file: ICONDIR, one ICONDIRENTRY per image, then the images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for size in SIZES:
        path = os.path.join(here, "vyx-utility-%d.png" % size)
        with open(path, "wb") as out:
            out.write(png(size, render(size)))
    with open(os.path.join(here, "vyx-utility.ico"), "wb") as out:
        out.write(ico([(size, dib(size, render(size))) for size in ICO_SIZES]))


if __name__ == "__main__":
    main()
