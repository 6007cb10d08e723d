#!/usr/bin/env python3
"""Makes the fixtures of the extraction and builder end-to-end suites.

    make_extraction_fixtures.py STUB SELFX OUT_DIR [--run-stub RUN_STUB]

STUB is the built selfx-stub.exe, SELFX the host build of the selfx tool. With --run-stub
every archive runs with RUN_STUB instead (the 64-bit test build; see run_stub.py). In OUT_DIR:

  extraction_tree/           a small tree: text, random and repetitive data, an empty file,
                             a name with blanks, nested folders; fixed times
  info_zip_stored.exe        that tree packed by Info-ZIP zip -0
  info_zip_deflated.exe      ... by zip -9
  info_zip_encrypted.exe     ... by zip -e -P, password PASSWORD below
  seven_zip.exe              ... by 7z a -tzip
  python_zipfile.exe         ... by Python's zipfile, stored and deflated entries mixed
  selfx_tree/                a tree of a few thousand files: names with blanks and letters
                             of code page 1252, empty files, empty and nested folders
  selfx_tree.exe             that tree packed by `selfx build`
  selfx_secret_tree/         a small tree
  selfx_secret.exe           packed by `selfx build --password-file`, password PASSWORD

Each .exe is a combined program: the stub, a configuration block with its trailer (no
folder, command or question) and the archive as the tool wrote it. Every file time lies on
an even second, so that a DOS time holds it exactly, and the archives are made in the time
zone that CTest gives this step (the tests run in the same one).
"""
import os
import pathlib
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

from make_fixtures import config_block
from run_stub import split_arguments, swap_stub

PASSWORD = "open sesame"
# The wrong passwords the tests type. The header check compares one byte, so about one wrong
# password in 256 passes it and then fails the CRC instead of being asked for again; an
# archive whose random header lets one of these through is made again.
WRONG_PASSWORDS = ["not the password", "wrong 1", "wrong 2", "wrong 3",
                   "Open sesame", "open sesam", "open sesame "]


def crc_step(crc, byte):
    crc ^= byte
    for _ in range(8):
        crc = (crc >> 1) ^ 0xEDB88320 if crc & 1 else crc >> 1
    return crc


