#!/usr/bin/env python3
"""Draws the share pages' icons and tiles into ../resources.

Run it after changing a drawing; the outputs are checked in, so a build does
not need it. Only the Python standard library is used: shapes are signed
distance functions, which gives smooth edges without supersampling, and the
PNG and GIF files are written by hand (zlib for PNG, LZW for GIF).

    python3 make_images.py [output-folder]
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "resources"))

# --------------------------------------------------------------------------
# Canvas and shapes


class Canvas:
    """Straight (not premultiplied) RGBA floats in 0..1, row-major."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def blend(self, x, y, rgb, a):
        if a <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        out_a = a + p[3] * (1 - a)
        if out_a <= 0:
            return
        for i in range(3):
            p[i] = (rgb[i] * a + p[i] * p[3] * (1 - a)) / out_a
        p[3] = out_a

    def fill(self, sdf, colour, box=None, alpha=1.0):
        """Paints where sdf(x, y) < 0; colour is an (r, g, b) or a function of (x, y)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        for y in range(max(0, int(y0) - 1), min(self.h, int(math.ceil(y1)) + 1)):
            for x in range(max(0, int(x0) - 1), min(self.w, int(math.ceil(x1)) + 1)):
                cx, cy = x + 0.5, y + 0.5
                cover = min(1.0, max(0.0, 0.5 - sdf(cx, cy)))
                if cover > 0:
                    rgb = colour(cx, cy) if callable(colour) else colour
                    self.blend(x, y, rgb, cover * alpha)

    def pixel(self, x, y, rgb, a=1.0):
        self.blend(x, y, rgb, a)


def rounded_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0), max(qy, 0))
        return outside + min(max(qx, qy), 0) - r

    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def polygon(points):
    """A convex polygon given clockwise in screen coordinates (y down)."""
    edges = []
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        length = math.hypot(bx - ax, by - ay)
        # Outward normal of a clockwise polygon with y pointing down.
        nx, ny = (by - ay) / length, -(bx - ax) / length
        edges.append((ax, ay, nx, ny))

    def sdf(x, y):
        return max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges)

    return sdf


def capsule(ax, ay, bx, by, r):
    def sdf(x, y):
        px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - dx * t, py - dy * t) - r

    return sdf


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def inset(shape, d):
    return lambda x, y: shape(x, y) + d


def hexrgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vertical(top, bottom, y0, y1):
    top, bottom = hexrgb(top), hexrgb(bottom)
    return lambda x, y: mix(top, bottom, max(0.0, min(1.0, (y - y0) / float(y1 - y0))))


# --------------------------------------------------------------------------
# A 3 x 5 pixel font for the extension labels

FONT = {
    "A": "010101111101101", "B": "110101110101110", "C": "011100100100011",
    "D": "110101101101110", "E": "111100110100111", "F": "111100110100100",
    "G": "011100101101011", "H": "101101111101101", "I": "111010010010111",
    "J": "001001001101010", "K": "101101110101101", "L": "100100100100111",
    "M": "101111111101101", "N": "110101101101101", "O": "010101101101010",
    "P": "110101110100100", "Q": "010101101110011", "R": "110101110101101",
    "S": "011100010001110", "T": "111010010010010", "U": "101101101101111",
    "V": "101101101101010", "W": "101101111111101", "X": "101101010101101",
    "Y": "101101010010010", "Z": "111001010100111", "0": "111101101101111",
    "1": "010110010010111", "2": "110001010100111", "3": "110001010001110",
    "4": "101101111001001", "5": "111100110001110", "6": "011100111101111",
    "7": "111001010010010", "8": "111101111101111", "9": "111101111001110",
}


def text_width(text):
    return len(text) * 4 - 1


def draw_text(canvas, text, x0, y0, rgb):
    for i, ch in enumerate(text.upper()):
        bits = FONT[ch]
        for row in range(5):
            for col in range(3):
                if bits[row * 3 + col] == "1":
                    canvas.pixel(x0 + i * 4 + col, y0 + row, rgb)


# --------------------------------------------------------------------------
# File icons (24 x 24)

CATEGORIES = {
    "#2f6fc4": "doc odt rtf sxw txt tex hlp chm odf file",
    "#c9372c": "pdf",
    "#2c9a5a": "xls ods csv sxc odc",
    "#e07b21": "ppt odp sxi",
    "#8a4fc7": "gif jpg jpeg png odg sxd odi ai ps",
    "#d23f86": "mp3 wav wma ogg aiff ram rm",
    "#b3335e": "mov mpg divx xvid wmv swf",
    "#9a6a2f": "zip rar tar gz tgz bz deb rpm iso xpi",
    "#15808c": "c cpp css js php pl py rb sql xml htm html conf",
    "#4a4f6a": "pgp",
    "#5754c9": "vcf",
}

ICON_EXTENSIONS = (
    "ai;aiff;bz;c;chm;conf;cpp;css;csv;deb;divx;doc;file;gif;gz;hlp;htm;html;iso;jpeg;jpg;js;"
    "mov;mp3;mpg;odc;odf;odg;odi;odp;ods;odt;ogg;pdf;pgp;php;pl;png;ppt;ps;py;ram;rar;rb;rm;"
    "rpm;rtf;sql;swf;sxc;sxd;sxi;sxw;tar;tex;tgz;txt;vcf;wav;wma;wmv;xls;xml;xpi;xvid;zip"
).split(";")

PAGE_OUTLINE = [(4, 1.5), (15, 1.5), (20.5, 7), (20.5, 22.5), (4, 22.5)]


def page_icon(lines=True):
    c = Canvas(24, 24)
    body = polygon(PAGE_OUTLINE)
    c.fill(body, hexrgb("#8d97a3"))
    c.fill(inset(body, 1.0), vertical("#ffffff", "#edf0f4", 1, 23))
    c.fill(polygon([(15, 1.5), (20.5, 7), (15, 7)]), hexrgb("#c9d0d8"))
    if lines:
        for i, y in enumerate((10, 13, 16, 19)):
            c.fill(rounded_rect(7, y, 17 if i % 2 else 18, y + 1.2, 0.5), hexrgb("#b8c1cc"))
    return c


def file_icon(ext):
    colour = next(k for k, v in CATEGORIES.items() if ext in v.split())
    c = page_icon(lines=False)
    c.fill(rounded_rect(7, 6, 14, 7.2, 0.5), hexrgb("#c3cad3"))
    c.fill(rounded_rect(7, 8.6, 12, 9.8, 0.5), hexrgb("#c3cad3"))
    label = ext.upper() if ext != "file" else "FILE"
    band_w = max(text_width(label) + 5, 13)
    x0 = 12 - band_w / 2.0
    c.fill(rounded_rect(x0, 12, x0 + band_w, 20, 1.6), hexrgb(colour))
    draw_text(c, label, int(round(12 - text_width(label) / 2.0)), 14, (1, 1, 1))
    return c


# --------------------------------------------------------------------------
# Folders: list icon (24) and gallery tiles (64, 128, 256)


def folder_shapes(s, canvas_size):
    """Back with its tab and the front, scaled from a 64-unit design."""
    k = canvas_size / 64.0
    back = union(rounded_rect(6 * k, 12 * k, 30 * k, 24 * k, 3 * k),
                 rounded_rect(6 * k, 17 * k, 58 * k, 52 * k, 4 * k))
    front = polygon([(10 * k, 24 * k), (61 * k, 24 * k), (56 * k, 54 * k), (4 * k, 54 * k)])
    front = inset(front, -1.5 * k)  # round its corners a little
    return back, front, k


def folder(size, up=False):
    c = Canvas(size, size)
    back, front, k = folder_shapes(size, size)
    if size >= 48:  # a soft shadow under the front
        c.fill(lambda x, y: front(x - 0.6 * k, y - 1.2 * k) - 0.4 * k, (0, 0, 0), alpha=0.12)
    c.fill(back, vertical("#d99a1e", "#c7860f", 12 * k, 52 * k))
    c.fill(inset(back, 1.0 * k), vertical("#f0b33a", "#d99a1e", 12 * k, 52 * k))
    c.fill(rounded_rect(9 * k, 21 * k, 55 * k, 30 * k, 1.5 * k), hexrgb("#fdfdfb"))
    c.fill(front, vertical("#ffd46a", "#f5b83d", 24 * k, 54 * k))
    c.fill(inset(polygon([(10 * k, 24 * k), (61 * k, 24 * k), (60.4 * k, 27 * k),
                          (9.4 * k, 27 * k)]), -1.0 * k), (1, 1, 1), alpha=0.35)
    if up:
        arrow = union(polygon([(32 * k, 29 * k), (43 * k, 40 * k), (21 * k, 40 * k)]),
                      rounded_rect(28 * k, 38 * k, 36 * k, 49 * k, 1 * k))
        c.fill(inset(arrow, -0.8 * k), hexrgb("#c58a16"), alpha=0.55)
        c.fill(arrow, hexrgb("#ffffff"))
    return c


# --------------------------------------------------------------------------
# Download button, logo and loader


def download_button(size=24):
    c = Canvas(size, size)
    k = size / 24.0
    c.fill(circle(12 * k, 12 * k, 10.5 * k), hexrgb("#1e6fb8"))
    c.fill(circle(12 * k, 12 * k, 9.5 * k), vertical("#4aa3ea", "#2176c2", 2 * k, 22 * k))
    arrow = union(rounded_rect(10.2 * k, 5.5 * k, 13.8 * k, 13 * k, 0.6 * k),
                  polygon([(6.5 * k, 11.5 * k), (17.5 * k, 11.5 * k), (12 * k, 17 * k)]))
    c.fill(arrow, (1, 1, 1))
    c.fill(rounded_rect(7 * k, 18 * k, 17 * k, 19.4 * k, 0.6 * k), (1, 1, 1), alpha=0.9)
    return c


def logo(size=64):
    c = Canvas(size, size)
    k = size / 64.0
    c.fill(rounded_rect(2 * k, 2 * k, 62 * k, 62 * k, 14 * k),
           vertical("#2f8f5b", "#1b5e88", 2 * k, 62 * k))
    nodes = [(20 * k, 32 * k), (44 * k, 18 * k), (44 * k, 46 * k)]
    for a, b in ((0, 1), (0, 2)):
        c.fill(capsule(nodes[a][0], nodes[a][1], nodes[b][0], nodes[b][1], 2.6 * k), (1, 1, 1),
               alpha=0.9)
    for x, y in nodes:
        c.fill(circle(x, y, 7.5 * k), (1, 1, 1))
        c.fill(circle(x, y, 3.2 * k), hexrgb("#2a7f74"))
    return c


def loader_frames(size=32, count=12):
    frames = []
    for f in range(count):
        c = Canvas(size, size)
        for i in range(count):
            angle = 2 * math.pi * i / count - math.pi / 2
            x = size / 2 + math.cos(angle) * size * 0.36
            y = size / 2 + math.sin(angle) * size * 0.36
            age = (f - i) % count
            shade = 0.15 + 0.85 * (1 - age / float(count))
            c.fill(circle(x, y, size * 0.075 + size * 0.03 * (1 - age / float(count))),
                   mix(hexrgb("#d7dde4"), hexrgb("#1d5fa8"), shade))
        frames.append(c)
    return frames


# --------------------------------------------------------------------------
# Writers


def write_png(canvas, path):
    raw = bytearray()
    for y in range(canvas.h):
        raw.append(0)
        for x in range(canvas.w):
            r, g, b, a = canvas.px[y * canvas.w + x]
            raw += bytes(int(round(max(0.0, min(1.0, v)) * 255)) for v in (r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    data = (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
    save(path, data)


def flatten(canvas, background, levels):
    """Indexed pixels over a background; alpha below a half becomes transparent."""
    step = 255.0 / (levels - 1)
    pixels = []
    for r, g, b, a in canvas.px:
        if a < 0.5:
            pixels.append(None)
            continue
        rgb = mix(background, (r, g, b), a)
        pixels.append(tuple(int(round(int(round(v * 255)) / step) * step) for v in rgb))
    return pixels


def lzw(indices, min_code_size):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bit_buffer, bit_count = bytearray(), 0, 0

    def emit(code, size):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    table = {(i,): i for i in range(clear)}
    next_code, code_size = end + 1, min_code_size + 1
    emit(clear, code_size)
    current = ()
    for index in indices:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            if next_code == (1 << code_size) and code_size < 12:
                code_size += 1
            next_code += 1
        else:
            emit(clear, code_size)
            table = {(i,): i for i in range(clear)}
            next_code, code_size = end + 1, min_code_size + 1
        current = (index,)
    if current:
        emit(table[current], code_size)
        # The decoder adds one more entry after this code before it reads the end.
        if next_code == (1 << code_size) and code_size < 12:
            code_size += 1
    emit(end, code_size)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def write_gif(frames, path, delay_cs=0, background=(1, 1, 1)):
    levels = 32
    while True:
        flat = [flatten(f, background, levels) for f in frames]
        colours = sorted({p for frame in flat for p in frame if p is not None})
        if len(colours) <= 255:
            break
        levels //= 2
    palette = [(255, 255, 255)] + colours  # index 0 is the transparent colour
    bits = max(1, (len(palette) - 1).bit_length())
    palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    lookup = {c: i + 1 for i, c in enumerate(colours)}
    w, h = frames[0].w, frames[0].h

    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", w, h, 0x80 | (bits - 1), 0, 0)
    data += bytes(v for c in palette for v in c)
    if len(frames) > 1:
        data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop forever
    for frame in flat:
        # Graphic control: restore to background before the next frame, index 0 transparent.
        data += b"\x21\xF9\x04" + struct.pack("<BHB", 0x09, delay_cs, 0) + b"\x00"
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
        min_code = max(2, bits)
        encoded = lzw([0 if p is None else lookup[p] for p in frame], min_code)
        data.append(min_code)
        for i in range(0, len(encoded), 255):
            block = encoded[i:i + 255]
            data.append(len(block))
            data += block
        data.append(0)
    data += b"\x3B"
    save(path, bytes(data))


def save(path, data):
    full = os.path.join(OUT, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


def main():
    assert len(ICON_EXTENSIONS) == 66, len(ICON_EXTENSIONS)
    for ext in ICON_EXTENSIONS:
        write_png(file_icon(ext), "fileicons/%s.png" % ext)
    write_png(page_icon(), "file.png")
    write_png(folder(24, up=True), "folderup.png")
    write_png(folder(24), "images/folder_24.png")
    for suffix, size in (("_64", 64), ("", 128), ("_256", 256)):
        write_png(folder(size), "images/dpb_folder%s.png" % suffix)
        write_png(folder(size, up=True), "images/dpb_folder_up%s.png" % suffix)
    write_png(logo(64), "images/dappline_logo.png")
    write_gif([download_button()], "dl_button.gif")
    write_gif(loader_frames(), "small_loader.gif", delay_cs=8)


if __name__ == "__main__":
    main()
