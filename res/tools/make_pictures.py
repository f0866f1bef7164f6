#!/usr/bin/env python3
"""Draws the splash picture (138), the two frame backgrounds (139, 140) and the
start-up chime of wirelet, with nothing but the standard library.

    python3 res/tools/make_pictures.py [OUTPUT_DIR]   (default: res/)

The pictures are uncompressed 24-bit BMP files: serial lines, UART frames and
hex dumps, in the colours of a dark oscilloscope screen.
"""
import math
import os
import struct
import sys
import wave

# A 5 x 7 pixel font, just the glyphs the pictures write.
GLYPHS = {
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11110", "00001", "00001", "01110", "00001", "00001", "11110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11100", "10010", "10001", "10001", "10001", "10010", "11100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    " ": ["00000"] * 7,
    ":": ["00000", "00100", "00100", "00000", "00100", "00100", "00000"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
}


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[(0, 0, 0)] * width for _ in range(height)]

    def fill(self, colour_at):
        for y in range(self.height):
            row = self.pixels[y]
            for x in range(self.width):
                row[x] = colour_at(x, y)

    def blend(self, x, y, colour, alpha):
        if 0 <= x < self.width and 0 <= y < self.height and alpha > 0:
            r, g, b = self.pixels[y][x]
            a = min(alpha, 1.0)
            self.pixels[y][x] = (round(r + (colour[0] - r) * a), round(g + (colour[1] - g) * a),
                                 round(b + (colour[2] - b) * a))

    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        for y in range(max(y0, 0), min(y1, self.height)):
            for x in range(max(x0, 0), min(x1, self.width)):
                self.blend(x, y, colour, alpha)

    def glow_line(self, points, colour, width=1.5, glow=5.0):
        """A polyline with a soft halo, as a trace on a phosphor screen."""
        reach = int(math.ceil(width + glow))
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            x_lo, x_hi = int(min(ax, bx)) - reach, int(max(ax, bx)) + reach
            y_lo, y_hi = int(min(ay, by)) - reach, int(max(ay, by)) + reach
            dx, dy = bx - ax, by - ay
            length2 = dx * dx + dy * dy or 1.0
            for y in range(max(y_lo, 0), min(y_hi + 1, self.height)):
                for x in range(max(x_lo, 0), min(x_hi + 1, self.width)):
                    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
                    d = math.hypot(x - (ax + t * dx), y - (ay + t * dy))
                    if d <= width:
                        alpha = 1.0
                    else:
                        alpha = 0.35 * math.exp(-(d - width) / (glow / 2.5))
                    self.blend(x, y, colour, alpha)

    def text(self, x, y, string, colour, scale=1, alpha=1.0):
        for ch in string:
            rows = GLYPHS[ch]
            for gy, row in enumerate(rows):
                for gx, bit in enumerate(row):
                    if bit == "1":
                        self.rect(x + gx * scale, y + gy * scale, x + (gx + 1) * scale,
                                  y + (gy + 1) * scale, colour, alpha)
            x += 6 * scale

    def save_bmp(self, path):
        stride = (self.width * 3 + 3) & ~3
        image = bytearray()
        for y in range(self.height - 1, -1, -1):  # BMP rows run bottom-up
            row = bytearray()
            for r, g, b in self.pixels[y]:
                row += bytes((b, g, r))
            row += bytes(stride - len(row))
            image += row
        header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(image),
                           3780, 3780, 0, 0)
        with open(path, "wb") as f:
            f.write(header + info + image)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def uart_frame(byte, x0, bit_width, y_idle, y_low):
    """The line of one 8N1 character: start bit, eight data bits LSB first, stop bit."""
    bits = [0] + [(byte >> i) & 1 for i in range(8)] + [1]
    points, x, level = [(x0 - bit_width, y_idle)], x0, 1
    for bit in bits:
        if bit != level:
            points.append((x, y_idle if level else y_low))
            points.append((x, y_idle if bit else y_low))
            level = bit
        x += bit_width
        points.append((x, y_idle if level else y_low))
    return points


