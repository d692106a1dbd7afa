#!/usr/bin/env python3
"""Draws the tool's artwork and writes it as indexed PNG files.

    python3 resources/make_artwork.py [OUTPUT_DIR]

Writes, into OUTPUT_DIR (default: the folder of this script):
  tslflash_32.png, tslflash_16.png  the window icon: a disc with a flash bolt
  tree_images.png                   the drive tree's strip, 34 x 17: two
                                    16-pixel cells (a computer, a drive) on
                                    pure red, the strip's transparent colour
  tslflash.ico                      the same icon for Windows: 32 x 32 and
                                    16 x 16, 16 colours each, with a mask
  tree_images.bmp                   the same strip for Windows, 8 bits per
                                    pixel
  hicolor/NxN/apps/tslflash.png     the icon for the Linux desktop's icon
                                    theme, N = 16, 32, 48, 64, 128, 256
  hicolor/scalable/apps/tslflash.svg  the same drawing as a vector picture

Every picture uses the 16 colours of the classic 4-bit palette, so the Qt
window (PNG) and the Windows resources (ICO, BMP) show the same drawings.
Only the standard library is used; the files are committed beside this
script.
"""

import math
import os
import struct
import sys
import zlib

# The classic 16-colour palette, by name.
PALETTE = [
    ("black", (0x00, 0x00, 0x00)),
    ("maroon", (0x80, 0x00, 0x00)),
    ("green", (0x00, 0x80, 0x00)),
    ("olive", (0x80, 0x80, 0x00)),
    ("navy", (0x00, 0x00, 0x80)),
    ("purple", (0x80, 0x00, 0x80)),
    ("teal", (0x00, 0x80, 0x80)),
    ("silver", (0xC0, 0xC0, 0xC0)),
    ("grey", (0x80, 0x80, 0x80)),
    ("red", (0xFF, 0x00, 0x00)),
    ("lime", (0x00, 0xFF, 0x00)),
    ("yellow", (0xFF, 0xFF, 0x00)),
    ("blue", (0x00, 0x00, 0xFF)),
    ("fuchsia", (0xFF, 0x00, 0xFF)),
    ("aqua", (0x00, 0xFF, 0xFF)),
    ("white", (0xFF, 0xFF, 0xFF)),
]
INDEX = {name: i for i, (name, _) in enumerate(PALETTE)}
TRANSPARENT = len(PALETTE)  # an extra entry, fully transparent, for icons


class Canvas:
    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [[INDEX[fill] if fill else TRANSPARENT] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = INDEX[colour]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        """Draws the one-pixel border of the rectangle."""
        for x in range(x0, x1 + 1):
            self.put(x, y0, colour)
            self.put(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.put(x0, y, colour)
            self.put(x1, y, colour)

    def shade(self, colour_of):
        """Paints every pixel for which colour_of(x, y) names a colour; the
        pixel's centre is passed, so shapes scale with the canvas."""
        for y in range(self.height):
            for x in range(self.width):
                colour = colour_of(x + 0.5, y + 0.5)
                if colour:
                    self.put(x, y, colour)


def inside_polygon(x, y, points):
    inside = False
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            inside = not inside
    return inside


# The flash bolt, in units of a 32-pixel icon.
BOLT = [(19, 2), (9, 17), (15, 17), (11, 30), (24, 13), (17, 13), (22, 2)]


def draw_icon(size):
    """A silver disc with a hub, crossed by a yellow flash bolt."""
    canvas = Canvas(size, size, None)
    unit = size / 32.0  # one pixel of the 32-pixel design
    centre = size / 2.0
    outer = 15.0 * unit
    edge = max(1.0, unit)  # outlines stay one pixel wide at every size

    def disc(x, y):
        r = math.hypot(x - centre, y - centre)
        if r > outer:
            return None
        if r > outer - edge:
            return "black"
        if r < 6.0 * unit:
            return "grey"  # the hub
        # A light reflection across the upper left quarter of the disc.
        angle = math.degrees(math.atan2(y - centre, x - centre))
        return "white" if -160 < angle < -110 else "silver"

    def bolt(x, y):
        u, v = x / unit, y / unit
        if not inside_polygon(u, v, BOLT):
            return None
        if size < 32:
            return "yellow"  # too narrow at small sizes for an outline of its own
        near = edge / unit
        ring = [(u + dx * near, v + dy * near) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))]
        return "yellow" if all(inside_polygon(a, b, BOLT) for a, b in ring) else "black"

    canvas.shade(disc)
    canvas.shade(bolt)
    return canvas


