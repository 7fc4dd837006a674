#!/usr/bin/env python3
"""Draws the program's tray and window icon (resource 124) and writes it as a
Windows .ico file with a 16x16 and a 32x32 image, both 32-bit with alpha.

The picture is a padlock: a grey shackle over a teal body with a white keyhole.
Run from anywhere:  python3 resources/MakeIcon.py [output.ico]
"""
import os
import struct
import sys

TEAL = (0x00, 0x80, 0x80, 0xFF)
TEAL_DARK = (0x00, 0x4C, 0x4C, 0xFF)
STEEL = (0x9A, 0xA4, 0xAE, 0xFF)
STEEL_DARK = (0x5A, 0x62, 0x6A, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF, 0xFF)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Returns size*size RGBA tuples, row 0 at the top."""
    s = size / 32.0
    pixels = [[CLEAR] * size for _ in range(size)]

    def inside_rect(x, y, x0, y0, x1, y1):
        return x0 <= x < x1 and y0 <= y < y1

    for py in range(size):
        for px in range(size):
            # Sample at the pixel centre in 32x32 design units.
            x = (px + 0.5) / s
            y = (py + 0.5) / s
            colour = CLEAR
            # Shackle: a ring of outer radius 9 and inner radius 5.5 around (16, 13),
            # upper half only, plus its two legs down to the body.
            dx, dy = x - 16.0, y - 13.0
            r2 = dx * dx + dy * dy
            if y <= 13.0 and 5.5 * 5.5 <= r2 <= 9.0 * 9.0:
                colour = STEEL if r2 <= 8.0 * 8.0 else STEEL_DARK
            if 13.0 < y < 16.0 and (7.0 <= x < 10.5 or 21.5 <= x < 25.0):
                colour = STEEL
            # Body with a one-unit darker rim.
            if inside_rect(x, y, 4.0, 15.0, 28.0, 30.0):
                rim = not inside_rect(x, y, 5.0, 16.0, 27.0, 29.0)
                colour = TEAL_DARK if rim else TEAL
                # Keyhole: a round head and a narrowing slot.
                kx, ky = x - 16.0, y - 20.5
                if kx * kx + ky * ky <= 2.6 * 2.6:
                    colour = WHITE
                if 20.5 <= y < 26.5 and abs(kx) <= 1.2 + (y - 20.5) * 0.12:
                    colour = WHITE
            pixels[py][px] = colour
    return pixels


def icon_image(size):
    """BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask."""
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "QuenvarUI.ico")
    sizes = (16, 32)
    images = [icon_image(n) for n in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
