#!/usr/bin/env python3
"""Turns an X window dump (xwd, ZPixmap of 24 or 32 bits per pixel) into a PNG and says how much
of the given rectangle is not plain black. Standard library only.

usage: xwd_to_png.py dump.xwd out.png [x y width height]
Prints "painted <fraction>" for the rectangle (the whole screen when none is given)."""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, version, pixmap_format = fields[0], fields[1], fields[2]
    width, height = fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks = fields[14:17]
    ncolors = fields[19]
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise SystemExit("unsupported xwd: version %d format %d bpp %d" % (version, pixmap_format, bits_per_pixel))
    start = header_size + 12 * ncolors
    if len(data) < start + bytes_per_line * height:
        raise SystemExit("xwd file is truncated")
    order = "little" if byte_order == 0 else "big"
    step = bits_per_pixel // 8
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(0, width * step, step):
            pixel = int.from_bytes(line[x:x + step], order)
            row += bytes(((pixel & m) >> s) & 0xFF for m, s in zip(masks, shifts))
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        out.write(chunk(b"IEND", b""))


def main():
    if len(sys.argv) not in (3, 7):
        raise SystemExit(__doc__)
    width, height, rows = read_xwd(sys.argv[1])
    write_png(sys.argv[2], width, height, rows)
    x, y, w, h = (int(v) for v in sys.argv[3:7]) if len(sys.argv) == 7 else (0, 0, width, height)
    x0, y0, x1, y1 = max(0, x), max(0, y), min(width, x + w), min(height, y + h)
    total = max(1, (x1 - x0) * (y1 - y0))
    painted = sum(1 for row in rows[y0:y1] for i in range(x0, x1) if row[3 * i:3 * i + 3] != b"\x00\x00\x00")
    print("painted %.3f" % (painted / total))


if __name__ == "__main__":
    main()
