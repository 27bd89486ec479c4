#!/usr/bin/env python3
"""Draws the application icon (res/sorvane.ico): a teal rounded square with
a white arrow coming down into a tray, the picture of data coming back into
a folder. 16 to 64 pixel images, 32-bit with alpha, written as plain
BMP-in-ICO so that windres and every Windows version read it."""
import struct
import sys


def pixel(x, y, size):
    # Work in a 48-unit square so that all sizes share one drawing.
    u = (x + 0.5) * 48.0 / size
    v = (y + 0.5) * 48.0 / size
    # Rounded square 2..46 with corner radius 8.
    r = 8.0
    cx = min(max(u, 2 + r), 46 - r)
    cy = min(max(v, 2 + r), 46 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r or not (2 <= u <= 46 and 2 <= v <= 46):
        return (0, 0, 0, 0)
    white = (255, 255, 255, 255)
    # Arrow shaft and head.
    if 20 <= u <= 28 and 8 <= v <= 24:
        return white
    if 24 <= v <= 33 and abs(u - 24) <= (33 - v) * 1.1:
        return white
    # Tray: bottom bar and two short walls.
    if 35 <= v <= 39 and 10 <= u <= 38:
        return white
    if 28 <= v <= 39 and (10 <= u <= 14 or 34 <= u <= 38):
        return white
    # Teal with a light top-to-bottom gradient.
    shade = int(20 * v / 48)
    return (0x1c + shade, 0x8c - shade, 0x9c - shade, 255)


def image(size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + b''.join(rows) + bytes(mask)


def main(path):
    # The sizes Windows asks for at 100 % to 200 %: small icons 16-32, big
    # ones 32-64, so that no scale reads a bitmap of another size.
    sizes = [16, 20, 24, 32, 40, 48, 64]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'res/sorvane.ico')
