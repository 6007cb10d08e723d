#!/usr/bin/env bash
# cmake --install into a DESTDIR: the files land where they belong, the manual page renders,
# the completion loads and completes, and the installed selfx finds the stub beside it.
#   tests/install/install_test.sh BUILD_DIR
set -euo pipefail
build_dir=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build_dir" --prefix /usr >"$root/install.log" 2>&1 ||
  { cat "$root/install.log"; fail "cmake --install"; }
prefix=$root/usr
selfx=$prefix/bin/selfx
[ -x "$selfx" ] || fail "no $selfx"
"$selfx" --version | grep -qx 'selfx [0-9.]*' || fail "--version"

page=$prefix/share/man/man1/selfx.1
[ -f "$page" ] || fail "no manual page"
rendered=$(MANWIDTH=80 man -l "$page" 2>&1)
for heading in NAME DESCRIPTION COMMANDS "selfx build" "selfx extract" ENVIRONMENT; do
  grep -q "$heading" <<<"$rendered" || fail "the manual page has no \"$heading\""
done
grep -q -- "--output FILE" <<<"$rendered" || fail "the manual page lacks build's options"

completion=$prefix/share/bash-completion/completions/selfx
[ -f "$completion" ] || fail "no completion file"
completed=$(PATH=$prefix/bin:$PATH bash -c '
  source /usr/share/bash-completion/bash_completion
  source "$1"
  complete_line() {
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    COMPREPLY=(); _selfx; echo "${COMPREPLY[*]}"
  }
  complete_line selfx bu
  complete_line selfx build --outp
  complete_line selfx extract --overwrite sk' _ "$completion")
[ "$completed" = $'build\n--output\nskip' ] || fail "completion gave: $completed"

if [ -f "$prefix/bin/selfx-stub.exe" ]; then
  # The installed selfx takes the stub beside it without being told.
  mkdir "$root/in"
  echo hello >"$root/in/a.txt"
  env -u SELFX_STUB "$selfx" build -o "$root/a.exe" "$root/in" >/dev/null ||
    fail "the installed selfx could not build with its stub"
  "$selfx" list "$root/a.exe" | grep -q "a.txt" || fail "the built archive does not list"
  echo "install: selfx, its stub, the manual page and the completion are in place"
else
  echo "install: selfx, the manual page and the completion are in place (no stub built yet: the win32 preset makes it)"
fi
