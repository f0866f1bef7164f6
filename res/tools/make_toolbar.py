#!/usr/bin/env python3
"""Draws the port toolbar's button strip (14 images of 16 x 20 in one
224 x 20 picture, the port list's place included) and the two icons, as
PNG files for the Qt resource file beside them. Plain Python, no imaging
library: each picture is a few rectangles and lines on a pixel grid.

Usage: make_toolbar.py OUTPUT_FOLDER"""
import os
import struct
import sys
import zlib

CLEAR = (0, 0, 0, 0)
BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)
GREY = (128, 128, 128, 255)
LIGHT = (192, 192, 192, 255)
NAVY = (0, 0, 128, 255)
BLUE = (40, 100, 220, 255)
TEAL = (0, 128, 128, 255)
RED = (200, 30, 30, 255)
GREEN = (20, 150, 60, 255)
YELLOW = (240, 200, 40, 255)
BROWN = (150, 100, 40, 255)


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[CLEAR] * width for _ in range(height)]

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.dot(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour, inside=None):
        if inside:
            self.fill(x0, y0, x1, y1, inside)
        self.line(x0, y0, x1, y0, colour)
        self.line(x0, y1, x1, y1, colour)
        self.line(x0, y0, x0, y1, colour)
        self.line(x1, y0, x1, y1, colour)

    def line(self, x0, y0, x1, y1, colour):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.dot(x0, y0, colour)
            if (x0, y0) == (x1, y1):
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def blit(self, other, left):
        for y in range(other.height):
            for x in range(other.width):
                self.dot(left + x, y, other.pixels[y][x])

    def png(self, path):
        rows = b"".join(b"\0" + bytes(c for p in row for c in p) for row in self.pixels)
        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
            f.write(chunk(b"IEND", b""))


# Each button: a 16 x 20 picture, drawn in its middle 16 x 16 from y = 2.
def button(draw):
    c = Canvas(16, 20)
    draw(c)
    return c


def save(c):
    c.frame(1, 3, 14, 16, BLACK, NAVY)
    c.fill(4, 3, 11, 8, WHITE)
    c.fill(4, 11, 11, 16, LIGHT)
    c.fill(9, 12, 10, 15, NAVY)


def combo(c):
    c.frame(0, 5, 15, 14, GREY, WHITE)
    c.fill(10, 6, 14, 13, LIGHT)
    for i, w in enumerate((3, 2, 1)):
        c.line(12 - w + 1, 8 + i, 12 + w - 1, 8 + i, BLACK)


def cut(c):
    c.line(5, 3, 10, 11, GREY)
    c.line(10, 3, 5, 11, GREY)
    c.frame(2, 11, 6, 15, NAVY)
    c.frame(9, 11, 13, 15, NAVY)


def page(c, x, y, w, h):
    c.frame(x, y, x + w, y + h, BLACK, WHITE)
    for row in range(y + 2, y + h - 1, 2):
        c.line(x + 2, row, x + w - 2, row, GREY)


def copy(c):
    page(c, 1, 3, 8, 10)
    page(c, 6, 7, 8, 10)


def paste(c):
    c.frame(1, 4, 11, 17, BLACK, BROWN)
    c.fill(4, 3, 8, 5, LIGHT)
    page(c, 6, 8, 8, 9)


def printer(c):
    c.frame(4, 2, 11, 8, BLACK, WHITE)
    c.frame(1, 8, 14, 14, BLACK, LIGHT)
    c.dot(12, 10, GREEN)
    c.frame(4, 12, 11, 17, BLACK, WHITE)


def pane_window(c, top_colour, bottom_colour):
    c.frame(1, 2, 14, 17, BLACK, WHITE)
    c.fill(2, 3, 13, 4, NAVY)
    c.fill(2, 5, 13, 10, top_colour)
    c.line(2, 11, 13, 11, BLACK)
    c.fill(2, 12, 13, 16, bottom_colour)