def header_accepts(archive_path, password):
    """Whether the password passes the check byte of the first file entry's header, as the
    stub checks it before anything else."""
    with zipfile.ZipFile(archive_path) as zf:
        info = next(i for i in zf.infolist() if not i.filename.endswith("/"))
        raw = archive_path.read_bytes()
    at = info.header_offset
    name_length, extra_length = struct.unpack_from("<HH", raw, at + 26)
    header = raw[at + 30 + name_length + extra_length:][:12]
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(byte):
        keys[0] = crc_step(keys[0], byte)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = crc_step(keys[2], keys[1] >> 24)

    for byte in password.encode("latin-1"):
        update(byte)
    plain = 0
    for byte in header:
        t = (keys[2] | 2) & 0xFFFF
        plain = byte ^ (((t * (t ^ 1)) >> 8) & 0xFF)
        update(plain)
    if info.flag_bits & 8:
        # Sizes and CRC in a data descriptor: the check byte is the DOS time's high byte.
        hour, minute, second = info.date_time[3:]
        check = (hour << 11 | minute << 5 | second // 2) >> 8
    else:
        check = info.CRC >> 24
    return plain == check


def refuses_wrong_passwords(archive_path):
    return not any(header_accepts(archive_path, wrong) for wrong in WRONG_PASSWORDS)

# A few moments spread over the years the DOS format can hold, each on an even second.
TIMES = [
    time.mktime((1991, 3, 14, 9, 26, 52, 0, 0, -1)),
    time.mktime((1999, 12, 31, 23, 59, 58, 0, 0, -1)),
    time.mktime((2008, 2, 29, 12, 0, 0, 0, 0, -1)),
    time.mktime((2020, 6, 1, 7, 30, 14, 0, 0, -1)),
    time.mktime((2037, 1, 19, 3, 14, 6, 0, 0, -1)),
]


def write_file(root, name, data, when):
    path = root / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    os.utime(path, (when, when))


def make_extraction_tree(root):
    """Small enough to look at, varied enough to reach the decoder's corners: data that does
    not shrink (stored by the tools), distances across the whole 32 KiB window, runs of the
    longest match, an empty file."""
    rng = random.Random(4)
    lines = b"".join(b"line %d of a text file that repeats itself with a counter\r\n" % i
                     for i in range(6000))
    files = {
        "readme.txt": b"Read me first.\r\n" * 3,
        "empty.txt": b"",
        "name with spaces.txt": b"a name with blanks in it\r\n",
        "data/random.bin": rng.randbytes(150000),
        "data/text.txt": lines,
        "data/zeros.bin": bytes(100000),
        "data/mixed.bin": rng.randbytes(30000) + lines[:40000] + rng.randbytes(5000),
        "nested/a/b/deep.txt": b"deep down\r\n",
    }
    for index, (name, data) in enumerate(sorted(files.items())):
        write_file(root, name, data, TIMES[index % len(TIMES)])
    return sorted(files)


def archive_members(root):
    """Every file and folder under root, folders with a trailing "/", in sorted order, so
    that each tool packs them in the same order whatever the file system lists first."""
    members = []
    for path in sorted(root.rglob("*")):
        name = path.relative_to(root).as_posix()
        members.append(name + "/" if path.is_dir() else name)
    return sorted(members)


def combine(stub, archive, out):
    out.write_bytes(stub + config_block() + archive.read_bytes())


def make_real_tool_archives(stub, tree, work, out_dir):
    members = archive_members(tree)
    files = [m for m in members if not m.endswith("/")]

    def info_zip(name, options):
        archive = work / (name + ".zip")
        subprocess.run(["zip", "-q"] + options + [str(archive)] + members, cwd=tree, check=True)
        return archive

    archives = {
        "info_zip_stored": info_zip("info_zip_stored", ["-0"]),
        "info_zip_deflated": info_zip("info_zip_deflated", ["-9"]),
    }
    while True:
        encrypted = work / "info_zip_encrypted.zip"
        encrypted.unlink(missing_ok=True)
        info_zip("info_zip_encrypted", ["-6", "-e", "-P", PASSWORD])
        if refuses_wrong_passwords(encrypted):
            break
    archives["info_zip_encrypted"] = encrypted

    seven = work / "seven_zip.zip"
    # 7z takes a list file: every file, so that its own folder walk plays no part.
    listing = work / "seven_zip.list"
    listing.write_text("\n".join(files) + "\n")
    subprocess.run(["7z", "a", "-tzip", "-mx=7", str(seven), "@" + str(listing)], cwd=tree,
                   check=True, stdout=subprocess.DEVNULL)
    archives["seven_zip"] = seven

    python = work / "python_zipfile.zip"
    with zipfile.ZipFile(python, "w") as zf:
        for name in members:
            method = zipfile.ZIP_STORED if name.endswith(".bin") else zipfile.ZIP_DEFLATED
            zf.write(tree / name, name, compress_type=method)
    archives["python_zipfile"] = python

    for name, archive in archives.items():
        subprocess.run(["unzip", "-tqq", "-P", PASSWORD, str(archive)], check=True)
        combine(stub, archive, out_dir / (name + ".exe"))
    methods = {info.compress_type
               for info in zipfile.ZipFile(archives["python_zipfile"]).infolist()}
    if methods != {zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED}:
        sys.exit("python_zipfile: expected stored and deflated entries, got %s" % methods)


def make_selfx_tree(root):
    """A few thousand files in the manner of tests/compare/build_tree.sh, smaller files."""
    rng = random.Random(1234)
    names = ["plain", "with blank", "Grüße", "café au lait", "naïve", "Ærø", "señor", "x"]
    count = 0
    for a in range(12):
        for b in range(10):
            folder = root / f"{names[a % len(names)]} {a}" / f"sub {b}"
            folder.mkdir(parents=True, exist_ok=True)
            for c in range(25):
                kind = (a + b + c) % 4
                if kind == 0:
                    data = b""
                elif kind == 1:
                    data = ("line %d of a text file\r\n" % c).encode() * rng.randint(1, 300)
                elif kind == 2:
                    data = rng.randbytes(rng.randint(1, 6000))
                else:
                    data = bytes(rng.randint(0, 3) for _ in range(rng.randint(1, 3000)))
                when = 400000000 + rng.randint(0, 1200000000) // 2 * 2
                write_file(folder, f"{names[(a + c) % len(names)]}-{c}.txt", data, when)
                count += 1
    (root / "empty folder" / "nested empty").mkdir(parents=True)
    return count


def make_selfx_archives(stub_path, run_stub, selfx, work, out_dir):
    tree = out_dir / "selfx_tree"
    count = make_selfx_tree(tree)
    subprocess.run([selfx, "build", "--stub", stub_path, "-o", str(out_dir / "selfx_tree.exe"),
                    str(tree)], check=True, stdout=subprocess.DEVNULL)
    swap_stub(out_dir / "selfx_tree.exe", run_stub)

    secret = out_dir / "selfx_secret_tree"
    for index, (name, data) in enumerate([("first.txt", b"the first secret\r\n" * 50),
                                          ("folder/second.bin", random.Random(6).randbytes(9000)),
                                          ("folder/empty.txt", b"")]):
        write_file(secret, name, data, TIMES[index])
    password = work / "password"
    password.write_text(PASSWORD + "\n")
    while True:
        subprocess.run([selfx, "build", "--stub", stub_path, "--password-file", str(password),
                        "-o", str(out_dir / "selfx_secret.exe"), str(secret)],
                       check=True, stdout=subprocess.DEVNULL)
        if refuses_wrong_passwords(out_dir / "selfx_secret.exe"):
            break
    swap_stub(out_dir / "selfx_secret.exe", run_stub)
    return count


def main():
    arguments, run_stub = split_arguments(sys.argv[1:])
    if len(arguments) != 3:
        sys.exit(__doc__)
    stub_path, selfx, out_dir = arguments[0], arguments[1], pathlib.Path(arguments[2])
    if not os.access(selfx, os.X_OK):
        sys.exit(f"{selfx} is not there: build the host preset first (cmake --build --preset host)")
    stub = run_stub if run_stub is not None else pathlib.Path(stub_path).read_bytes()
    out_dir.mkdir(parents=True, exist_ok=True)
    for name in ["extraction_tree", "selfx_tree", "selfx_secret_tree"]:
        shutil.rmtree(out_dir / name, ignore_errors=True)
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        tree = out_dir / "extraction_tree"
        make_extraction_tree(tree)
        make_real_tool_archives(stub, tree, work, out_dir)
        count = make_selfx_archives(stub_path, run_stub, selfx, work, out_dir)
    print(f"extraction fixtures written to {out_dir} (selfx tree: {count} files)")


if __name__ == "__main__":
    main()
