#!/usr/bin/env python3
"""Draws Tessaly's icon on a 32 x 32 grid and writes it as an XPM (16 colours,
transparent background; compiled into the program) and as an SVG of the very
same pixels (the scalable icon for desktops), and as a PNG for the hicolor
theme's 32x32 size.

    python3 tools/make_icon.py ui/icons
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZE = 32
PALETTE = {  # key: colour; ' ' is transparent
    'o': '#0B2D5B',  # outline
    'b': '#1E5AA8',  # tile
    'l': '#4F86CF',  # tile highlight
    'w': '#FFFFFF',  # glyph
    'r': '#E04A2F',  # accent
}


def draw():
    grid = [[' '] * SIZE for _ in range(SIZE)]

    def inside_rounded(x, y, x0, y0, x1, y1, r):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    for y in range(SIZE):
        for x in range(SIZE):
            px, py = x + 0.5, y + 0.5
            if inside_rounded(px, py, 1, 1, 31, 31, 5):
                grid[y][x] = 'o'
            if inside_rounded(px, py, 2, 2, 30, 30, 4):
                grid[y][x] = 'l' if py < 9 else 'b'
    # The percent sign: two rings and a slash.
    for y in range(SIZE):
        for x in range(SIZE):
            px, py = x + 0.5, y + 0.5
            for cx, cy in ((10.5, 10.5), (21.5, 21.5)):
                d = math.hypot(px - cx, py - cy)
                if 2.2 <= d <= 4.4:
                    grid[y][x] = 'w'
            # distance to the slash from (23, 6) to (9, 26)
            ax, ay, bx, by = 23.0, 6.0, 9.0, 26.0
            t = max(0.0, min(1.0, ((px - ax) * (bx - ax) + (py - ay) * (by - ay)) /
                             ((bx - ax) ** 2 + (by - ay) ** 2)))
            if math.hypot(px - (ax + t * (bx - ax)), py - (ay + t * (by - ay))) <= 1.4:
                grid[y][x] = 'w'
    # An accent bar along the bottom: the bytes underneath.
    for x in range(6, 26):
        for y in (27, 28):
            if grid[y][x] == 'b':
                grid[y][x] = 'r'
    return grid


def write_xpm(grid, path):
    lines = ['/* XPM */', 'static const char* const tessaly_xpm[] = {',
             f'"{SIZE} {SIZE} {len(PALETTE) + 1} 1",', '"  c None",']
    lines += [f'"{k} c {v}",' for k, v in PALETTE.items()]
    lines += [f'"{"".join(row)}",' for row in grid]
    lines[-1] = lines[-1].rstrip(',')
    lines.append('};')
    path.write_text('\n'.join(lines) + '\n')


def write_svg(grid, path):
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" '
           f'viewBox="0 0 {SIZE} {SIZE}" shape-rendering="crispEdges">']
    for y, row in enumerate(grid):
        x = 0
        while x < SIZE:
            key = row[x]
            run = 1
            while x + run < SIZE and row[x + run] == key:
                run += 1
            if key != ' ':
                out.append(f'<rect x="{x}" y="{y}" width="{run}" height="1" fill="{PALETTE[key]}"/>')
            x += run
    out.append('</svg>')
    path.write_text('\n'.join(out) + '\n')


def write_png(grid, path):
    """The same pixels as a 32 x 32 RGBA PNG (the hicolor theme's 32x32 icon)."""
    raw = b''
    for row in grid:
        raw += b'\0'
        for key in row:
            if key == ' ':
                raw += b'\0\0\0\0'
            else:
                raw += bytes.fromhex(PALETTE[key][1:]) + b'\xff'

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(raw, 9))
    png += chunk(b'IEND', b'')
    path.write_bytes(png)


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else 'ui/icons')
    folder.mkdir(parents=True, exist_ok=True)
    grid = draw()
    write_xpm(grid, folder / 'tessaly.xpm')
    write_svg(grid, folder / 'tessaly.svg')
    write_png(grid, folder / 'tessaly.png')


if __name__ == '__main__':
    main()
