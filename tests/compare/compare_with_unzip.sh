#!/usr/bin/env bash
# selfx test and selfx extract against Info-ZIP's unzip -t and unzip, on archives made from
# real files of this machine by three tools (Info-ZIP zip at several levels, 7z, Python's
# zipfile), plain and combined behind a stub: both must accept every archive and produce
# byte-identical trees.
#
# usage: compare_with_unzip.sh SELFX [ARCHIVE_COUNT]
set -euo pipefail
selfx=$1
count=${2:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Real inputs: the documentation folders of the installed packages, in a stable order.
mapfile -t sources < <(find /usr/share/doc -mindepth 1 -maxdepth 1 -type d | LC_ALL=C sort | head -n "$count")

# A stand-in stub (a minimal PE32 image) so that combined files can be made without Windows.
python3 "$(dirname "$0")/make_fake_stub.py" "$work/stub.exe"

failures=0
files=0
fail() { echo "MISMATCH: $*"; failures=$((failures + 1)); }

for i in "${!sources[@]}"; do
  source=${sources[$i]}
  archive="$work/a$i.zip"
  case $((i % 5)) in
    0) (cd "$source" && zip -qr -6 "$archive" .) ;;
    1) (cd "$source" && zip -qr -9 "$archive" .) ;;
    2) (cd "$source" && zip -qr -0 "$archive" .) ;;
    3) (cd "$source" && 7z a -tzip -bd -bso0 -bsp0 "$archive" . >/dev/null) ;;
    4) python3 - "$source" "$archive" <<'PY'
import os, sys, zipfile
source, archive = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, names in sorted(os.walk(source)):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                z.write(path, os.path.relpath(path, source))
PY
    ;;
  esac
  [ -f "$archive" ] || continue
  # Every other archive goes through the combined-file path as well.
  input=$archive
  if [ $((i % 2)) -eq 1 ]; then
    input="$work/a$i.exe"
    "$selfx" build --stub "$work/stub.exe" -o "$input" "$archive" >/dev/null
  fi

  unzip -tqq "$archive" >/dev/null 2>&1 || { echo "skip $source: unzip -t rejects it"; continue; }
  "$selfx" test "$input" >/dev/null 2>"$work/err" || fail "selfx test $source: $(cat "$work/err")"

  mkdir -p "$work/ours" "$work/theirs"
  "$selfx" extract --no-progress --overwrite overwrite -d "$work/ours" "$input" >/dev/null \
    2>"$work/err" || fail "selfx extract $source: $(cat "$work/err")"
  unzip -qq -o "$archive" -d "$work/theirs" 2>/dev/null
  # unzip creates folder entries that hold no file; selfx creates folders only for files.
  find "$work/theirs" -mindepth 1 -type d -empty -delete 2>/dev/null || true
  # unzip recreates symbolic links that 7z stored as such; the stub, like any Windows
  # extractor of those entries, writes the link's text as the file's contents.
  find "$work/theirs" -type l | while IFS= read -r link; do
    target=$(readlink "$link")
    rm "$link"
    printf '%s' "$target" >"$link"
  done
  diff -r "$work/ours" "$work/theirs" >"$work/diff" || fail "trees differ for $source: $(head -5 "$work/diff")"
  files=$((files + $(find "$work/ours" -type f | wc -l)))
  rm -rf "$work/ours" "$work/theirs" "$archive" "$input"
done

echo "compared ${#sources[@]} archives, $files files: $failures mismatches"
[ "$failures" -eq 0 ]
