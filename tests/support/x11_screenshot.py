#!/usr/bin/env python3
"""Writes the whole screen of an X server (DISPLAY) as a PNG file: what a person at that display would see.
Needs only libX11 (the test machines have no image tools).

Usage: x11_screenshot.py OUTPUT.png
"""
import ctypes
import ctypes.util
import struct
import sys
import zlib


class XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, as far as they are read here.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


def png(width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                              ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("x11_screenshot: cannot open the display")
    width, height = x11.XDisplayWidth(display, 0), x11.XDisplayHeight(display, 0)
    all_planes, z_pixmap = 0xFFFFFFFF, 2
    image = x11.XGetImage(display, x11.XDefaultRootWindow(display), 0, 0, width, height, all_planes, z_pixmap)
    if not image:
        sys.exit("x11_screenshot: the server gave no image")
    image = image.contents
    if image.bits_per_pixel != 32 or image.red_mask != 0xFF0000 or image.blue_mask != 0xFF:
        sys.exit("x11_screenshot: only 24-bit TrueColor screens (Xvfb's -screen 0 WxHx24) are read")
    data = ctypes.string_at(image.data, image.bytes_per_line * height)
    rows = []
    for y in range(height):
        line = data[y * image.bytes_per_line:y * image.bytes_per_line + 4 * width]
        # BGRX in memory (little-endian) to RGB.
        rgb = bytearray(3 * width)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(bytes(rgb))
    with open(sys.argv[1], "wb") as out:
        out.write(png(width, height, rows))


if __name__ == "__main__":
    main()
