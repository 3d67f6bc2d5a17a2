#!/usr/bin/env python3
"""Draws the tray program's three icons (application, Cat1 mode, USB mode) at 16, 32 and 48
pixels and writes them as .ico files (32-bit BGRA bitmaps with an AND mask)."""
import os
import struct
import sys

SIZES = (16, 32, 48)


def blank(n):
    return [[(0, 0, 0, 0) for _ in range(n)] for _ in range(n)]


def rect(img, x0, y0, x1, y1, color):
    n = len(img)
    for y in range(max(0, int(y0)), min(n, int(y1))):
        for x in range(max(0, int(x0)), min(n, int(x1))):
            img[y][x] = color


def rounded_square(img, color):
    n = len(img)
    r = max(2, n // 6)
    for y in range(n):
        for x in range(n):
            cx = min(max(x, r), n - 1 - r)
            cy = min(max(y, r), n - 1 - r)
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                img[y][x] = color


def card(img):
    """A white identity card with a chip: the application icon."""
    n = len(img)
    rounded_square(img, (40, 90, 200, 255))
    rect(img, n * 0.15, n * 0.28, n * 0.85, n * 0.72, (255, 255, 255, 255))
    rect(img, n * 0.22, n * 0.38, n * 0.42, n * 0.58, (230, 180, 40, 255))
    rect(img, n * 0.5, n * 0.40, n * 0.78, n * 0.46, (120, 120, 120, 255))
    rect(img, n * 0.5, n * 0.52, n * 0.72, n * 0.58, (120, 120, 120, 255))
    return img


def cat1(img):
    """Rising signal bars: the reader's own cellular link."""
    n = len(img)
    rounded_square(img, (30, 150, 70, 255))
    for i in range(4):
        x0 = n * (0.16 + i * 0.18)
        top = n * (0.70 - i * 0.15)
        rect(img, x0, top, x0 + n * 0.13, n * 0.82, (255, 255, 255, 255))
    return img


def usb(img):
    """A plug with a cable: the computer's network over USB."""
    n = len(img)
    rounded_square(img, (220, 110, 20, 255))
    white = (255, 255, 255, 255)
    rect(img, n * 0.30, n * 0.14, n * 0.70, n * 0.44, white)  # plug body
    rect(img, n * 0.38, n * 0.22, n * 0.46, n * 0.30, (220, 110, 20, 255))
    rect(img, n * 0.54, n * 0.22, n * 0.62, n * 0.30, (220, 110, 20, 255))
    rect(img, n * 0.22, n * 0.44, n * 0.78, n * 0.58, white)  # collar
    rect(img, n * 0.44, n * 0.58, n * 0.56, n * 0.88, white)  # cable
    return img


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


def write_ico(path, painter):
    images = [dib(painter(blank(n))) for n in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "icons")
    os.makedirs(folder, exist_ok=True)
    write_ico(os.path.join(folder, "app.ico"), card)
    write_ico(os.path.join(folder, "cat1.ico"), cat1)
    write_ico(os.path.join(folder, "usb.ico"), usb)


if __name__ == "__main__":
    main()
