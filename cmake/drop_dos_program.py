#!/usr/bin/env python3
"""Removes the DOS program from a linked PE image, in place.

The linker puts a 64-byte program between the DOS header and the PE headers that prints "This
program cannot be run in DOS mode". Nothing runs it any more, and for the stub it is what makes
the headers one byte-alignment step too large: the DOS header, the PE headers and five section
headers fill exactly 512 bytes without it, and 576 with it, which the file alignment rounds up
to 1,024. Every archive carries the stub, so the PE headers move up to directly behind the DOS
header, the headers shrink to the alignment step they now fit in, every section's data moves
down by what was saved, and the header checksum is computed again.

An image this script does not fully understand is left as it is with an error: one with a
symbol table, a certificate table or debug data (their file offsets would have to move too).

usage: drop_dos_program.py IMAGE
"""
import struct
import sys

DOS_HEADER_SIZE = 0x40
OPTIONAL_HEADER = 24  # the PE signature and the file header come before it
CHECKSUM = OPTIONAL_HEADER + 64
FILE_ALIGNMENT = OPTIONAL_HEADER + 36
SIZE_OF_HEADERS = OPTIONAL_HEADER + 60
DATA_DIRECTORIES = OPTIONAL_HEADER + 96
CERTIFICATE_TABLE = 4
DEBUG_DATA = 6
SECTION_HEADER_SIZE = 40
RAW_DATA_POINTER = 20


def checksum(image, checksum_at):
    """The PE header checksum: 16-bit one's-complement-style sum of the file with the checksum
    field taken as zero, plus the file's length."""
    data = bytearray(image)
    data[checksum_at:checksum_at + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def drop_dos_program(image):
    """Returns the image without its DOS program, or the image itself when it has none."""
    if image[:2] != b"MZ":
        raise ValueError("not an MZ image")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE headers")
    if pe == DOS_HEADER_SIZE:
        return image
    if pe < DOS_HEADER_SIZE:
        raise ValueError("the PE headers overlap the DOS header")
    sections, = struct.unpack_from("<H", image, pe + 6)
    symbols, = struct.unpack_from("<I", image, pe + 12)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    alignment, = struct.unpack_from("<I", image, pe + FILE_ALIGNMENT)
    old_headers_size, = struct.unpack_from("<I", image, pe + SIZE_OF_HEADERS)
    if symbols != 0:
        raise ValueError("the image has a symbol table")
    for directory in (CERTIFICATE_TABLE, DEBUG_DATA):
        if struct.unpack_from("<II", image, pe + DATA_DIRECTORIES + 8 * directory) != (0, 0):
            raise ValueError("the image has data directory %d, which holds file offsets" %
                             directory)
    headers_end = pe + OPTIONAL_HEADER + optional_size + SECTION_HEADER_SIZE * sections
    if any(image[headers_end:old_headers_size]):
        raise ValueError("something lies between the section headers and the first section")
    headers = image[pe:headers_end]
    new_end = DOS_HEADER_SIZE + len(headers)
    new_headers_size = (new_end + alignment - 1) // alignment * alignment
    saved = old_headers_size - new_headers_size
    if saved <= 0:
        return image

    out = bytearray(image[:DOS_HEADER_SIZE])
    struct.pack_into("<I", out, 0x3C, DOS_HEADER_SIZE)
    out += headers
    out += bytes(new_headers_size - new_end)
    out += image[old_headers_size:]
    pe = DOS_HEADER_SIZE
    struct.pack_into("<I", out, pe + SIZE_OF_HEADERS, new_headers_size)
    for i in range(sections):
        at = pe + OPTIONAL_HEADER + optional_size + SECTION_HEADER_SIZE * i + RAW_DATA_POINTER
        pointer, = struct.unpack_from("<I", out, at)
        if pointer != 0:
            struct.pack_into("<I", out, at, pointer - saved)
    struct.pack_into("<I", out, pe + CHECKSUM, checksum(out, pe + CHECKSUM))
    return bytes(out)


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        image = f.read()
    try:
        result = drop_dos_program(image)
    except ValueError as e:
        sys.exit("%s: %s" % (path, e))
    if result is not image:
        with open(path, "wb") as f:
            f.write(result)


if __name__ == "__main__":
    main()
