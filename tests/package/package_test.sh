#!/usr/bin/env bash
# The Debian package, built from the build tree as an operator's `cpack -G DEB` builds it: what
# it holds and declares, lintian's verdict where lintian is installed, and the programs run from
# the extracted tree (their help, an image built and read back, and the update tool's code
# updating an emulated adapter with the package's sample bundle). Also the plain
# `cmake --install` layout the package is made from.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Runs a command, keeping its output, status and standard error in $work/out, $status, $work/err.
run() {
  status=0
  "$@" >"$work/out" 2>"$work/err" || status=$?
}
expect_status() {
  [ "$status" -eq "$1" ] || fail "$2: status $status, expected $1
$(cat "$work/out" "$work/err")"
}
expect_output() {
  grep -qF -- "$1" "$work/out" || fail "$2: no '$1' in the output:
$(cat "$work/out" "$work/err")"
}

# --- the installation layout
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for path in lib/hlvflashupdate/hlvflashupdate sbin/hlvflashupdate lib/hlvflashupdate/hlvquery \
  sbin/hlvquery bin/hlvsim bin/hlvimage bin/hlvtrace share/man/man8/hlvflashupdate.8.gz \
  share/man/man1/hlvsim.1.gz share/man/man1/hlvimage.1.gz share/man/man1/hlvtrace.1.gz \
  share/man/man1/hlvquery.1.gz; do
  [ -e "$work/prefix/$path" ] || fail "cmake --install does not install $path"
done

# --- the package and what it declares
run cpack -G DEB -B "$work/out-deb" --config "$build/CPackConfig.cmake"
expect_status 0 "cpack -G DEB"
debs=("$work"/out-deb/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "cpack made ${#debs[@]} packages"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Package)" = hlvflashupdate ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for library in 'libtinyxml2-[0-9]+ ' 'libssl3 ' 'libstdc\+\+6 '; do
  echo "$depends" | grep -qE "(^|, )$library" ||
    fail "Depends does not name the runtime library ${library% }: $depends"
done

if command -v lintian >/dev/null; then
  # Errors and warnings fail; informational tags are shown.
  run lintian --fail-on error,warning --info "$deb"
  cat "$work/out"
  expect_status 0 "lintian"
else
  echo "lintian is not installed: the package is not linted (scripts/setup installs lintian)"
fi

# --- the extracted tree
root=$work/root
dpkg-deb -x "$deb" "$root"
doc=$root/usr/share/doc/hlvflashupdate
for path in usr/lib/hlvflashupdate/hlvflashupdate usr/lib/hlvflashupdate/hlvquery usr/bin/hlvsim \
  usr/bin/hlvimage usr/bin/hlvtrace; do
  [ -f "$root/$path" ] && [ -x "$root/$path" ] || fail "$path is not an executable file"
done
[ "$(readlink "$root/usr/sbin/hlvflashupdate")" = ../lib/hlvflashupdate/hlvflashupdate ] ||
  fail "usr/sbin/hlvflashupdate is not the relative link to the program"
[ "$(readlink "$root/usr/sbin/hlvquery")" = ../lib/hlvflashupdate/hlvquery ] ||
  fail "usr/sbin/hlvquery is not the relative link to the program"
for path in "$doc/README.md" "$doc/doc/flash-map.svg" "$doc/copyright" "$doc/changelog.gz" \
  "$doc/examples/bundle/updatedata.xml" "$doc/examples/bundle/README" \
  "$doc/schema/report.schema.json" "$doc/schema/query.schema.json"; do
  [ -s "$path" ] || fail "${path#"$root"/} is missing"
