#!/usr/bin/env python3
"""Draws the tray program's three icons (application, Cat1 mode, USB mode) and writes them in
every form the two systems use: .ico (16, 32 and 48 pixels, 32-bit BGRA with an AND mask; the
application icon also at 256 pixels, stored as PNG as Windows expects at that size, for the
shell's large views and the installer) for the Windows resources, PNG at 16, 32 and 48 pixels and
a scalable SVG for Linux desktops and the tray. One drawing per icon feeds all three, so the artwork stays the same everywhere.

Usage: make_icons.py [OUTPUT_FOLDER]   (default: the folder of this script)"""
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48)
LARGE = 256  # the application icon's extra .ico size
SVG_SIZE = 48  # the SVG's coordinate space; it scales to any size


class Raster:
    """Pixels of an n x n icon, RGBA tuples, transparent at first."""

    def __init__(self, n):
        self.n = n
        self.px = [[(0, 0, 0, 0) for _ in range(n)] for _ in range(n)]

    def rect(self, x0, y0, x1, y1, color):
        """A rectangle in fractions of the icon's size."""
        n = self.n
        for y in range(max(0, int(y0 * n)), min(n, int(y1 * n))):
            for x in range(max(0, int(x0 * n)), min(n, int(x1 * n))):
                self.px[y][x] = color

    def rounded_square(self, color):
        n = self.n
        r = max(2, n // 6)
        for y in range(n):
            for x in range(n):
                cx = min(max(x, r), n - 1 - r)
                cy = min(max(y, r), n - 1 - r)
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.px[y][x] = color


class Vector:
    """The same drawing as SVG elements."""

    def __init__(self):
        self.items = []

    @staticmethod
    def fill(color):
        r, g, b, _ = color
        return "#%02x%02x%02x" % (r, g, b)

    def rect(self, x0, y0, x1, y1, color):
        s = SVG_SIZE
        self.items.append('<rect x="%g" y="%g" width="%g" height="%g" fill="%s"/>' %
                          (x0 * s, y0 * s, (x1 - x0) * s, (y1 - y0) * s, self.fill(color)))

    def rounded_square(self, color):
        r = SVG_SIZE // 6
        self.items.append('<rect x="0" y="0" width="%d" height="%d" rx="%d" fill="%s"/>' %
                          (SVG_SIZE, SVG_SIZE, r, self.fill(color)))

    def document(self):
        return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                'viewBox="0 0 %d %d">\n  %s\n</svg>\n' %
                (SVG_SIZE, SVG_SIZE, SVG_SIZE, SVG_SIZE, "\n  ".join(self.items)))


WHITE = (255, 255, 255, 255)


def card(c):
    """A white identity card with a chip: the application icon."""
    c.rounded_square((40, 90, 200, 255))
    c.rect(0.15, 0.28, 0.85, 0.72, WHITE)
    c.rect(0.22, 0.38, 0.42, 0.58, (230, 180, 40, 255))
    c.rect(0.5, 0.40, 0.78, 0.46, (120, 120, 120, 255))
    c.rect(0.5, 0.52, 0.72, 0.58, (120, 120, 120, 255))


def cat1(c):
    """Rising signal bars: the reader's own cellular link."""
    c.rounded_square((30, 150, 70, 255))
    for i in range(4):
        x0 = 0.16 + i * 0.18
        c.rect(x0, 0.70 - i * 0.15, x0 + 0.13, 0.82, WHITE)


def usb(c):
    """A plug with a cable: the computer's network over USB."""
    orange = (220, 110, 20, 255)
    c.rounded_square(orange)
    c.rect(0.30, 0.14, 0.70, 0.44, WHITE)  # plug body
    c.rect(0.38, 0.22, 0.46, 0.30, orange)
    c.rect(0.54, 0.22, 0.62, 0.30, orange)
    c.rect(0.22, 0.44, 0.78, 0.58, WHITE)  # collar
    c.rect(0.44, 0.58, 0.56, 0.88, WHITE)  # cable


def raster(painter, n):
    c = Raster(n)
    painter(c)
    return c.px


def dib(img):
    n = len(img)
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in reversed(range(n)):  # bottom-up rows
        for (r, g, b, a) in img[y]:
            pixels += bytes((b, g, r, a))
    row_bytes = ((n + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(n)):
        bits = bytearray(row_bytes)
        for x in range(n):
            if img[y][x][3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def ico(painter, sizes=SIZES):
    """An .ico; sizes of 256 are stored as PNG, whose directory entry writes 256 as 0."""
    images = [png(raster(painter, n)) if n >= 256 else dib(raster(painter, n)) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def png(img):
    n = len(img)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    rows = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in img)
    header = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def svg(painter):
    c = Vector()
    painter(c)
    return c.document().encode()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for name, painter in (("app", card), ("cat1", cat1), ("usb", usb)):
        sizes = SIZES + (LARGE,) if name == "app" else SIZES
        write(os.path.join(folder, name + ".ico"), ico(painter, sizes))
        write(os.path.join(folder, name + ".svg"), svg(painter))
        for n in SIZES:
            write(os.path.join(folder, "%s-%d.png" % (name, n)), png(raster(painter, n)))


if __name__ == "__main__":
    main()
