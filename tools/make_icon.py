#!/usr/bin/env python3
"""Writes app/res/Brannoch.ico: 48, 32, 24 and 16 pixels at 4, 8 and 32 bits
per pixel (12 images). Deterministic: the same bytes on every run."""
import math
import struct
import sys

SIZES = [48, 32, 24, 16]
DEPTHS = [4, 8, 32]

# A blue disc with a white sweeping stroke (a broom's path), on transparency.
def pixel(x, y, n):
    cx = cy = (n - 1) / 2.0
    r = n * 0.46
    d = math.hypot(x - cx, y - cy)
    if d > r:
        return None
    u, v = (x + 0.5) / n, (y + 0.5) / n
    if abs((u - 0.25) - (0.78 - v)) < 0.13 and 0.18 < u < 0.82:
        return (255, 255, 255)
    if d > r - max(1.0, n / 16.0):
        return (16, 48, 120)
    return (30, 100, 200)

PALETTE16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
             (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
             (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
PALETTE256 = PALETTE16 + [((i * 37) % 256, (i * 91) % 256, (i * 53) % 256) for i in range(16, 253)] + \
    [(30, 100, 200), (16, 48, 120), (255, 255, 255)]

def nearest(pal, rgb):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], rgb)))

def row_bytes(bits, n):
    return ((bits * n + 31) // 32) * 4

def image(n, bpp):
    pal = PALETTE16 if bpp == 4 else PALETTE256 if bpp == 8 else []
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, bpp, 0, 0, 0, 0, len(pal), 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in pal)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(n)):  # bottom-up
        px = [pixel(x, y, n) for x in range(n)]
        if bpp == 32:
            row = b''.join(struct.pack('<BBBB', p[2], p[1], p[0], 255) if p else b'\0\0\0\0' for p in px)
        else:
            idx = [nearest(pal, p) if p else 0 for p in px]
            if bpp == 8:
                row = bytes(idx)
            else:
                row = bytes((idx[i] << 4) | (idx[i + 1] if i + 1 < n else 0) for i in range(0, n, 2))
        xor += row + b'\0' * (row_bytes(bpp, n) - len(row))
        bits = 0
        mrow = bytearray()
        for x in range(n):
            bits = (bits << 1) | (0 if px[x] else 1)
            if x % 8 == 7:
                mrow.append(bits)
                bits = 0
        if n % 8:
            mrow.append(bits << (8 - n % 8))
        mask += mrow + b'\0' * (row_bytes(1, n) - len(mrow))
    return header + palette + bytes(xor) + bytes(mask)

def main(out):
    images = [(n, bpp, image(n, bpp)) for bpp in DEPTHS for n in SIZES]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, bpp, img in images:
        colors = 16 if bpp == 4 else 0
        data += struct.pack('<BBBBHHII', n % 256, n % 256, colors, 0, 1, bpp, len(img), offset)
        offset += len(img)
    data += b''.join(img for _, _, img in images)
    with open(out, 'wb') as f:
        f.write(data)

if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'app/res/Brannoch.ico')