def draw_computer(canvas, left):
    """Tree image 0: a monitor on its stand."""
    canvas.rect(left + 1, 1, left + 14, 11, "silver")
    canvas.frame(left + 1, 1, left + 14, 11, "black")
    canvas.rect(left + 3, 3, left + 12, 9, "navy")
    canvas.rect(left + 4, 4, left + 6, 4, "teal")  # a glint on the screen
    canvas.rect(left + 6, 12, left + 9, 13, "grey")
    canvas.rect(left + 3, 14, left + 12, 15, "silver")
    canvas.frame(left + 3, 14, left + 12, 15, "black")


def draw_drive(canvas, left):
    """Tree image 1: an optical drive with a disc going into its tray."""
    cx, cy, radius = left + 8.0, 5.0, 5.5

    def disc(x, y):
        r = math.hypot(x - cx, y - cy)
        if r > radius or r < 1.0:
            return None
        if r > radius - 1.0:
            return "black"
        return "grey" if r < 2.4 else "aqua" if x < cx - 1 and y < cy - 1 else "silver"

    canvas.shade(lambda x, y: disc(x, y) if left <= x < left + 16 else None)
    canvas.rect(left + 0, 8, left + 15, 15, "silver")
    canvas.frame(left + 0, 8, left + 15, 15, "black")
    canvas.rect(left + 2, 11, left + 10, 11, "grey")  # the tray's slot
    canvas.rect(left + 12, 12, left + 13, 13, "lime")  # the activity light
    canvas.put(left + 13, 10, "grey")  # the eject button


def draw_tree_images():
    strip = Canvas(34, 17, "red")
    draw_computer(strip, 0)
    draw_drive(strip, 16)
    return strip


def svg_icon():
    """The icon's design as SVG, in the units of the 32-pixel icon."""
    cx = cy = 16
    outer, hub = 15, 6

    def at(angle, radius):
        a = math.radians(angle)
        return f"{cx + radius * math.cos(a):.3f},{cy + radius * math.sin(a):.3f}"

    colour = {name: "#%02x%02x%02x" % rgb for name, rgb in PALETTE}
    # The reflection: the ring between hub and rim from -160 to -110 degrees.
    glint = (f"M {at(-160, hub)} L {at(-160, outer - 1)} A {outer - 1} {outer - 1} 0 0 1 "
             f"{at(-110, outer - 1)} L {at(-110, hub)} A {hub} {hub} 0 0 0 {at(-160, hub)} Z")
    bolt = " ".join(f"{x},{y}" for x, y in BOLT)
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">
  <circle cx="{cx}" cy="{cy}" r="{outer - 0.5}" fill="{colour['silver']}" stroke="{colour['black']}" stroke-width="1"/>
  <path d="{glint}" fill="{colour['white']}"/>
  <circle cx="{cx}" cy="{cy}" r="{hub}" fill="{colour['grey']}"/>
  <polygon points="{bolt}" fill="{colour['yellow']}" stroke="{colour['black']}" stroke-width="1" stroke-linejoin="round"/>
