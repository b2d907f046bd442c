"""Screenshots of an X display without extra packages: xwd's dump, parsed here,
and a plain PNG writer for the README's picture."""
import re
import struct
import subprocess
import zlib


class Image:
    """Pixels as 0xRRGGBB integers, row by row."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def at(self, x, y):
        return self.pixels[y * self.width + x]

    def crop(self, x0, y0, width, height):
        rows = [self.pixels[(y0 + y) * self.width + x0:(y0 + y) * self.width + x0 + width] for y in range(height)]
        return Image(width, height, [p for row in rows for p in row])

    def write_png(self, path):
        raw = b"".join(b"\x00" + b"".join(struct.pack(">I", p)[1:] for p in
                                          self.pixels[y * self.width:(y + 1) * self.width])
                       for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
            f.write(chunk(b"IEND", b""))


def _channel(value, mask):
    shift = (mask & -mask).bit_length() - 1
    top = mask >> shift
    return ((value & mask) >> shift) * 255 // top


def capture(display, window="root"):
    """A window of `display` (the root by default) as xwd dumps it, converted to 0xRRGGBB."""
    target = ["-root"] if window == "root" else ["-id", str(window)]
    dump = subprocess.run(["xwd", "-silent", *target, "-display", display], capture_output=True,
                          check=True).stdout
    header = struct.unpack(">25I", dump[:100])
    header_size, _, _, depth, width, height = header[0:6]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    red_mask, green_mask, blue_mask = header[14], header[15], header[16]
    ncolors = header[19]
    offset = header_size + ncolors * 12
    # 24-bit pixels may come padded to 4 bytes; the line length tells.
    size = 4 if bits_per_pixel == 24 and bytes_per_line >= 4 * width else bits_per_pixel // 8
    pixels = []
    for y in range(height):
        row = dump[offset + y * bytes_per_line: offset + y * bytes_per_line + width * size]
        for x in range(0, width * size, size):
            value = int.from_bytes(row[x:x + size], "big" if byte_order else "little")
            pixels.append((_channel(value, red_mask) << 16) | (_channel(value, green_mask) << 8)
                          | _channel(value, blue_mask))
    return Image(width, height, pixels), depth


def find_window(display, width=640, height=480):
    """Id of the first top-level window of the given size, or None."""
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display], capture_output=True,
                          text=True, check=True).stdout
    match = re.search(r"^\s+(0x[0-9a-f]+) .*\b%dx%d\+" % (width, height), tree, re.M)
    return int(match.group(1), 16) if match else None


def capture_window(display, width=640, height=480):
    """The program's window, or None while there is none (a window of a
    program just ended may still be listed and be gone when dumped)."""
    window = find_window(display, width, height)
    if window is None:
        return None
    try:
        image, _ = capture(display, window)
    except subprocess.CalledProcessError:
        return None
    return image
