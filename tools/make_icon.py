#!/usr/bin/env python3
"""Draws the search icon (a magnifying glass over a play symbol) and writes it as a Windows icon
with nine images (48, 32 and 16 pixels, each in 16 colours, 256 colours and 32-bit colour with
alpha), plus a PNG sheet of the nine images for people to look at.

Usage: make_icon.py OUT.ico [SHEET.png]
Standard library only, so that the build can run it anywhere.
"""
import struct
import sys
import zlib

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 32)

NAVY = (31, 58, 104)
GLASS = (226, 240, 255)
PLAY = (236, 118, 24)
HANDLE = (60, 44, 30)

# The classic 16-colour palette that every display of the 4-bit era could show.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    levels = (0, 51, 102, 153, 204, 255)
    colours = [(r, g, b) for r in levels for g in levels for b in levels]
    colours += VGA16
    colours += [(v, v, v) for v in range(8, 256, 11)][: 256 - len(colours)]
    colours += [(0, 0, 0)] * (256 - len(colours))
    return colours


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (x - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (y - q[1])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def distance_to_segment(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return ((x - px) ** 2 + (y - py) ** 2) ** 0.5


def shade(x, y, size):
    """Colour at a point of the unit square, or None where the icon is transparent. Small sizes
    get thicker strokes so that the glass still reads at 16 pixels."""
    small = size <= 16
    centre, radius = (0.40, 0.40), 0.34
    ring = 0.12 if small else 0.09
    handle_width = 0.10 if small else 0.08
    r = ((x - centre[0]) ** 2 + (y - centre[1]) ** 2) ** 0.5
    if distance_to_segment(x, y, (0.64, 0.64), (0.92, 0.92)) <= handle_width:
        return HANDLE
    if r <= radius and r >= radius - ring:
        return NAVY
    if r < radius - ring:
        if inside_triangle(x, y, (0.29, 0.22), (0.29, 0.58), (0.60, 0.40)):
            return PLAY
        return GLASS
    return None


def render(size, samples=4):
    """RGBA rows, top row first, supersampled for smooth edges."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    colour = shade((px + (sx + 0.5) / samples) / size,
                                   (py + (sy + 0.5) / samples) / size, size)
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            total[i] += colour[i]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = round(255 * covered / (samples * samples))
                row.append(tuple(round(t / covered) for t in total) + (alpha,))
        rows.append(row)
    return rows


# In 16 colours each part of the drawing takes its own palette entry, so that anti-aliased edges
# never turn into a muddy colour of their own.
DESIGN = (NAVY, GLASS, PLAY, HANDLE)
DESIGN_IN_VGA16 = (4, 15, 9, 0)


def vga16_index(colour):
    return DESIGN_IN_VGA16[nearest(colour, DESIGN)]


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((colour[k] - palette[i][k]) ** 2 for k in range(3)))


def transparent(pixel, depth):
    """Where the AND mask lets the background through. Shells before Windows XP ignore alpha:
    they AND the mask onto the screen, then XOR the colours, so every pixel the mask makes
    transparent must be black. Palette images keep the pixels at least half covered and store
    black elsewhere; the 32-bit image masks only what is fully transparent (and black), so its
    soft edge stays in its own colours instead of turning into a coloured fringe, and XP, which
    draws it through its alpha, shows it exactly as drawn."""
    return pixel[3] == 0 if depth == 32 else pixel[3] < 128


def mask_rows(rgba, depth):
    """The AND mask, bottom row first: 1 where the icon is transparent."""
    size = len(rgba)
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rgba):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if transparent(pixel, depth):
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib(rgba, depth):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and mask, as icons store them."""
    size = len(rgba)
    palette = VGA16 if depth == 4 else palette256() if depth == 8 else []
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, 0, 0, 0,
                         len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    stride = ((size * depth + 31) // 32) * 4
    bits = b""
    for row in reversed(rgba):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            if depth == 32:
                if not transparent(pixel, depth):
                    struct.pack_into("<BBBB", line, x * 4, pixel[2], pixel[1], pixel[0], pixel[3])
            else:
                if transparent(pixel, depth):
                    index = 0  # black in both palettes
                elif depth == 4:
                    index = vga16_index(pixel)
                else:
                    index = nearest(pixel, palette)
                if depth == 8:
                    line[x] = index
                else:
                    line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        bits += bytes(line)
    return header + table + bits + mask_rows(rgba, depth)


def flattened(rgba, depth):
    """What an image of that depth shows, for the sheet: palette colours, hard edges below 32."""
    if depth == 32:
        return rgba
    palette = VGA16 if depth == 4 else palette256()
    pick = vga16_index if depth == 4 else (lambda p: nearest(p, palette))
    return [[palette[pick(p)] + (255,) if p[3] >= 128 else (0, 0, 0, 0) for p in row]
            for row in rgba]


def write_ico(path, images):
    entries = b""
    data = b""
    offset = 6 + 16 * len(images)
    for size, depth, blob in images:
        colours = 16 if depth == 4 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, depth,
                               len(blob), offset + len(data))
        data += blob
    with open(path, "wb") as out:
        out.write(struct.pack("<HHH", 0, 1, len(images)) + entries + data)


def write_png(path, width, height, pixels):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in pixels)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n"
                  + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_sheet(path, rendered):
    """Rows: 48, 32, 16 pixels; columns: 16 colours, 256 colours, 32-bit. Each image is scaled
    up by whole pixels onto a checkerboard so that every pixel and the transparency show."""
    cell, gap = 192, 16
    width = len(DEPTHS) * (cell + gap) + gap
    height = len(SIZES) * (cell + gap) + gap
    sheet = [[(250, 250, 250)] * width for _ in range(height)]
    for row_index, size in enumerate(SIZES):
        scale = cell // size
        for column_index, depth in enumerate(DEPTHS):
            image = flattened(rendered[size], depth)
            left = gap + column_index * (cell + gap)
            top = gap + row_index * (cell + gap)
            for y in range(cell):
                for x in range(cell):
                    check = 235 if ((x // 12) + (y // 12)) % 2 else 205
                    r, g, b, a = image[y // scale][x // scale]
                    sheet[top + y][left + x] = tuple(
                        round((c * a + check * (255 - a)) / 255) for c in (r, g, b))
    write_png(path, width, height, sheet)


def main(argv):
    if argv[1:2] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    # The smallest image is drawn without smoothing: at 16 pixels, hard edges read better.
    rendered = {size: render(size, samples=1 if size <= 16 else 4) for size in SIZES}
    images = [(size, depth, dib(rendered[size], depth)) for size in SIZES for depth in DEPTHS]
    write_ico(argv[1], images)
    if len(argv) == 3:
        write_sheet(argv[2], rendered)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
