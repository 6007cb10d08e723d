#!/usr/bin/env bash
# selfx build on a tree of a few thousand files (names with blanks and non-ASCII letters of
# the ANSI code page, empty files, empty and nested folders, compressible and random data):
# the result passes Info-ZIP's unzip -t and 7z t, and selfx extract gives the tree back byte
# for byte with each file's time (to the two seconds a DOS time holds). An encrypted build
# opens with the right password only. A symbolic link in the tree comes back as a file of
# its own name holding its target's bytes.
#
# usage: build_tree.sh SELFX
set -euo pipefail
selfx=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A stand-in stub (a minimal PE32 image): the host build needs no Windows toolchain.
STUB=$work/stub.exe
python3 "$(dirname "$0")/make_fake_stub.py" "$STUB"

python3 - "$work/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1234)
names = ["plain", "with blank", "Grüße", "café au lait", "naïve", "Ærø", "señor", "x"]
count = 0
for a in range(12):
    for b in range(10):
        folder = os.path.join(root, f"{names[a % len(names)]} {a}", f"sub {b}")
        os.makedirs(folder, exist_ok=True)
        for c in range(25):
            path = os.path.join(folder, f"{names[(a + c) % len(names)]}-{c}.txt")
            kind = (a + b + c) % 4
            if kind == 0:
                data = b""
            elif kind == 1:
                data = ("line %d of a text file\n" % c).encode() * rng.randint(1, 400)
            elif kind == 2:
                data = rng.randbytes(rng.randint(1, 70000))
            else:
                data = bytes(rng.randint(0, 3) for _ in range(rng.randint(1, 5000)))
            open(path, "wb").write(data)
            # Times spread over the years, on even seconds so that DOS times hold them exactly.
            when = 400000000 + rng.randint(0, 1200000000) // 2 * 2
            os.utime(path, (when, when))
            count += 1
os.makedirs(os.path.join(root, "empty folder", "nested empty"))
os.symlink(os.path.join("plain 0", "sub 1", "plain-0.txt"), os.path.join(root, "link to plain.txt"))
print(f"{count} files")
PY

"$selfx" build --stub "$STUB" -o "$work/tree.exe" "$work/tree" >/dev/null
unzip -tqq "$work/tree.exe"
7z t "$work/tree.exe" >/dev/null
"$selfx" test "$work/tree.exe" >/dev/null
"$selfx" extract --no-progress -d "$work/out" "$work/tree.exe" >/dev/null

# Folders without files are not recreated by extraction; every file is, and a link as the
# file it points to.
(cd "$work/tree" && find -L . -type f -printf '%P %s %T@\n' | sed 's/\.[0-9]*$//' | LC_ALL=C sort) >"$work/expected"
(cd "$work/out" && find . -type f -printf '%P %s %T@\n' | sed 's/\.[0-9]*$//' | LC_ALL=C sort) >"$work/actual"
diff "$work/expected" "$work/actual"
diff -r "$work/tree" "$work/out" -x 'empty folder'
echo "tree: $(wc -l <"$work/expected") files identical, with their times"

printf 'open sesame\n' >"$work/password"
"$selfx" build --stub "$STUB" --password-file "$work/password" -o "$work/secret.exe" "$work/tree" >/dev/null
unzip -tqq -P 'open sesame' "$work/secret.exe"
if unzip -tqq -P 'wrong' "$work/secret.exe" >/dev/null 2>&1; then
  echo "a wrong password opened the archive"
  exit 1
fi
echo "encrypted: opens with its password, not with another"