</svg>
"""


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def write_png(path, canvas):
    """An 8-bit indexed PNG; icons get a transparent extra palette entry."""
    colours = [rgb for _, rgb in PALETTE]
    uses_transparency = any(TRANSPARENT in row for row in canvas.pixels)
    if uses_transparency:
        colours.append((0, 0, 0))
    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 3, 0, 0, 0)
    palette = b"".join(bytes(rgb) for rgb in colours)
    rows = b"".join(b"\x00" + bytes(row) for row in canvas.pixels)
    chunks = [png_chunk(b"IHDR", header), png_chunk(b"PLTE", palette)]
    if uses_transparency:
        chunks.append(png_chunk(b"tRNS", bytes([255] * len(PALETTE) + [0])))
    chunks += [png_chunk(b"IDAT", zlib.compress(rows, 9)), png_chunk(b"IEND", b"")]
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + b"".join(chunks))


def bmp_rows(canvas, bits, index_of):
    """The pixel rows of a Windows bitmap: bottom-up, packed at `bits` per
    pixel, each row padded to 4 bytes."""
    per_byte = 8 // bits
    row_bytes = (canvas.width * bits + 31) // 32 * 4
    rows = []
    for pixels in reversed(canvas.pixels):
        packed = bytearray(row_bytes)
        for x, pixel in enumerate(pixels):
            shift = (per_byte - 1 - x % per_byte) * bits
            packed[x // per_byte] |= index_of(pixel) << shift
        rows.append(bytes(packed))
    return b"".join(rows)


def bitmap_info(width, height, bits, image_size):
    """A BITMAPINFOHEADER and the 16-colour palette (blue, green, red, 0)."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 0, 0,
                         len(PALETTE), len(PALETTE))
    return header + b"".join(bytes((b, g, r, 0)) for _, (r, g, b) in PALETTE)


def icon_image(canvas):
    """One image of an icon file: 4-bit colours, then the 1-bit mask whose set
    bits are the transparent pixels (their colour bits stay black)."""
    colours = bmp_rows(canvas, 4, lambda p: 0 if p == TRANSPARENT else p)
    mask = bmp_rows(canvas, 1, lambda p: 1 if p == TRANSPARENT else 0)
    # An icon's header counts the colour and the mask rows together.
    info = bitmap_info(canvas.width, 2 * canvas.height, 4, len(colours) + len(mask))
    return info + colours + mask


def write_ico(path, canvases):
    """A Windows icon file holding one 16-colour image per canvas."""
    images = [icon_image(canvas) for canvas in canvases]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for canvas, image in zip(canvases, images):
        entries += struct.pack("<BBBBHHII", canvas.width, canvas.height, len(PALETTE), 0, 1, 4,
                               len(image), offset)
        offset += len(image)
    with open(path, "wb") as out:
        out.write(directory + entries + b"".join(images))


def write_bmp(path, canvas):
    """A Windows bitmap file, 8 bits per pixel over the 16-colour palette."""
    rows = bmp_rows(canvas, 8, lambda p: p)
    info = bitmap_info(canvas.width, canvas.height, 8, len(rows))
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    with open(path, "wb") as out:
        out.write(header + info + rows)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    icons = [draw_icon(32), draw_icon(16)]
    tree_images = draw_tree_images()
    write_png(os.path.join(out_dir, "tslflash_32.png"), icons[0])
    write_png(os.path.join(out_dir, "tslflash_16.png"), icons[1])
    write_png(os.path.join(out_dir, "tree_images.png"), tree_images)
    write_ico(os.path.join(out_dir, "tslflash.ico"), icons)
    write_bmp(os.path.join(out_dir, "tree_images.bmp"), tree_images)
    for size in (16, 32, 48, 64, 128, 256):
        folder = os.path.join(out_dir, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, "tslflash.png"), draw_icon(size))
    folder = os.path.join(out_dir, "hicolor", "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "tslflash.svg"), "w", encoding="utf-8") as out:
        out.write(svg_icon())


if __name__ == "__main__":
    main()
