#!/usr/bin/env python3
"""Makes the end-to-end fixtures that need real zip tools.

    make_fixtures.py STUB OUT_DIR

Writes two combined programs, each the stub, a configuration block with its trailer and an
archive made by Info-ZIP `zip` from a small tree:
  info_zip_relative.exe   the archive appended as zip wrote it (offsets from its own start)
  info_zip_adjusted.exe   the same file after `zip -A` (offsets from the file's start)
"""
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

# name -> content
TREE = {
    "docs/readme.txt": b"Read me first",
    "docs/sub/data.bin": bytes(range(256)) * 10,
    "setup.ini": b"",
}


def config_block(caption=b""):
    """The configuration block and its trailer: no folder, command or question."""
    length = 18 + len(caption)
    fixed = b"XQ\x00\x01" + struct.pack("<HHBBBBBBI", length, 0, 0, len(caption), 0, 0, 0, 0, 0)
    return fixed + caption + b"XQ\x0a\x01" + struct.pack("<I", length)


def main():
    stub_path, out_dir = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    out_dir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        tree = work / "tree"
        for name, content in TREE.items():
            path = tree / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
        archive = work / "archive.zip"
        # Named one by one, folders included, so that the order does not depend on how the
        # file system lists a folder. -0 stores; zip adds its timestamp extra field.
        names = ["docs/", "docs/readme.txt", "docs/sub/", "docs/sub/data.bin", "setup.ini"]
        subprocess.run(["zip", "-q", "-0", str(archive)] + names, cwd=tree, check=True)
        combined = stub_path.read_bytes() + config_block(b"Made with Info-ZIP") + archive.read_bytes()
        relative = out_dir / "info_zip_relative.exe"
        relative.write_bytes(combined)
        adjusted = out_dir / "info_zip_adjusted.exe"
        shutil.copyfile(relative, adjusted)
        subprocess.run(["zip", "-q", "-A", str(adjusted)], check=True)
        if adjusted.read_bytes() == combined:
            sys.exit("zip -A changed nothing")
        # unzip reads both; the unadjusted one only with a warning (exit code 1) about the
        # bytes in front of the archive.
        if subprocess.run(["unzip", "-tqq", str(relative)], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode > 1:
            sys.exit("unzip cannot read " + str(relative))
        subprocess.run(["unzip", "-tqq", str(adjusted)], check=True)
    print(f"fixtures written to {out_dir}")


if __name__ == "__main__":
    main()
