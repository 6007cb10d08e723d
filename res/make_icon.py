#!/usr/bin/env python3
"""Draws the stub's icon "UNZIP" (32x32, 16 colours): a yellow folder opened by a zipper.

Run it to regenerate unzip.ico after changing the picture below."""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# One character a pixel: "." transparent, otherwise the palette index in hex.
# 3 olive outline, b yellow folder, f white highlight, 0 black teeth, 7 silver teeth,
# 8 grey pull, 9 red pull tab.
PICTURE = """
................................
................................
................................
...33333333.....................
..3bbbbbbbb3....................
..3bffffffbb3333333333333333....
..3bbbbbbbbbbbbbbbbbbbbbbbbb3...
..33333333333333333333333333333.
..3fffffffffffff07ffffffffffff3.
..3bbbbbbbbbbbb8888bbbbbbbbbbb3.
..3bbbbbbbbbbbb8998bbbbbbbbbbb3.
..3bbbbbbbbbbbb8998bbbbbbbbbbb3.
..3bbbbbbbbbbbb8888bbbbbbbbbbb3.
..3bbbbbbbbbbbbb88bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb70bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb70bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb70bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb70bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb70bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb70bbbbbbbbbbbb3.
..3bbbbbbbbbbbbb07bbbbbbbbbbbb3.
..3bbbbbbbbbbbbbbbbbbbbbbbbbbb3.
..333333333333333333333333333333
...33333333333333333333333333333
................................
................................
""".split()


def main(path):
    assert len(PICTURE) == 32 and all(len(row) == 32 for row in PICTURE)
    rows = PICTURE[::-1]  # bitmaps are stored bottom-up
    pixels = b""
    mask = b""
    for row in rows:
        indices = [0 if c == "." else int(c, 16) for c in row]
        pixels += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, 32, 2))
        bits = "".join("1" if c == "." else "0" for c in row)
        mask += int(bits, 2).to_bytes(4, "big")
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(pixels) + len(mask), 0, 0,
                         16, 0)
    image = header + palette + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4,
                                                            len(image), 22)
    with open(path, "wb") as out:
        out.write(directory + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "unzip.ico")
