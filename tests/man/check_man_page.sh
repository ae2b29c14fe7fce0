#!/usr/bin/env bash
# A manual page renders without a single warning, through groff and through man, and it
# documents every option and command the program's own usage text lists.
#   check_man_page.sh PAGE BIN_DIR
set -euo pipefail
page=$1
bin=$2
name=$(basename "$page")
program=${name%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $name: $*" >&2
  exit 1
}

# groff with every warning enabled: any message at all is a fault of the page.
if ! groff -ww -man -Tutf8 -z "$page" 2>"$work/groff.err"; then
  fail "groff failed: $(cat "$work/groff.err")"
fi
[ -s "$work/groff.err" ] && fail "groff warns:
$(cat "$work/groff.err")"

# man renders it, with its own warnings on, into a page that names the program.
MANWIDTH=80 man --warnings -l -P cat "$page" >"$work/man.out" 2>"$work/man.err" ||
  fail "man -l failed: $(cat "$work/man.err")"
[ -s "$work/man.err" ] && fail "man -l warns:
$(cat "$work/man.err")"
grep -q "^NAME" "$work/man.out" || fail "man -l shows no NAME section"
grep -q "$program" "$work/man.out" || fail "man -l does not name $program"

# The usage text, from the program itself (the update tool shows it on an emulated machine, so
# that it runs as root whoever runs the test).
if [ "$program" = hlvflashupdate ]; then
  "$bin/hlvsim" lab init "$work/lab" >/dev/null
  "$bin/hlvsim" run "$work/lab" -- -h >"$work/usage" 2>&1 || fail "the program's -h failed"
else
  "$bin/$program" -h >"$work/usage" 2>&1 || fail "$program -h failed"
fi
grep -qi "usage" "$work/usage" || fail "$program -h shows no usage text"

# Each option of the usage text appears in the page (written with \- as roff wants it), and so
# does each command word that follows the program's name.
options=$( (grep -oE -- '(^|[][ |])--?[a-z?][a-z-]*' "$work/usage" || true) |
  sed -E 's/^[][ |]//' | sort -u)
commands=$( (grep -oE -- "(^|[ :])$program [a-z]+" "$work/usage" || true) | awk '{print $NF}' |
  sort -u)
missing=""
for option in $options; do
  grep -qF -- "${option//-/\\-}" "$page" || missing+=" $option"
done
for command in $commands; do
  grep -qE -- "^\.B[A-Z]* .*\b$command\b" "$page" || missing+=" $command"
done
[ -z "$missing" ] || fail "the usage text lists what the page does not document:$missing"
echo "$name: renders cleanly; documents$(echo $options $commands | tr '\n' ' ' | sed 's/^/ /')"
