#!/usr/bin/env python3
"""Draws the clock icon (an analog wall clock at 10:10) and writes it as an .ico file holding two
256 x 256 images: 8 bits per pixel with a 256-colour palette, and 32 bits per pixel with alpha.

Usage: tools/make_icon.py OUT.ico [PREVIEW.ppm]   (the output is committed; run it only to change the icon)
"""
import math
import struct
import sys

SIZE = 256
SUB = 4  # supersampling per axis


def shade(x, y):
    """Colour (r, g, b, a) of the point (x, y) of the icon, in pixels from the top-left."""
    cx = cy = SIZE / 2
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d > 124:
        return (0, 0, 0, 0)
    if d > 112:  # grey-and-white bezel
        band = int((d - 112) / 3) % 2
        return (180, 180, 180, 255) if band == 0 else (255, 255, 255, 255)
    if d > 108:
        return (40, 52, 80, 255)
    # hands at 10:10:30, red; green centre
    angle_of = lambda deg: math.radians(deg)
    for deg, length, width in ((333, 88, 5.0), (575.25, 62, 7.0), (450, 96, 2.5)):
        a = angle_of(deg)
        ex, ey = length * math.cos(a), length * math.sin(a)
        t = max(0.0, min(1.0, (dx * ex + dy * ey) / (ex * ex + ey * ey)))
        if math.hypot(dx - t * ex, dy - t * ey) <= width:
            return (220, 30, 30, 255)
    if d <= 7:
        return (0, 200, 0, 255)
    # marks: hour bars, minute dots
    for minute in range(60):
        a = math.radians(minute * 6)
        mx, my = 98 * math.cos(a), 98 * math.sin(a)
        if minute % 5 == 0:
            t = (dx * math.cos(a) + dy * math.sin(a))
            if 86 <= t <= 104 and abs(-dx * math.sin(a) + dy * math.cos(a)) <= 3.5:
                return (30, 30, 40, 255)
        elif math.hypot(dx - mx, dy - my) <= 2.2:
            return (200, 150, 190, 255)
    # the face: a soft sky picture inside the dial
    g = (y - 20) / 216
    return (int(250 - 40 * g), int(245 - 60 * g), int(235 - 30 * g), 255)


def render():
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SUB):
                for sx in range(SUB):
                    r, g, b, a = shade(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUB * SUB
            alpha = acc[3] / n
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(alpha)),))
        pixels.append(row)
    return pixels


def and_mask(pixels):
    stride = ((SIZE + 31) // 32) * 4
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bmp_header(bits, colors):
    return struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, bits, 0, 0, 0, 0, colors, 0)


def image32(pixels):
    body = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            body += bytes((b, g, r, a))
    return bmp_header(32, 0) + bytes(body) + and_mask(pixels)


def image8(pixels):
    # A 6x7x6 colour cube plus greys: every opaque pixel takes the nearest entry.
    palette = []
    for r in range(6):
        for g in range(7):
            for b in range(6):
                palette.append((r * 51, int(g * 42.5), b * 51))
    while len(palette) < 256:
        v = int((len(palette) - 252) * 64)
        palette.append((v, v, v))
    def nearest(c):
        return min(range(256), key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))
    cache = {}
    body = bytearray()
    for row in reversed(pixels):
        for p in row:
            key = p[:3] if p[3] >= 128 else (0, 0, 0)
            if key not in cache:
                cache[key] = nearest(key)
            body.append(cache[key])
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return bmp_header(8, 256) + pal + bytes(body) + and_mask(pixels)


def main():
    pixels = render()
    images = [(image8(pixels), 8), (image32(pixels), 32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for data, bits in images:
        out += struct.pack('<BBBBHHII', 0, 0, 0 if bits == 32 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    for data, _ in images:
        out += data
    with open(sys.argv[1], 'wb') as f:
        f.write(out)
    if len(sys.argv) > 2:
        with open(sys.argv[2], 'wb') as f:
            f.write(b'P6 %d %d 255\n' % (SIZE, SIZE))
            for row in pixels:
                for r, g, b, a in row:
                    f.write(bytes((r * a // 255 + 255 - a, g * a // 255 + 255 - a, b * a // 255 + 255 - a)))


if __name__ == '__main__':
    main()
