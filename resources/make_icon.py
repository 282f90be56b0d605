#!/usr/bin/env python3
"""Draws the program's icon (a clipboard on a blue tile) at 16 and 32 pixels into orvane.ico."""
import struct
import sys


def pixel(x, y, size):
    """RGBA of one pixel, drawn on a 32-unit grid scaled to size."""
    u, v = (x + 0.5) * 32 / size, (y + 0.5) * 32 / size
    # Blue tile with rounded corners.
    r = 6
    cx, cy = min(max(u, r), 32 - r), min(max(v, r), 32 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    colour = (43, 108, 176, 255)
    if 8 <= u < 24 and 7 <= v < 28:          # the clipboard's sheet
        colour = (255, 255, 255, 255)
        if 12 <= u < 20 and 5 <= v < 10:     # its clip
            colour = (255, 196, 0, 255)
        elif 11 <= u < 21 and 13 <= v < 26 and int(v) % 4 < 2:
            colour = (43, 108, 176, 255)     # lines of text
    elif 12 <= u < 20 and 5 <= v < 10:
        colour = (255, 196, 0, 255)
    return colour


def image(size):
    rows = []
    for y in reversed(range(size)):          # bottom-up, as DIBs are stored
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            rows.append(struct.pack('BBBB', b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b''.join(rows) + b'\0' * (mask_row * size)


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'orvane.ico')
