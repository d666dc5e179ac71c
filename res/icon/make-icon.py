#!/usr/bin/env python3
"""Regenerates res/quillon.ico from res/icon/quillon.svg.

The icon holds five uncompressed (BMP-format) images: 16x16 at 4 and 8 bits per pixel, 32x32 at 4
and 8 bits, 48x48 at 8 bits. ImageMagick (Debian package imagemagick) renders the drawing at each
size without anti-aliasing, so the pixels take only the drawing's own flat colours; they are mapped,
without dithering, onto the drawing's colours for 8 bits and onto the 16 colours of the classic
Windows palette for 4 bits. Transparency is cut at half alpha into the icon's mask, and transparent
pixels are black, as an icon's mask needs. Every image lists only the colours it uses in its colour
table (biClrUsed): the drawing has five, black among them, which keeps the stub small. The same
tools give the same file.

Usage: make-icon.py [output.ico]
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "quillon.svg")
IMAGES = [(16, 4), (16, 8), (32, 4), (32, 8), (48, 8)]
CLASSIC_16 = ["#000000", "#800000", "#008000", "#808000", "#000080", "#800080", "#008080", "#c0c0c0",
              "#808080", "#ff0000", "#00ff00", "#ffff00", "#0000ff", "#ff00ff", "#00ffff", "#ffffff"]


def rgb(colour):
    """(r, g, b) of a "#rrggbb" colour."""
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


def drawing_colours():
    """Every "#rrggbb" colour the drawing names, black included."""
    with open(SOURCE) as f:
        return sorted(set(re.findall(r'"(#[0-9a-f]{6})"', f.read().lower())) | {"#000000"})


def convert_raw(size, arguments, channels):
    """Runs ImageMagick on the drawing at size x size; returns its raw pixels, channels per pixel."""
    density = 96 * size // 48  # the drawing is 48 units at 96 dots per inch
    result = subprocess.run(
        ["convert", "-background", "none", "+antialias", "-density", str(density), SOURCE,
         "-resize", f"{size}x{size}!"] + arguments + ["-depth", "8", f"{channels}:-"], check=True, stdout=subprocess.PIPE).stdout
    width = {"rgb": 3, "gray": 1}[channels]
    if len(result) != size * size * width:
        sys.exit(f"unexpected rendering of {size}x{size}")
    return [tuple(result[i:i + width]) for i in range(0, len(result), width)]


def render(size, palette):
    """The drawing at size x size as rows of (r, g, b, a), top row first. Remapping drops the
    alpha channel, so the colours and the alpha come from two runs."""
    colours = convert_raw(size, ["-alpha", "off", "+dither", "-remap", palette], "rgb")
    alpha = convert_raw(size, ["-alpha", "extract"], "gray")
    pixels = [c + (a[0],) for c, a in zip(colours, alpha)]
    return [pixels[row * size:(row + 1) * size] for row in range(size)]


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def icon_image(rows, bits):
    """One icon image: BITMAPINFOHEADER, colour table, XOR bitmap, AND mask (rows bottom up)."""
    size = len(rows)
    opaque = {p[:3] for row in rows for p in row if p[3] >= 128}
    allowed = {rgb(c) for c in (CLASSIC_16 if bits == 4 else drawing_colours())}
    colours = sorted(opaque | {(0, 0, 0)})  # black first: the transparent pixels' index 0
    if not opaque <= allowed or len(colours) > (1 << bits):
        sys.exit(f"{size}x{size} at {bits} bits: colours do not fit the palette")
    index = {c: i for i, c in enumerate(colours)}
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        values = [index[p[:3]] if p[3] >= 128 else 0 for p in row]
        line = bytearray(row_bytes(size * bits))
        for x, v in enumerate(values):
            if bits == 8:
                line[x] = v
            else:
                line[x // 2] |= v << (4 if x % 2 == 0 else 0)
        xor += line
        line = bytearray(row_bytes(size))
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(xor) + len(mask), 0, 0, len(colours), 0)
    return header + table + bytes(xor) + bytes(mask)


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "quillon.ico")
    with tempfile.TemporaryDirectory() as work:
        palettes = {}
        for bits, colours in ((4, CLASSIC_16), (8, drawing_colours())):
            palettes[bits] = os.path.join(work, f"palette{bits}.png")
            subprocess.run(["convert", "-size", "1x1"] + [f"xc:{c}" for c in colours] + ["+append", palettes[bits]],
                           check=True)
        images = []
        for size, bits in IMAGES:
            rows = render(size, palettes[bits])
            images.append((size, bits, icon_image(rows, bits)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    data = b""
    for size, bits, image in images:
        directory += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(image), offset)
        offset += len(image)
        data += image
    with open(output, "wb") as f:
        f.write(directory + data)
    print(f"{output}: {len(directory) + len(data)} bytes")


if __name__ == "__main__":
    main()
