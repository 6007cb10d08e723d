#!/usr/bin/env python3
"""Makes the fixtures of the signed-archive end-to-end suite.

    make_signing_fixtures.py STUB SELFX OUT_DIR [--run-stub RUN_STUB]

STUB is the built selfx-stub.exe, SELFX the host build of the selfx tool; with --run-stub
each archive runs with RUN_STUB instead, swapped in before it is signed (the 64-bit test
build; see run_stub.py). A key and a
self-signed certificate are made with openssl, every signature with osslsigncode, and every
signed file passes `osslsigncode verify` against that certificate. In OUT_DIR:

  signing_tree/                    a small tree (as the extraction suites' tree)
  signed_padded.exe                the tree built --unattended, then signed; its size before
                                   signing was one byte past a multiple of 8, so the signer
                                   put 7 zero bytes of padding before its table
  signed_aligned.exe               ... with a size that needed no padding
  signed_twice.exe                 signed_padded with a second, nested signature (-nest)
  signed_again.exe                 signed_padded signed once more (the signature replaced)
  signed_after_removal.exe         signed_padded with its signature removed, then signed
  signed_stub_build.exe            built with a signed copy of STUB (the builder leaves the
                                   stub's signature out), then signed
  signature_not_at_end.exe         signed_padded with one byte behind its table: the table no
                                   longer ends the file, so the file is damaged as before
  signature_removed.exe            signed_padded with its signature removed: the signer's
                                   padding stays behind the end record, so it is damaged

Every file time lies on an even second (DOS times hold it exactly), and the archives are made
in the time zone that CTest gives this step; the tests run in the same one.
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile

from make_extraction_fixtures import make_extraction_tree
from run_stub import split_arguments, swap_stub


def run(command, **options):
    result = subprocess.run(command, capture_output=True, text=True, **options)
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s%s" % (result.returncode, " ".join(map(str, command)),
                                             result.stdout, result.stderr))
    return result


class Signer:
    def __init__(self, work):
        if shutil.which("osslsigncode") is None:
            sys.exit("osslsigncode is not installed (scripts/setup installs it)")
        self.key = work / "key.pem"
        self.cert = work / "cert.pem"
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=selfx e2e", "-keyout", self.key, "-out", self.cert])

    def sign(self, source, target, nest=False):
        target.unlink(missing_ok=True)  # osslsigncode does not replace a file
        run(["osslsigncode", "sign"] + (["-nest"] if nest else []) +
            ["-certs", self.cert, "-key", self.key, "-in", source, "-out", target])

    def remove(self, source, target):
        target.unlink(missing_ok=True)
        run(["osslsigncode", "remove-signature", "-in", source, "-out", target])

    def verify(self, path, signatures):
        output = run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path]).stdout
        if "Number of verified signatures: %d" % signatures not in output:
            sys.exit("%s: expected %d verified signatures\n%s" % (path, signatures, output))


def main():
    arguments, run_stub = split_arguments(sys.argv[1:])
    if len(arguments) != 3:
        sys.exit(__doc__)
    stub, selfx, out_dir = arguments[0], arguments[1], pathlib.Path(arguments[2])
    out_dir.mkdir(parents=True, exist_ok=True)
    tree = out_dir / "signing_tree"
    shutil.rmtree(tree, ignore_errors=True)
    make_extraction_tree(tree)

    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        signer = Signer(work)

        def build(output, caption_length, stub_path=stub):
            caption = ["--caption", "c" * caption_length] if caption_length else []
            result = run([selfx, "build", "-q", "--unattended", "--stub", stub_path] + caption +
                         ["-o", output, tree])
            swap_stub(output, run_stub)
            return result

        # A caption moves the archive's end by its length: one that makes the size a multiple
        # of 8, and one a byte more.
        build(work / "probe.exe", 0)
        aligning = -(work / "probe.exe").stat().st_size % 8
        for name, caption_length, padding in [("signed_aligned", aligning, 0),
                                              ("signed_padded", aligning + 1, 7)]:
            unsigned = work / (name + ".unsigned.exe")
            build(unsigned, caption_length)
            signer.sign(unsigned, out_dir / (name + ".exe"))
            signer.verify(out_dir / (name + ".exe"), 1)
            unsigned_size = unsigned.stat().st_size
            if (unsigned_size + padding) % 8 != 0:
                sys.exit("%s: %d bytes before signing, not %d short of a multiple of 8" %
                         (name, unsigned_size, padding))

        padded = out_dir / "signed_padded.exe"
        signer.sign(padded, out_dir / "signed_twice.exe", nest=True)
        signer.verify(out_dir / "signed_twice.exe", 2)
        signer.sign(padded, out_dir / "signed_again.exe")
        signer.verify(out_dir / "signed_again.exe", 1)
        signer.remove(padded, out_dir / "signature_removed.exe")
        signer.sign(out_dir / "signature_removed.exe", out_dir / "signed_after_removal.exe")
        signer.verify(out_dir / "signed_after_removal.exe", 1)

        signed_stub = work / "signed-stub.exe"
        signer.sign(pathlib.Path(stub), signed_stub)
        built = build(work / "from-signed-stub.exe", 0, signed_stub)
        if "its signature was left out" not in built.stderr:
            sys.exit("no warning from a build with a signed stub:\n" + built.stderr)
        signer.sign(work / "from-signed-stub.exe", out_dir / "signed_stub_build.exe")
        signer.verify(out_dir / "signed_stub_build.exe", 1)

        not_at_end = out_dir / "signature_not_at_end.exe"
        not_at_end.write_bytes(padded.read_bytes() + b"x")
    print(f"signing fixtures written to {out_dir}")


if __name__ == "__main__":
    main()
