#!/usr/bin/env python3
"""Writes the hostile pictures of this folder: files that lie about their size, bombs and broken files
that a picture loader must refuse quickly and cheaply. Every byte is laid out here by hand with the
standard library, so the files are the same wherever they are made again:

    python3 tests/data/hostile/make_hostile.py

The valid-*.* files are small good pictures; the test cuts them into every prefix itself. The test also
makes what cannot be committed: an empty file, a folder, a FIFO and a huge sparse file.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---- PNG ----

def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, rows, colour_type=2, extra=b""):
    """An 8-bit PNG; `rows` is the raw scanline data (each row starting with its filter byte)."""
    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + extra +
            png_chunk(b"IDAT", zlib.compress(rows, 9)) + png_chunk(b"IEND", b""))


def valid_png():
    rows = b""
    for y in range(24):
        rows += b"\x00" + b"".join(bytes((x * 8, y * 10, 128)) for x in range(32))
    return png(32, 24, rows)


# ---- JPEG ----

def segment(marker, payload):
    return b"\xff" + bytes((marker,)) + struct.pack(">H", len(payload) + 2) + payload


def jpeg_tables():
    """One quantisation table of ones and Huffman tables with a single one-bit code each: DC category 0
    and, for AC, symbol 0x00 (end of block), so any entropy data of zero bits decodes as empty blocks."""
    dqt = segment(0xDB, b"\x00" + b"\x01" * 64)
    one_code = bytes([1] + [0] * 15)
    dht = segment(0xC4, b"\x00" + one_code + b"\x00" + b"\x10" + one_code + b"\x00")
    return dqt + dht


def jpeg_frame(sof, width, height):
    """A one-component (grey) frame header."""
    return segment(sof, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00")


def scan(ss, se, ah, al):
    return segment(0xDA, bytes((1, 1, 0x00, ss, se, (ah << 4) | al)))


def valid_jpeg():
    """A 32 x 24 grey baseline JPEG whose blocks are all flat (zero-bit entropy data)."""
    blocks = (32 // 8) * (24 // 8)
    data = b"\x00" * ((blocks * 2 + 7) // 8)  # one DC bit and one AC bit per block
    return (b"\xff\xd8" + jpeg_tables() + jpeg_frame(0xC0, 32, 24) + scan(0, 63, 0, 0) + data + b"\xff\xd9")


def huge_jpeg(width, height):
    return b"\xff\xd8" + jpeg_tables() + jpeg_frame(0xC0, width, height) + scan(0, 63, 0, 0) + b"\x00" * 64 + b"\xff\xd9"


def many_scans_jpeg(width, height, scans):
    """A progressive grey JPEG with a DC scan and then `scans` spectral-selection and refinement scans,
    walking the 63 AC coefficients with successive approximation from bit 13 down. Every scan carries a
    few bytes of zero bits (all end-of-band), so the file is tiny but the decoder redraws the whole picture
    once per scan."""
    out = b"\xff\xd8" + jpeg_tables() + jpeg_frame(0xC2, width, height) + scan(0, 0, 0, 0) + b"\x00" * 8
    made = 0
    al = 13
    first = True
    while made < scans:
        for k in range(1, 64):
            if made == scans:
                break
            out += (scan(k, k, 0, al) if first else scan(k, k, al + 1, al)) + b"\x00" * 8
            made += 1
        first = False
        al = max(al - 1, 0)
    return out + b"\xff\xd9"


# ---- GIF ----

def gif(screen_w, screen_h, frame_w, frame_h, pixels=None):
    """A GIF89a with a two-colour global table and one frame, its LZW data coding `pixels` indices (all 0
    by default) with a clear code first and an end code last."""
    header = b"GIF89a" + struct.pack("<HHBBB", screen_w, screen_h, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff"
    image = b"\x2c" + struct.pack("<HHHHB", 0, 0, frame_w, frame_h, 0)
    count = frame_w * frame_h if pixels is None else pixels
    # Minimum code size 2: clear = 4, end = 5, codes of 3 bits while the table stays below 8 entries.
    # Emitting clear before every pixel keeps the code width at 3 bits.
    bits = []
    for _ in range(count):
        bits += [4, 0]
    bits.append(5)
    value = 0
    nbits = 0
    data = bytearray()
    for code in bits:
        value |= code << nbits
        nbits += 3
        while nbits >= 8:
            data.append(value & 0xFF)
            value >>= 8
            nbits -= 8
    if nbits:
        data.append(value & 0xFF)
    blocks = b""
    for i in range(0, len(data), 255):
        part = bytes(data[i:i + 255])
        blocks += bytes((len(part),)) + part
    return header + image + b"\x02" + blocks + b"\x00" + b"\x3b"


def valid_gif():
    return gif(32, 24, 32, 24)


# ---- BMP ----

def bmp(width, height, pixel_bytes, bits=24):
    """A BITMAPINFOHEADER bitmap; width and height are written as signed 32-bit values."""
    header_size = 14 + 40
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixel_bytes), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", header_size + len(pixel_bytes), 0, 0, header_size) + info + pixel_bytes


# ---- TIFF, which the program refuses whatever it holds ----

def tiff(little):
    """A 2 x 2 uncompressed 8-bit greyscale TIFF with one directory."""
    e = "<" if little else ">"
    entries = [(256, 3, 1, 2), (257, 3, 1, 2), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 8), (277, 3, 1, 1), (278, 3, 1, 2), (279, 4, 1, 4)]
    head = (b"II" if little else b"MM") + struct.pack(e + "HI", 42, 12)
    pixels = b"\x00\x40\x80\xff"
    ifd = struct.pack(e + "H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack(e + "H", value) + b"\x00\x00" if kind == 3 else struct.pack(e + "I", value)
        ifd += struct.pack(e + "HHI", tag, kind, count) + packed
    return head + pixels + ifd + struct.pack(e + "I", 0)


def valid_bmp():
    row = b"".join(bytes((x * 8, 64, 200)) for x in range(32))  # 96 bytes, already a multiple of 4
    return bmp(32, 24, row * 24)


def main():
    write("valid-32x24.png", valid_png())
    write("valid-32x24.jpg", valid_jpeg())
    write("valid-32x24.gif", valid_gif())
    write("valid-32x24.bmp", valid_bmp())
    write("valid-progressive-32x24.jpg", many_scans_jpeg(32, 24, 20))

    # Headers that claim more pixels than any screen: they must be refused before pixels are allocated.
    one_row = b"\x00" + b"\x00\x00\x00" * 4
    write("png-65535x65535.png", png(65535, 65535, one_row))
    write("png-1000000x1000000.png", png(1000000, 1000000, one_row))
    write("jpeg-65535x65535.jpg", huge_jpeg(65535, 65535))
    write("jpeg-60000x60000.jpg", huge_jpeg(60000, 60000))  # within what the JPEG decoder itself allows
    write("bmp-1000000x1000000.bmp", bmp(1000000, 1000000, b"\x00" * 64))
    write("gif-screen-65535x65535.gif", gif(65535, 65535, 1, 1))

    # A 1 x 1 PNG carrying a compressed text chunk that inflates to 64 MB of zeros.
    bomb = zlib.compressobj(9)
    text = b"".join(bomb.compress(b"\x00" * (1 << 20)) for _ in range(64)) + bomb.flush()
    ztxt = png_chunk(b"zTXt", b"Comment\x00\x00" + text)
    write("png-ztxt-bomb.png", png(1, 1, b"\x00\x00\x00\x00", extra=ztxt))

    # 4096 x 4096 grey, progressive, 600 scans: each one makes the decoder redraw the picture.
    write("jpeg-progressive-600-scans.jpg", many_scans_jpeg(4096, 4096, 600))

    # A frame of no pixels inside a normal screen, and a 1 x 1 frame on a 65,535-square screen.
    write("gif-frame-0x0.gif", gif(16, 16, 0, 0))
    # An 8192 x 8192 screen whose frame has no pixels at all: the decoder would allocate the screen and
    # then spin over the data (tests/e2e/xvfb.sh makes the 60 MB one, within the caps, for the deadline).
    write("gif-screen-8192x8192-no-image.gif", gif(8192, 8192, 8192, 8192, pixels=0))
    write("tiff-little-endian-2x2.tif", tiff(True))
    write("tiff-big-endian-2x2.tif", tiff(False))

    # Heights of -65,535 (top-down, 65,535 wide) and 2^31 (as stored, the most negative 32-bit value).
    write("bmp-height-minus-65535.bmp", bmp(65535, -65535, b"\x00" * 64))
    write("bmp-height-2pow31.bmp", bmp(16, -(1 << 31), b"\x00" * 64))
    # An info header that claims to be 640 MB long: the decoder would make room for it as it stands.
    info_bomb = bytearray(bmp(16, 16, b"\x00" * 64))
    info_bomb[14:18] = struct.pack("<I", 0x28001000)
    write("bmp-info-header-640mb.bmp", bytes(info_bomb))

    write("text-named.jpg", b"This is a letter, not a photograph.\nRegards,\nA. N. Other\n")


if __name__ == "__main__":
    main()