done
# The guides the README and the manual pages lead to: every doc/*.md of the tree, each link of the
# README into doc/ and each guide a manual page names under SEE ALSO.
source=$(cd "$(dirname "$0")/../.." && pwd)
for guide in "$source"/doc/*.md; do
  [ -s "$doc/doc/$(basename "$guide")" ] || fail "the guide doc/$(basename "$guide") is not installed"
done
for linked in $(grep -oE '\]\(doc/[a-z-]+\.md' "$doc/README.md" | cut -c3-); do
  [ -s "$doc/$linked" ] || fail "the README links to $linked, which is not installed"
done
for page in "$root"/usr/share/man/man*/*.gz; do
  named=$(zcat "$page" | grep -oE '/usr/share/doc/hlvflashupdate/[a-z/-]+(\\-[a-z]+)*\.md' |
    sed 's/\\-/-/g')
  [ -n "$named" ] || fail "$(basename "$page") names no guide"
  for guide in $named; do
    [ -s "$root$guide" ] || fail "$(basename "$page") names $guide, which is not installed"
  done
done
for page in man8/hlvflashupdate.8 man1/hlvsim.1 man1/hlvimage.1 man1/hlvtrace.1 man1/hlvquery.1; do
  run env MANWIDTH=80 man -l -P cat "$root/usr/share/man/$page.gz"
  expect_status 0 "man -l $page.gz"
  [ -s "$work/err" ] && fail "man -l $page.gz warns: $(cat "$work/err")"
  expect_output "$(basename "$page" | cut -d. -f1)" "man -l $page.gz"
done

# The programs run from there: the update tool through its link (as root it shows its usage,
# otherwise it refuses before anything else), the others with -h.
run "$root/usr/sbin/hlvflashupdate" -h
if [ "$(id -u)" -eq 0 ]; then
  expect_status 0 "hlvflashupdate -h"
  expect_output "hlvflashupdate -s [-a <DEVICE_NAME>]" "hlvflashupdate -h"
else
  expect_status 255 "hlvflashupdate -h without root"
  expect_output "Administrator privileges are needed" "hlvflashupdate -h without root"
fi
for program in hlvsim hlvimage hlvtrace; do
  run "$root/usr/bin/$program" -h
  expect_status 0 "$program -h"
  expect_output "usage" "$program -h"
done
run "$root/usr/sbin/hlvquery" -h
expect_status 0 "hlvquery -h"
expect_output "usage: hlvquery" "hlvquery -h"

hlvsim=$root/usr/bin/hlvsim
hlvimage=$root/usr/bin/hlvimage
printf 'version = 1.6.2\nseed = 7\n' >"$work/update.desc"
run "$hlvimage" build "$work/update.desc" "$work/fw.bin"
expect_status 0 "hlvimage build"
run "$hlvimage" info "$work/fw.bin"
expect_status 0 "hlvimage info"
expect_output "flash reader takes NCB0: layout type 2, version 1.6.2, components ok" "hlvimage info"

# The sample bundle as it stands updates an emulated adapter: the lab's adapter is the sample's
# first board, running 1.5.86; the image the sample names is 1.6.2.
lab=$work/lab
run "$hlvsim" lab init "$lab" --subsystem-device 0x0002
expect_status 0 "hlvsim lab init"
adapter=$lab/adapters/0000:01:00.0
printf 'version = 1.5.86\n' >"$work/running.desc"
"$hlvimage" build "$work/running.desc" "$adapter/flash.bin"
cp "$work/fw.bin" "$doc/examples/bundle/updatedata.xml" "$lab/tool/"
run "$hlvsim" run "$lab" -- -s
expect_status 0 "hlvsim run with the sample bundle"
expect_output "|-- New firmware version: 1.6.2" "hlvsim run with the sample bundle"
expect_output "Firmware update finished!" "hlvsim run with the sample bundle"
logs=("$lab"/tool/logs/*/)
run "$root/usr/bin/hlvtrace" --json "${logs[0]}voflashupdatelog.etl"
expect_status 0 "hlvtrace --json of the run"
run "$hlvimage" diff "${logs[0]}image_enp1s0.bin" "$adapter/flash.bin"
expect_status 1 "hlvimage diff of the backup and the updated flash"
expect_output "active_ncb: NCB0 -> NCB1" "hlvimage diff of the backup and the updated flash"
echo "package $(basename "$deb"): built, linted, extracted and run"