def show_recv(c):
    pane_window(c, TEAL, WHITE)
    c.line(7, 6, 7, 9, WHITE)
    c.line(5, 8, 9, 8, WHITE)


def show_send(c):
    pane_window(c, WHITE, RED)
    c.line(7, 13, 7, 15, WHITE)
    c.line(5, 14, 9, 14, WHITE)


def eraser(c, y):
    c.line(4, y + 3, 8, y - 1, BLACK)
    c.line(8, y - 1, 12, y + 3, BLACK)
    c.line(4, y + 3, 12, y + 3, BLACK)
    c.fill(7, y + 1, 9, y + 2, YELLOW)


def clear_recv(c):
    pane_window(c, TEAL, WHITE)
    c.fill(3, 6, 12, 9, WHITE)
    eraser(c, 6)


def clear_send(c):
    pane_window(c, WHITE, RED)
    c.fill(3, 13, 12, 15, WHITE)
    eraser(c, 12)


def small_window(c, x, y, w, h):
    c.frame(x, y, x + w, y + h, BLACK, WHITE)
    c.line(x + 1, y + 1, x + w - 1, y + 1, NAVY)


def cascade(c):
    small_window(c, 1, 2, 8, 7)
    small_window(c, 4, 6, 8, 7)
    small_window(c, 7, 10, 8, 7)


def tile_horz(c):
    small_window(c, 1, 2, 14, 7)
    small_window(c, 1, 10, 14, 7)


def tile_vert(c):
    small_window(c, 1, 2, 6, 15)
    small_window(c, 8, 2, 6, 15)


def about(c):
    c.frame(3, 2, 12, 17, NAVY, BLUE)
    c.fill(7, 4, 8, 5, WHITE)
    c.fill(7, 8, 8, 15, WHITE)
    c.line(6, 8, 6, 8, WHITE)
    c.line(6, 15, 9, 15, WHITE)


BUTTONS = [save, combo, cut, copy, paste, printer, show_recv, show_send, clear_recv,
           clear_send, cascade, tile_horz, tile_vert, about]


# The icons: a serial connector with a wave over it (the program), and a
# monitor window with its two panes (the monitor document).
def program_icon():
    c = Canvas(32, 32)
    c.frame(2, 2, 29, 29, NAVY, BLUE)
    for x in range(4, 28):
        y = 10 + round(4 * __import__("math").sin((x - 4) / 3.0))
        c.fill(x, y, x, y + 1, YELLOW)
    c.line(5, 19, 26, 19, WHITE)
    c.line(5, 19, 8, 26, WHITE)
    c.line(26, 19, 23, 26, WHITE)
    c.line(8, 26, 23, 26, WHITE)
    for x in range(9, 24, 3):
        c.fill(x, 21, x + 1, 22, WHITE)
    for x in range(11, 22, 3):
        c.fill(x, 24, x, 24, WHITE)
    return c


def document_icon():
    c = Canvas(32, 32)
    c.frame(2, 3, 29, 28, BLACK, WHITE)
    c.fill(3, 4, 28, 7, NAVY)
    c.fill(3, 8, 28, 16, TEAL)
    c.line(3, 17, 28, 17, BLACK)
    c.fill(3, 18, 28, 27, RED)
    for y in (10, 13):
        c.line(6, y, 24, y, WHITE)
    for y in (20, 23):
        c.line(6, y, 20, y, WHITE)
    return c


def main():
    folder = sys.argv[1]
    strip = Canvas(16 * len(BUTTONS), 20)
    for i, draw in enumerate(BUTTONS):
        strip.blit(button(draw), 16 * i)
    strip.png(os.path.join(folder, "toolbar128.png"))
    program_icon().png(os.path.join(folder, "icon128.png"))
    document_icon().png(os.path.join(folder, "icon129.png"))


if __name__ == "__main__":
    main()
