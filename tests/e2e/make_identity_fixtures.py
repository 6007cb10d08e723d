#!/usr/bin/env python3
"""Makes the fixtures of the maker's-identity end-to-end suite.

    make_identity_fixtures.py STUB SELFX OUT_DIR

STUB is the built selfx-stub.exe, SELFX the host build of the selfx tool. In OUT_DIR:

  identity_tree/        one small file
  identity_plain.exe    that tree packed by `selfx build` without identity options
  identity.exe          ... with --icon (a solid red icon: two bitmaps and a 256-pixel PNG) and
                        --version-info (the values in VERSION_INFO below)
  identity_signed.exe   identity.exe signed by osslsigncode with a key and self-signed
                        certificate made here by openssl, and checked by osslsigncode verify
"""
import pathlib
import shutil
import struct
import sys
import tempfile
import zlib

from make_signing_fixtures import Signer, run

VERSION_INFO = {
    "FileDescription": "Gr\u00fc\u00dfe installer",
    "CompanyName": "Example Makers",
    "FileVersion": "3.4.5.6",
    "ProductVersion": "3.4 beta",
}
RED = (255, 0, 0)


def bitmap(size, color):
    """A 32-bit icon bitmap: the header for twice the height, the pixels, the mask rows."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    blue_green_red_alpha = bytes([color[2], color[1], color[0], 255])
    mask_row = (size + 31) // 32 * 4
    return header + blue_green_red_alpha * size * size + bytes(mask_row * size)


def png(size, color):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    rows = b"".join(b"\0" + bytes([*color, 255]) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def icon_file(images):
    """An .ico file of (size, image bytes) pairs."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                               offset + len(data))
        data += image
    return header + entries + data


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    stub, selfx, out_dir = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    out_dir.mkdir(parents=True, exist_ok=True)
    tree = out_dir / "identity_tree"
    shutil.rmtree(tree, ignore_errors=True)
    tree.mkdir()
    (tree / "readme.txt").write_bytes(b"Made by Example Makers.\r\n" * 40)
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        icon = work / "maker.ico"
        icon.write_bytes(icon_file([(16, bitmap(16, RED)), (32, bitmap(32, RED)),
                                    (256, png(256, RED))]))
        build = [selfx, "build", "-q", "--stub", stub]
        run(build + ["-o", str(out_dir / "identity_plain.exe"), str(tree)])
        identity = build + ["--icon", str(icon)]
        for key, value in VERSION_INFO.items():
            identity += ["--version-info", f"{key}={value}"]
        run(identity + ["-o", str(out_dir / "identity.exe"), str(tree)])

        signer = Signer(work)
        signed = out_dir / "identity_signed.exe"
        signer.sign(out_dir / "identity.exe", signed)
        signer.verify(signed, 1)
    print(f"identity fixtures written to {out_dir}")


if __name__ == "__main__":
    main()
