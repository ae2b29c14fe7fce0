#!/usr/bin/env bash
# The fleet playbook (contrib/ansible) run by ansible-playbook against this machine, each
# inventory host a lab of one emulated adapter reached through `hlvsim run`: the bundle copied,
# the tool run silently (with -a where a host names its adapter), each host's result kept, its
# run's trace and backups fetched, and the rollout stopped at the failure count.
#   ansible_playbook_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
if ! command -v ansible-playbook >/dev/null; then
  echo "SKIP: ansible-playbook is not installed (scripts/setup installs Debian's ansible-core)"
  exit 77
fi
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
hlvsim=$build/bin/hlvsim
hlvimage=$build/bin/hlvimage
hlvtrace=$build/bin/hlvtrace

# The bundle: a good image for boards 0002, one whose option ROM does not match its CRC for
# boards 0003 (the update refuses it with 26, before the flash is touched).
mkdir "$work/bundle"
printf 'version = 1.6.2\nseed = 7\n' >"$work/good.desc"
printf 'version = 1.6.2\nseed = 7\nncb0.rom_crc = bad\n' >"$work/bad.desc"
"$hlvimage" build "$work/good.desc" "$work/bundle/fw.bin" >/dev/null
"$hlvimage" build "$work/bad.desc" "$work/bundle/fw_bad.bin" >/dev/null
board() {
  printf '  <bdp id="%s"><hwids><hwid vid="1E9C" did="20C3" sdid="%s" svid="1E9C"/></hwids>
    <mac>00000000</mac><image>%s</image></bdp>\n' "$@"
}
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<bdpDatabase><version>fleet test</version>'
  board good 0002 fw.bin
  board bad 0003 fw_bad.bin
  echo '</bdpDatabase>'
} >"$work/bundle/updatedata.xml"

# One lab per host: its board and the firmware its flash runs.
lab() {
  local host=$1 board=$2 version=$3
  "$hlvsim" lab init "$work/$host" --subsystem-device "$board" >/dev/null
  printf 'version = %s\n' "$version" >"$work/$host.desc"
  "$hlvimage" build "$work/$host.desc" "$work/$host.before" >/dev/null
  cp "$work/$host.before" "$work/$host/adapters/0000:01:00.0/flash.bin"
}
lab alpha 0x0002 1.5.86   # updated, its adapter named with -a
lab bravo 0x0002 1.6.2    # up to date: nothing to update is no failure
lab charlie 0x0003 1.5.86 # the update fails: the first failure, where the rollout stops
lab delta 0x0002 1.5.86   # never reached

cat >"$work/inventory.yml" <<INVENTORY
hlv_fleet:
  hosts:
    alpha: {hlv_lab: "$work/alpha", hlv_adapter: enp1s0}
    bravo: {hlv_lab: "$work/bravo"}
    charlie: {hlv_lab: "$work/charlie"}
    delta: {hlv_lab: "$work/delta"}
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    hlv_remote_dir: "{{ hlv_lab }}/tool"
    hlv_command: ["$hlvsim", "run", "{{ hlv_lab }}", "--"]
INVENTORY

export ANSIBLE_LOCAL_TEMP=$work/ansible-local ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOME=$work/ansible-home
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_LOAD_CALLBACK_PLUGINS=0 ANSIBLE_PIPELINING=1
status=0
ansible-playbook -i "$work/inventory.yml" "$source/contrib/ansible/update-firmware.yml" \
  -e "hlv_bundle=$work/bundle" -e "hlv_results=$work/results" -e hlv_become=false \
  -e hlv_max_failures=1 >"$work/play.out" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "the stopped rollout ended with status 0:
$(cat "$work/play.out")"
grep -qF "Machines failed: charlie. Not run, the rollout having stopped: delta." "$work/play.out" ||
  fail "no stop message:
$(cat "$work/play.out")"

result() { # HOST KEY: the value of KEY in the host's result.json
  /usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' \
    "$work/results/$1/result.json" "$2"
}
expect_result() { # HOST STATUS FAILED
  [ -f "$work/results/$1/result.json" ] || fail "$1: no result.json
$(cat "$work/play.out")"
  [ "$(result "$1" status)" = "$2" ] || fail "$1: status $(result "$1" status), expected $2"
  [ "$(result "$1" failed)" = "$3" ] || fail "$1: failed $(result "$1" failed), expected $3"
}
expect_result alpha 0 False
expect_result bravo 2 False
expect_result charlie 26 True
[ ! -e "$work/results/delta" ] || fail "delta was reached after the rollout stopped"
output=$(result alpha output)
[[ "$output" == *"Silent mode: selected device 'enp1s0'"* ]] ||
  fail "alpha was not updated with -a enp1s0: $output"

# The fetched log directories: each holds the run's trace, which decodes; the updated and the
# failed host their backup, the flash as it was before the run.
for host in alpha bravo charlie; do
  logs=("$work/results/$host"/logs/*/)
  [ -d "${logs[0]}" ] || fail "$host: no log directory fetched"
  [ "$(basename "${logs[0]}")" = "$(basename "$(result "$host" log_directory)")" ] ||
    fail "$host: fetched ${logs[0]}, the run's is $(result "$host" log_directory)"
  "$hlvtrace" "${logs[0]}voflashupdatelog.etl" >/dev/null || fail "$host: the trace does not decode"
done
for host in alpha charlie; do
  cmp -s "$work/results/$host"/logs/*/image_enp1s0.bin "$work/$host.before" ||
    fail "$host: the fetched backup is not the flash before the run"
done
backups=("$work/results/bravo"/logs/*/image_*)
[ ! -e "${backups[0]}" ] || fail "bravo: a backup without an update"

# What the adapters are left with.
"$hlvimage" info "$work/alpha/adapters/0000:01:00.0/flash.bin" | grep -qF "version 1.6.2" ||
  fail "alpha: not updated"
for host in bravo charlie delta; do
  cmp -s "$work/$host/adapters/0000:01:00.0/flash.bin" "$work/$host.before" ||
    fail "$host: its flash changed"
done
echo "fleet playbook: alpha updated, bravo up to date, charlie failed, delta left alone"
