#!/usr/bin/env python3
"""Draws the program's icon: a folder with two arrows swapping places.

Writes a .ico holding 16x16, 32x32 and 48x48 images as 32-bit BMPs with an
alpha channel and an AND mask. With --preview DIR it also writes each image,
and an enlarged copy of it, as PNG files to look at.

    python3 tools/make-icon.py shell/ModLauncher.ico [--preview /tmp/icon]
"""
import argparse
import os
import struct
import zlib

SIZES = (16, 32, 48)
# Samples per pixel along each axis: the edges are anti-aliased by averaging.
SUPERSAMPLE = 6


def rounded_rect(left, top, right, bottom, radius):
    def inside(x, y):
        if not (left <= x <= right and top <= y <= bottom):
            return False
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2

    return inside


def polygon(*points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def arrow(tail_x, tip_x, centre_y, shaft, head_length, head_half):
    """A horizontal arrow from tail_x to tip_x (either direction)."""
    sign = 1 if tip_x > tail_x else -1
    base_x = tip_x - sign * head_length
    shaft_shape = polygon(
        (tail_x, centre_y - shaft / 2),
        (base_x + sign * 0.01, centre_y - shaft / 2),
        (base_x + sign * 0.01, centre_y + shaft / 2),
        (tail_x, centre_y + shaft / 2),
    )
    head_shape = polygon(
        (base_x, centre_y - head_half), (tip_x, centre_y), (base_x, centre_y + head_half)
    )
    return union(shaft_shape, head_shape)


def grow(shape, amount):
    """The shape widened by `amount` in every direction (for outlines)."""
    offsets = [(dx * amount, dy * amount) for dx in (-1, 0, 1) for dy in (-1, 0, 1)]
    return lambda x, y: any(shape(x + dx, y + dy) for dx, dy in offsets)


# Layers from back to front, in a unit square with y growing downwards.
BACK = union(rounded_rect(0.05, 0.12, 0.46, 0.34, 0.05), rounded_rect(0.05, 0.22, 0.95, 0.88, 0.06))
FRONT = rounded_rect(0.05, 0.32, 0.95, 0.90, 0.06)
RIGHT_ARROW = arrow(0.17, 0.85, 0.495, 0.13, 0.26, 0.145)
LEFT_ARROW = arrow(0.83, 0.15, 0.735, 0.13, 0.26, 0.145)
OUTLINE = 0.035

LAYERS = [
    (grow(BACK, OUTLINE), (120, 72, 8, 255)),
    (BACK, (196, 128, 30, 255)),
    (grow(FRONT, OUTLINE), (120, 72, 8, 255)),
    (FRONT, (248, 198, 84, 255)),
    (grow(RIGHT_ARROW, OUTLINE * 0.8), (255, 250, 235, 255)),
    (RIGHT_ARROW, (28, 64, 150, 255)),
    (grow(LEFT_ARROW, OUTLINE * 0.8), (255, 250, 235, 255)),
    (LEFT_ARROW, (178, 34, 34, 255)),
]


def colour_at(x, y):
    for shape, colour in reversed(LAYERS):
        if shape(x, y):
            return colour
    return (0, 0, 0, 0)


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    cr, cg, cb, ca = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    r += cr * ca
                    g += cg * ca
                    b += cb * ca
                    a += ca
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                # Averaged with alpha as weight, so edges do not darken.
                row.append((round(r / a), round(g / a), round(b / a), round(a / (n * n))))
        rows.append(row)
    return rows


def bmp_image(rows):
    """An icon image: BITMAPINFOHEADER, BGRA pixels and AND mask, bottom-up."""
    size = len(rows)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0
    )
    return header + pixels + bytes(mask)


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    data = b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return directory + entries + data


def png(rows, scale=1):
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body))

    size = len(rows) * scale
    raw = b""
    for row in rows:
        line = b"\0" + b"".join(bytes(pixel) * scale for pixel in row)
        raw += line * scale
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the .ico file to write")
    parser.add_argument("--preview", metavar="DIR", help="also write PNG previews into DIR")
    args = parser.parse_args()

    rendered = [(size, render(size)) for size in SIZES]
    with open(args.output, "wb") as out:
        out.write(ico([(size, bmp_image(rows)) for size, rows in rendered]))
    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
        for size, rows in rendered:
            for scale in (1, 8):
                name = os.path.join(args.preview, f"icon-{size}-x{scale}.png")
                with open(name, "wb") as out:
                    out.write(png(rows, scale))


if __name__ == "__main__":
    main()
