"""The stub that the fixtures' archives run with.

The builder packs with a 32-bit stub only. Where the end-to-end suites run the 64-bit test
build of the stub, the fixture scripts take that one with --run-stub FILE: the builder packs
with STUB as before, and the stub in front of each archive it wrote is then swapped for FILE.
The archive behind it needs no change, as the stub reads the ZIP offsets relative to where it
finds the end record, and the configuration block begins wherever the image ends."""
import pathlib
import struct


def image_end(data):
    """Where the raw data of a PE32 image's last section ends: the builder's overlay."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    end = 0
    for i in range(sections):
        size, pointer = struct.unpack_from("<II", data, table + 40 * i + 16)
        end = max(end, size + pointer)
    return end


def swap_stub(path, run_stub):
    """Puts the stub run_stub (bytes, or None to keep the file as it is) in front of what the
    builder appended to its own stub in the file at path."""
    if run_stub is None:
        return
    path = pathlib.Path(path)
    data = path.read_bytes()
    path.write_bytes(run_stub + data[image_end(data):])


def split_arguments(arguments):
    """The positional arguments, and the bytes of the --run-stub FILE among them (or None)."""
    run_stub = None
    if "--run-stub" in arguments:
        at = arguments.index("--run-stub")
        run_stub = pathlib.Path(arguments[at + 1]).read_bytes()
        arguments = arguments[:at] + arguments[at + 2:]
    return arguments, run_stub
