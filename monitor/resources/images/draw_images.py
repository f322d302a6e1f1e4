#!/usr/bin/env python3
"""Draws the program's bitmaps and icons and writes them beside this script.

The build uses the committed files; run this only after changing a picture:

    python3 monitor/resources/images/draw_images.py

Standard library only.  Every picture is a list of layers (a shape and a
colour) rendered with 4 x 4 samples per pixel, so edges are smoothed; the
small bitmaps that the program loads with the system's 3-D colours mapped
into them keep the exact grey RGB(192,192,192) as background, which the
loader replaces by the dialog face colour.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- shapes
# A shape is a function (x, y) -> bool over continuous pixel coordinates
# (pixel (i, j) covers [i, i+1) x [j, j+1), y grows downwards).


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def round_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y):
                xc = xa + (y - ya) * (xb - xa) / (yb - ya)
                if x < xc:
                    result = not result
        return result
    return inside


def stroke(points, width):
    """A polyline of the given width with round joints."""
    half = width / 2.0

    def inside(x, y):
        for (xa, ya), (xb, yb) in zip(points, points[1:]):
            dx, dy = xb - xa, yb - ya
            t = ((x - xa) * dx + (y - ya) * dy) / float(dx * dx + dy * dy)
            t = min(max(t, 0.0), 1.0)
            if (x - xa - t * dx) ** 2 + (y - ya - t * dy) ** 2 <= half * half:
                return True
        return False
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def drop(cx, top, bottom):
    """A rain drop: a circle at the bottom drawn out to a point at the top."""
    r = (bottom - top) * 0.34
    cy = bottom - r
    tip = (cx, top)
    # Tangent points of the lines from the tip to the circle.
    d = cy - top
    a = math.asin(r / d)
    half = math.sqrt(d * d - r * r)
    left = (cx - half * math.sin(a), top + half * math.cos(a))
    right = (cx + half * math.sin(a), top + half * math.cos(a))
    return union(circle(cx, cy, r), polygon([tip, right, left]))


# 5 x 7 glyphs of the few letters the pictures carry.
GLYPHS = {
    "V": ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    "M": ["X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"],
    "O": [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "X": ["X...X", "X...X", ".X.X.", "..X..", ".X.X.", "X...X", "X...X"],
    "-": [".....", ".....", ".....", "XXXXX", ".....", ".....", "....."],
    "3": ["XXXX.", "....X", "....X", ".XXX.", "....X", "....X", "XXXX."],
    "0": [".XXX.", "X...X", "X..XX", "X.X.X", "XX..X", "X...X", ".XXX."],
    "5": ["XXXXX", "X....", "XXXX.", "....X", "....X", "X...X", ".XXX."],
}


def text(s, x0, y0, scale):
    cells = []
    for k, ch in enumerate(s):
        rows = GLYPHS[ch]
        for j, row in enumerate(rows):
            for i, c in enumerate(row):
                if c == "X":
                    cells.append((x0 + (k * 6 + i) * scale, y0 + j * scale))

    def inside(x, y):
        for cx, cy in cells:
            if cx <= x < cx + scale and cy <= y < cy + scale:
                return True
        return False
    return inside


def text_width(s, scale):
    return (len(s) * 6 - 1) * scale


# ---------------------------------------------------------------- rendering


def render(w, h, layers, samples=4):
    """RGBA pixels (floats 0..1 for alpha), layers composited in order."""
    pixels = []
    offsets = [(i + 0.5) / samples for i in range(samples)]
    for j in range(h):
        for i in range(w):
            r = g = b = a = 0.0
            for shape, colour in layers:
                hits = sum(1 for dy in offsets for dx in offsets if shape(i + dx, j + dy))
                if hits == 0:
                    continue
                cover = hits / float(samples * samples)
                cr, cg, cb = colour
                # "over" compositing, premultiplied.
                r = cr * cover + r * (1 - cover)
                g = cg * cover + g * (1 - cover)
                b = cb * cover + b * (1 - cover)
                a = cover + a * (1 - cover)
            if a > 0:
                pixels.append((r / a, g / a, b / a, a))
            else:
                pixels.append((0.0, 0.0, 0.0, 0.0))
    return pixels


def flatten(pixels, background):
    """Opaque RGB pixels: the picture over a background colour."""
    out = []
    for r, g, b, a in pixels:
        out.append(tuple(int(round(c * 255 * a + bg * (1 - a))) for c, bg in zip((r, g, b), background)))
    return out


# ---------------------------------------------------------------- file formats


def bmp_file(info_and_bits):
    offset_bits = 14 + info_and_bits[1]
    data = info_and_bits[0]
    return struct.pack("<2sIHHI", b"BM", 14 + len(data), 0, 0, offset_bits) + data


def info_header(w, h, bpp, colours=0, image_size=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, image_size, 2835, 2835, colours, 0)


def rows_bottom_up(h, row_bytes):
    out = b""
    for j in reversed(range(h)):
        row = row_bytes(j)
        out += row + b"\0" * ((4 - len(row) % 4) % 4)
    return out


def bmp24(w, h, rgb):
    bits = rows_bottom_up(h, lambda j: b"".join(
        struct.pack("BBB", *reversed(rgb[j * w + i])) for i in range(w)))
    header = info_header(w, h, 24, 0, len(bits))
    return bmp_file((header + bits, len(header)))


def bmp8(w, h, rgb):
    palette = sorted(set(rgb))
    if len(palette) > 256:
        raise ValueError("more than 256 colours")
    index = {c: k for k, c in enumerate(palette)}
    table = b"".join(struct.pack("BBBB", c[2], c[1], c[0], 0) for c in palette)
    bits = rows_bottom_up(h, lambda j: bytes(index[rgb[j * w + i]] for i in range(w)))
    header = info_header(w, h, 8, len(palette), len(bits)) + table
    return bmp_file((header + bits, len(header)))


def reduce_colours(rgb):
    """The same pixels in at most 256 colours, rounding the smoothed edges."""
    step = 1
    while len(set(rgb)) > 256:
        step *= 2
        rgb = [tuple(min(255, (v + step // 2) // step * step) for v in c) for c in rgb]
    return rgb


def pack_bits(values):
    out = bytearray()
    for k in range(0, len(values), 8):
        byte = 0
        for bit, v in enumerate(values[k:k + 8]):
            if v:
                byte |= 0x80 >> bit
        out.append(byte)
    return bytes(out)


def bmp1(w, h, white):
    """Monochrome bitmap: palette black, white; `white` is a bool per pixel."""
    table = struct.pack("BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0)
    bits = rows_bottom_up(h, lambda j: pack_bits(white[j * w:(j + 1) * w]))
    header = info_header(w, h, 1, 2, len(bits)) + table
    return bmp_file((header + bits, len(header)))


def ico(images):
    """Icon file of (size, RGBA pixels) entries, 32 bits per pixel with an
    AND mask that marks the fully transparent pixels."""
    entries = []
    for size, pixels in images:
        xor = rows_bottom_up(size, lambda j: b"".join(
            struct.pack("BBBB", int(round(b * 255)), int(round(g * 255)), int(round(r * 255)),
                        int(round(a * 255)))
            for r, g, b, a in (pixels[j * size + i] for i in range(size))))
        mask = rows_bottom_up(size, lambda j: pack_bits(
            [pixels[j * size + i][3] < 0.5 for i in range(size)]))
        header = info_header(size, size * 2, 32, 0, len(xor) + len(mask))
        entries.append((size, header + xor + mask))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in entries:
        out += data
    return out


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def unit(rgb):
    return tuple(c / 255.0 for c in rgb)


# ---------------------------------------------------------------- the pictures

FACE = (192, 192, 192)          # replaced by the dialog face colour on loading
NAVY = unit((24, 48, 112))
STEEL = unit((52, 96, 150))
STEEL_LIGHT = unit((98, 142, 196))
RAIN = unit((40, 128, 224))
WHITE = unit((255, 255, 255))
CARD_EDGE = unit((150, 160, 176))


def program_icon(size):
    s = size / 32.0
    layers = [
        (round_rect(1 * s, 3 * s, 31 * s, 30 * s, 4 * s), STEEL),
        (round_rect(2.5 * s, 4.5 * s, 29.5 * s, 14 * s, 3 * s), STEEL_LIGHT),
        (drop(16 * s, 6 * s, 26 * s), WHITE),
        (drop(16 * s, 10 * s, 23.5 * s), RAIN),
    ]
    if size >= 32:
        for k in range(5):
            layers.append((circle((6 + 5 * k) * s, 27.5 * s, 1.1 * s), unit((250, 210, 70))))
    return render(size, size, layers)


def navigation_icons():
    left_bar = rect(3, 3, 5, 13)
    right_bar = rect(11, 3, 13, 13)
    pictures = {
        "first.ico": union(left_bar, polygon([(13, 3), (13, 13), (6, 8)])),
        "previous.ico": polygon([(11, 3), (11, 13), (5, 8)]),
        "next.ico": polygon([(5, 3), (5, 13), (11, 8)]),
        "last.ico": union(right_bar, polygon([(3, 3), (3, 13), (10, 8)])),
    }
    for name, shape in pictures.items():
        write(name, ico([(16, render(16, 16, [(shape, NAVY)]))]))


def status_images():
    """Bitmap 109 (two 16 x 16 images side by side: warning, tick) and its
    mask 110 (white = transparent)."""
    warning_edge = polygon([(8, 0.5), (15.8, 14.8), (0.2, 14.8)])
    warning_fill = polygon([(8, 2.6), (14.1, 13.8), (1.9, 13.8)])
    bang = union(rect(7.2, 5.5, 8.8, 10.6), circle(8, 12.3, 0.95))
    tick = stroke([(18.5, 8.5), (22, 12.5), (29.5, 3.5)], 3.2)
    layers = [
        (warning_edge, unit((140, 90, 0))),
        (warning_fill, unit((255, 206, 0))),
        (bang, unit((0, 0, 0))),
        (tick, unit((0, 150, 40))),
    ]
    pixels = render(32, 16, layers)
    opaque = [p[3] >= 0.5 for p in pixels]
    # Under the transparent pixels the colour must be black: the image list
    # draws the mask with AND and the image with OR.
    rgb = [c if keep else (0, 0, 0) for c, keep in zip(flatten(pixels, (224, 224, 224)), opaque)]
    write("status_images.bmp", bmp24(32, 16, rgb))
    write("status_mask.bmp", bmp1(32, 16, [not keep for keep in opaque]))


def socket_bitmap(name, lit):
    """Bitmaps 112 and 113 on the input panels, 18 x 18 (they sit in 15 x 13
    dialog units): a socket with a lit green lamp (instrument present) or a
    dark one (none)."""
    size = 18
    c = size / 2.0
    layers = [
        (circle(c, c, 7.8), unit((64, 64, 64))),
        (circle(c, c, 6.0), unit((0, 176, 40)) if lit else unit((120, 120, 120))),
    ]
    if lit:
        layers.append((circle(c - 1.8, c - 1.8, 1.8), unit((170, 255, 170))))
    else:
        layers.append((stroke([(c - 3.2, c - 3.2), (c + 3.2, c + 3.2)], 1.5), unit((72, 72, 72))))
        layers.append((stroke([(c + 3.2, c - 3.2), (c - 3.2, c + 3.2)], 1.5), unit((72, 72, 72))))
    rgb = flatten(render(size, size, layers), FACE)
    # A palette of at most 256 colours with the background grey exact.
    rgb = [p if p == FACE else tuple(min(255, (v // 4) * 4) for v in p) for p in rgb]
    write(name, bmp8(size, size, rgb))


def card(w, h):
    return [
        (rect(0, 0, w, h), CARD_EDGE),
        (rect(1, 1, w - 1, h - 1), WHITE),
    ]


def logo():
    """Bitmap 108: the maker's mark with the converter's name."""
    w, h = 84, 48
    layers = card(w, h)
    layers.append((text("VELMOR", (w - text_width("VELMOR", 2)) / 2.0, 7, 2), NAVY))
    layers.append((rect(8, 25, w - 8, 26.5), RAIN))
    name_x = (w - text_width("KX-305", 1) - 9) / 2.0
    layers.append((text("KX-305", name_x, 31, 1), STEEL))
    layers.append((drop(name_x + text_width("KX-305", 1) + 6, 29.5, 39), RAIN))
    write("logo.bmp", bmp24(w, h, flatten(render(w, h, layers), (255, 255, 255))))


def converter_picture():
    """Bitmap 111 of the about box: the converter under the rain."""
    w = h = 64
    layers = card(w, h)
    layers += [
        (drop(32, 4, 19), RAIN),
        (drop(20, 9, 17), RAIN),
        (drop(44, 9, 17), RAIN),
        (round_rect(10, 22, 54, 56, 4), STEEL),
        (round_rect(15, 26, 49, 38, 2), unit((190, 214, 176))),
        (text("305", 23, 28.5, 1), unit((40, 60, 40))),
    ]
    for k in range(5):
        layers.append((circle(17 + 7.5 * k, 47, 2.6), unit((250, 210, 70))))
        layers.append((circle(17 + 7.5 * k, 47, 1.0), unit((60, 60, 60))))
    write("converter.bmp", bmp8(w, h, reduce_colours(flatten(render(w, h, layers), (255, 255, 255)))))


# ---------------------------------------------------------------- the promotion document


def dib_of(bmp):
    """A BMP file without its 14-byte file header: BITMAPINFO and bits."""
    return bmp[14:]


def rtf_text(s):
    out = []
    for ch in s:
        if ch in "\\{}":
            out.append("\\" + ch)
        elif ord(ch) < 128:
            out.append(ch)
        else:
            out.append("\\'%02x" % ch.encode("cp1250")[0])
    return "".join(out)


def promotion_document():
    """Resource 240/157: the start-up promotion of the QMV software (RTF,
    code page 1250), with the converter's picture."""
    w = h = 64
    # A palette bitmap: the rich-edit control of Wine shows the colours of
    # 24-bit device-independent bitmaps with red and blue exchanged.
    picture = dib_of(open(os.path.join(HERE, "converter.bmp"), "rb").read())
    hex_lines = [picture[k:k + 64].hex() for k in range(0, len(picture), 64)]
    goal = w * 15 * 3 // 2      # twips: 96 pixels at 96 dpi
    paragraphs = [
        r"{\b\fs32 QMV " + rtf_text("– oprogramowanie do wizualizacji pomiarów") + r"}\par",
        r"\par",
        rtf_text("Program QMV firmy Velmor zbiera wyniki pomiarów z wielu konwerterów KX-305, "
                 "przechowuje je w jednej bazie danych i przedstawia na wykresach, mapach "
                 "i w zestawieniach.") + r"\par",
        r"\par",
    ]
    for item in ["wykresy bieżące i historyczne wszystkich wielkości mierzonych,",
                 "raporty opadów: godzinowe, dobowe i miesięczne,",
                 "alarmy po przekroczeniu zadanych progów,",
                 "udostępnianie danych w sieci lokalnej i przez internet."]:
        paragraphs.append(r"\bullet\tab " + rtf_text(item) + r"\par")
    paragraphs += [
        r"\par",
        rtf_text("O szczegóły zapytaj dostawcę przyrządów Velmor.") + r"\par",
    ]
    document = "\r\n".join(
        [r"{\rtf1\ansi\ansicpg1250\deff0",
         r"{\fonttbl{\f0\fswiss\fcharset238 Arial;}}",
         r"{\colortbl;\red24\green48\blue112;}",
         r"\viewkind4\uc1\pard\qc " + r"{\pict\dibitmap0\picw%d\pich%d\picwgoal%d\pichgoal%d" % (
             w, h, goal, goal)]
        + hex_lines
        + [r"}\par", r"\pard\cf1\f0\fs20 "] + paragraphs + ["}", ""])
    write("promotion.rtf", document.encode("ascii"))


def main():
    write("program.ico", ico([(16, program_icon(16)), (32, program_icon(32))]))
    navigation_icons()
    status_images()
    socket_bitmap("instrument.bmp", True)
    socket_bitmap("no_instrument.bmp", False)
    logo()
    converter_picture()
    promotion_document()


if __name__ == "__main__":
    main()
