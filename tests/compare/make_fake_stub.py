#!/usr/bin/env python3
"""Writes the smallest PE32 image selfx build accepts as a stub: one section whose raw data
ends the file. It lets the host tests make combined files without a Windows toolchain."""
import struct
import sys

stub = bytearray(0x400)
stub[0:2] = b"MZ"
struct.pack_into("<I", stub, 0x3C, 0x80)
stub[0x80:0x88] = b"PE\0\0\x4c\x01\x01\x00"  # i386, one section
struct.pack_into("<H", stub, 0x80 + 20, 224)  # the standard optional header
struct.pack_into("<H", stub, 0x80 + 24, 0x10B)  # PE32
struct.pack_into("<II", stub, 0x80 + 248 + 16, 0x200, 0x200)  # raw data 0x200..0x400
open(sys.argv[1], "wb").write(stub)