def grid(canvas, step, colour, alpha):
    for x in range(0, canvas.width, step):
        canvas.rect(x, 0, x + 1, canvas.height, colour, alpha)
    for y in range(0, canvas.height, step):
        canvas.rect(0, y, canvas.width, y + 1, colour, alpha)


def hex_rows(canvas, x, y, data, colour, alpha, rows, per_row=16):
    for r in range(rows):
        chunk = data[(r * per_row) % len(data):][:per_row]
        line = "%04X: " % (r * per_row) + " ".join("%02X" % b for b in chunk)
        canvas.text(x, y + r * 11, line, colour, 1, alpha)


def splash(path):
    c = Canvas(632, 425)
    top, bottom = (8, 20, 38), (4, 46, 60)
    c.fill(lambda x, y: mix(top, bottom, y / 424))
    grid(c, 24, (60, 140, 160), 0.12)
    message = b"WIRELET"
    hex_rows(c, 24, 292, bytes(range(0x30, 0x7A)), (90, 200, 210), 0.35, 9)
    x = 44
    for byte in message:
        c.glow_line(uart_frame(byte, x, 6, 190, 232), (80, 240, 200))
        c.text(x + 18, 158, "%02X" % byte, (255, 196, 90), 2)
        x += 6 * 10 + 21
    c.text(90, 50, "WIRELET", (235, 250, 255), 11)
    c.text(484, 398, "115200 8N1", (150, 210, 220), 2)
    c.rect(0, 0, 632, 3, (80, 240, 200))
    c.rect(0, 422, 632, 425, (255, 196, 90))
    c.save_bmp(path)


def background_first(path):
    c = Canvas(357, 364)
    a, b = (22, 34, 48), (36, 70, 88)
    c.fill(lambda x, y: mix(a, b, (x + y) / (357 + 364)))
    grid(c, 17, (110, 170, 190), 0.10)
    hex_rows(c, 12, 14, bytes((i * 37 + 11) & 0xFF for i in range(256)), (130, 200, 215), 0.22,
             31, 8)
    wave_points = [(x, 182 + 60 * math.sin(x / 357 * 4 * math.pi)) for x in range(-4, 362, 3)]
    c.glow_line(wave_points, (120, 230, 255), 1.2, 6)
    c.save_bmp(path)


def background_second(path):
    c = Canvas(636, 474)
    a, b = (40, 24, 44), (16, 40, 56)
    c.fill(lambda x, y: mix(a, b, x / 635) if y % 2 else mix(a, b, x / 635 * 0.96))
    grid(c, 53, (200, 170, 220), 0.12)
    for lane, (byte, colour) in enumerate([(0x55, (255, 190, 110)), (0xA5, (120, 240, 200)),
                                           (0x0D, (180, 170, 255))]):
        y = 90 + lane * 140
        x = 30
        while x < 636:
            c.glow_line(uart_frame(byte, x, 9, y, y + 50), colour, 1.4, 6)
            x += 9 * 10 + 46
        c.text(8, y - 28, "%02X" % byte, colour, 3, 0.8)
    c.save_bmp(path)


def chime(path, rate=22050):
    """Two soft bell tones a fifth apart, the second starting as the first fades."""
    notes = [(0.00, 1318.5, 0.55), (0.12, 1975.5, 0.45)]
    length = int(rate * 0.9)
    samples = []
    for n in range(length):
        t = n / rate
        v = 0.0
        for start, freq, amp in notes:
            if t >= start:
                u = t - start
                attack = min(1.0, u / 0.004)
                v += amp * attack * math.exp(-u * 5.5) * (
                    math.sin(2 * math.pi * freq * u) + 0.25 * math.sin(4 * math.pi * freq * u))
        samples.append(max(-32767, min(32767, int(v * 0.55 * 32767))))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    splash(os.path.join(out, "bitmap138.bmp"))
    background_first(os.path.join(out, "bitmap139.bmp"))
    background_second(os.path.join(out, "bitmap140.bmp"))
    chime(os.path.join(out, "SplashWindow.wav"))


if __name__ == "__main__":
    main()
