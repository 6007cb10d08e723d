#!/usr/bin/env python3
"""Checks the built stub: a PE32 image for i386 with the Windows GUI subsystem, whose file ends
exactly where its last section's raw data ends (the builder appends there), which holds none
of the four ZIP record signatures as plain bytes (a scanner looking for the archive would
otherwise stop inside the stub's code), which keeps ASLR and DEP, and which stays within its
size budget (every archive carries the stub). Prints the stub's size."""
import struct
import sys

# The stub's size budget in bytes. Every archive carries the stub; the budget holds what has
# been reached (below the 44 KiB, 45,056 bytes, it was meant to stay within) so that it grows no
# further without a reason weighed against that cost.
SIZE_BUDGET = 44032

path = sys.argv[1]
data = open(path, "rb").read()
problems = []
if data[:2] != b"MZ":
    problems.append("no MZ header")
pe = struct.unpack_from("<I", data, 0x3C)[0]
if data[pe:pe + 4] != b"PE\0\0":
    problems.append("no PE header")
machine, sections = struct.unpack_from("<HH", data, pe + 4)
optional_size = struct.unpack_from("<H", data, pe + 20)[0]
magic = struct.unpack_from("<H", data, pe + 24)[0]
subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
if machine != 0x14C:
    problems.append("machine 0x%X, not i386" % machine)
if magic != 0x10B or optional_size != 224:
    problems.append("not a PE32 image with the standard optional header")
if subsystem != 2:
    problems.append("subsystem %d, not the Windows GUI" % subsystem)
dll_characteristics = struct.unpack_from("<H", data, pe + 24 + 70)[0]
for flag, name in ((0x40, "DYNAMIC_BASE (ASLR)"), (0x100, "NX_COMPAT (DEP)")):
    if not dll_characteristics & flag:
        problems.append("%s is not set" % name)
end = 0
for i in range(sections):
    size, pointer = struct.unpack_from("<II", data, pe + 248 + 40 * i + 16)
    end = max(end, size + pointer)
if end != len(data):
    problems.append("the file is %d bytes but its image ends at %d" % (len(data), end))
for signature in (b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x07\x08"):
    at = data.find(signature)
    if at >= 0:
        problems.append("holds the ZIP signature %r at %d" % (signature, at))
if len(data) > SIZE_BUDGET:
    problems.append("the stub is %d bytes, %d over its budget of %d bytes (SIZE_BUDGET in %s): "
                    "every archive carries it, so make it smaller instead of raising the budget"
                    % (len(data), len(data) - SIZE_BUDGET, SIZE_BUDGET, sys.argv[0]))
print("selfx-stub.exe: %d bytes" % len(data))
for problem in problems:
    print("problem:", problem)
sys.exit(1 if problems else 0)
