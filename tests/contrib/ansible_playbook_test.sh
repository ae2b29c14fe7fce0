#!/usr/bin/env bash
# The fleet playbook (contrib/ansible) run by ansible-playbook against this machine, each
# inventory host a lab of one emulated adapter reached through `hlvsim run`: the bundle copied,
# the tool run silently (with -a where a host names its adapter), each host's result kept, its
# run's trace and backups fetched, and the rollout stopped at the failure count. Then machines
# that turn against the controller (hostile captures), a run that stops before making its log
# directory, and the modes the tool is installed with.
#   ansible_playbook_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
if ! command -v ansible-playbook >/dev/null; then
  echo "SKIP: ansible-playbook is not installed (scripts/setup installs Debian's ansible-core)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
hlvsim=$build/bin/hlvsim
hlvimage=$build/bin/hlvimage
hlvtrace=$build/bin/hlvtrace

# The bundle: firmware 1.6.2 for the board of every lab (few files: each costs the playbook a
# copy per machine).
mkdir "$work/bundle"
printf 'version = 1.6.2\nseed = 7\n' >"$work/update.desc"
"$hlvimage" build "$work/update.desc" "$work/bundle/fw.bin" >/dev/null
cat >"$work/bundle/updatedata.xml" <<'DATABASE'
<?xml version="1.0" encoding="UTF-8"?>
<bdpDatabase><version>fleet test</version>
  <bdp id="board"><hwids><hwid vid="1E9C" did="20C3" sdid="0002" svid="1E9C"/></hwids>
    <mac>00000000</mac><image>fw.bin</image></bdp>
</bdpDatabase>
DATABASE

# One lab per host: the firmware its flash runs, and adapter.conf lines of its own.
lab() {
  local host=$1 version=$2 conf=${3:-}
  "$hlvsim" lab init "$work/$host" --subsystem-device 0x0002 >/dev/null
  printf 'version = %s\n' "$version" >"$work/$host.desc"
  "$hlvimage" build "$work/$host.desc" "$work/$host.before" >/dev/null
  cp "$work/$host.before" "$work/$host/adapters/0000:01:00.0/flash.bin"
  [ -z "$conf" ] || echo "$conf" >>"$work/$host/adapters/0000:01:00.0/adapter.conf"
}
lab alpha 1.5.86   # updated, its adapter named with -a
lab bravo 1.6.2    # up to date: nothing to update is no failure
# The adapter loses power in the middle of the erase: the update fails (17), the first failure,
# where the rollout stops; the firmware it ran stays intact.
lab charlie 1.5.86 "power_cut_after = 3"
lab delta 1.5.86   # never reached

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
rehearsed:
  hosts:
    alpha:
    bravo:
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

results=$work/results/results.json
[ -f "$results" ] || fail "no results.json
$(cat "$work/play.out")"
result() { # HOST KEY: the value of KEY in the host's result, or the result itself
  /usr/bin/python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))[sys.argv[2]]
print(r[sys.argv[3]] if sys.argv[3:] else r)' "$results" "$@"
}
expect_result() { # HOST STATUS FAILED
  [ "$(result "$1" status)" = "$2" ] || fail "$1: status $(result "$1" status), expected $2"
  [ "$(result "$1" failed)" = "$3" ] || fail "$1: failed $(result "$1" failed), expected $3"
}
expect_result alpha 0 False
expect_result bravo 2 False
expect_result charlie 17 True
[ "$(result delta)" = "not run" ] || fail "delta: $(result delta), expected not run"
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
takes() { # HOST VERSION: the flash's readers take that version, every component intact
  "$hlvimage" info "$work/$1/adapters/0000:01:00.0/flash.bin" >"$work/info"
  grep -qF "flash reader takes NCB$2, components ok" "$work/info" ||
    fail "$1: not NCB$2: $(cat "$work/info")"
}
takes alpha "1: layout type 2, version 1.6.2"
takes charlie "0: layout type 2, version 1.5.86"
for host in bravo delta; do
  cmp -s "$work/$host/adapters/0000:01:00.0/flash.bin" "$work/$host.before" ||
    fail "$host: its flash changed"
done

# Rehearsal mode, with a newer bundle, on the two first machines: each is captured, its last
# backups fetched and the update rehearsed on the controller. alpha's backup (its flash before
# the first run) rehearses well and alpha is updated; bravo was never updated, so no backup
# holds its flash: its rehearsal cannot pass, and bravo is not touched.
mkdir "$work/bundle2"
printf 'version = 1.7.0\nseed = 9\n' >"$work/newer.desc"
"$hlvimage" build "$work/newer.desc" "$work/bundle2/fw.bin" >/dev/null
cp "$work/bundle/updatedata.xml" "$work/bundle2/"
status=0
ansible-playbook -i "$work/inventory.yml" "$source/contrib/ansible/update-firmware.yml" \
  -e hlv_hosts=rehearsed -e hlv_rehearse=true -e "hlv_bundle=$work/bundle2" \
  -e "hlv_results=$work/results2" -e hlv_become=false -e "hlv_hlvsim=$hlvsim" \
  -e "{\"hlv_capture_command\": [\"$hlvsim\", \"lab\", \"capture\", \"--sys\", \"{{ hlv_lab }}/sys\"]}" \
  >"$work/play2.out" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "a failed rehearsal did not fail the run:
$(cat "$work/play2.out")"
grep -qF "Machines failed: bravo." "$work/play2.out" || fail "no failure for bravo:
$(cat "$work/play2.out")"
results=$work/results2/results.json
[ -f "$results" ] || fail "no results.json after the rehearsal
$(cat "$work/play2.out")"
expect_result alpha 0 False
expect_result bravo None True
[[ "$(result bravo meaning)" == *"rehearsal failed"* ]] || fail "bravo: $(result bravo meaning)"
rehearsal() { # HOST KEY: the first adapter's value in the host's rehearsal
  /usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["adapters"][0][sys.argv[2]])' \
    "$work/results2/$1/rehearsal/rehearsal.json" "$2"
}
[ "$(rehearsal alpha status)" = "Available" ] || fail "alpha rehearsed: $(rehearsal alpha status)"
[ "$(rehearsal alpha outcome)" = "updated to 1.7.0, firmware reloaded" ] ||
  fail "alpha rehearsed: $(rehearsal alpha outcome)"
[ "$(rehearsal bravo has_flash)" = "False" ] || fail "bravo rehearsed with a flash"
grep -qF "no flash" "$work/results2/bravo/rehearsal/rehearsal.txt" ||
  fail "bravo's report: $(cat "$work/results2/bravo/rehearsal/rehearsal.txt")"
takes alpha "0: layout type 2, version 1.7.0"
cmp -s "$work/bravo/adapters/0000:01:00.0/flash.bin" "$work/bravo.before" || fail "bravo was touched"

# Machines that turn against the controller, rehearsed: each capture is made as the real one,
# then the machine prints or plants what a hostile one would. foxtrot prints an address that
# climbs to the controller's bundle image (the first bundle's), golf an interface name that
# climbs, hotel sends a capture whose adapters/ is a link out of the lab (where the lab's
# flashes would be written).
# Each has a backup, so an unchecked rehearsal would fetch and flash. They are refused, not
# updated, and nothing lands outside the results. The capture needs no root: it refuses to run
# through become, which goes through a stand-in for sudo that marks what it runs (root becoming
# root, which Ansible would skip unless told not to).
mkdir "$work/bin" "$work/planted"
cat >"$work/bin/sudo" <<SUDO
#!/bin/sh
while [ \$# -gt 0 ]; do
  case \$1 in -u|-p) shift 2 ;; -*) shift ;; *) break ;; esac
done
echo "\$*" >>"$work/became.log"
HLV_TEST_BECAME=1 exec "\$@"
SUDO
cat >"$work/capture.sh" <<CAPTURE
set -e
[ -z "\${HLV_TEST_BECAME:-}" ] || { echo "the capture ran through become" >&2; exit 1; }
mode=\$1 lab=\$2 capture=\$3
lines=\$("$hlvsim" lab capture "\$capture" --sys "\$lab/sys")
case \$mode in
  address) echo "../../../../bundle/fw enp1s0" ;;
  interface) printf '%s\\n0000:02:00.0 ../../../../bundle/fw\\n' "\$lines" ;;
  link) ln -s "$work/planted" "\$capture/adapters"; printf '%s\\n' "\$lines" ;;
esac
CAPTURE
chmod 0755 "$work/bin/sudo"
for host in foxtrot golf hotel; do
  lab $host 1.5.86
  mkdir -p "$work/$host/tool/logs/20250101_00-00-00"
  cp "$work/$host.before" "$work/$host/tool/logs/20250101_00-00-00/image_enp1s0.bin"
done
# echo's run stops before making its log directory (as when another instance runs): an earlier
# run's directory is there, with its trace, and must not be taken for this run's. india's
# program is missing. juliet's run leaves a file whose name is no plain name: it is not fetched
# and the machine is failed. echo's bundle is installed with the modes the tool needs, whatever
# the controller's files have and whatever the umask, over a tool directory left open to all.
mkdir -p "$work/echo/tool/logs/20250101_00-00-00" "$work/india" "$work/juliet" "$work/empty"
chmod 0777 "$work/echo/tool"
cp "$work"/results/alpha/logs/*/voflashupdatelog.etl "$work/echo/tool/logs/20250101_00-00-00/"
printf '#!/bin/sh\nexit 1\n' >"$work/stops-early"
cat >"$work/odd-logs" <<'ODD'
#!/bin/sh
set -e
mkdir -p "$1/logs/20260101_00-00-00"
echo trace >"$1/logs/20260101_00-00-00/voflashupdatelog.etl"
echo flash >"$1/logs/20260101_00-00-00/image_en p1.bin"
ODD
chmod 0755 "$work/stops-early" "$work/odd-logs"
mkdir -p "$work/bundle3/extra"
cp "$work/bundle/updatedata.xml" "$work/bundle3/"
cp "$work/bundle/fw.bin" "$work/fw.bin.first"
printf '#!/bin/sh\n' >"$work/bundle3/hlvflashupdate"
echo notes >"$work/bundle3/extra/notes.txt"
chmod 0700 "$work/bundle3/hlvflashupdate" "$work/bundle3/extra"
chmod 0600 "$work/bundle3/extra/notes.txt"
chmod 0640 "$work/bundle3/updatedata.xml"

cat >"$work/inventory3.yml" <<INVENTORY
hlv_fleet:
  hosts:
    echo: {hlv_lab: "$work/echo", hlv_command: ["$work/stops-early"]}
    foxtrot: {hlv_lab: "$work/foxtrot", hlv_rehearse: true, capture: address}
    golf: {hlv_lab: "$work/golf", hlv_rehearse: true, capture: interface}
    hotel: {hlv_lab: "$work/hotel", hlv_rehearse: true, capture: link}
    india: {hlv_lab: "$work/india", hlv_command: ["$work/no-such-program"], hlv_bundle: "$work/empty"}
    juliet:
      hlv_lab: "$work/juliet"
      hlv_command: ["$work/odd-logs", "$work/juliet/tool"]
      hlv_bundle: "$work/empty"
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    ansible_become_exe: "$work/bin/sudo"
    hlv_bundle: "$work/bundle3"
    hlv_remote_dir: "{{ hlv_lab }}/tool"
    hlv_command: ["$hlvsim", "run", "{{ hlv_lab }}", "--"]
    hlv_capture_command: [bash, "$work/capture.sh", "{{ capture }}", "{{ hlv_lab }}"]
INVENTORY
mkdir "$work/results3"
touch "$work/play3.out" "$work/became.log" "$work/marker"
status=0
(umask 077 && ANSIBLE_BECOME_ALLOW_SAME_USER=1 ansible-playbook -i "$work/inventory3.yml" \
  "$source/contrib/ansible/update-firmware.yml" \
  -e "hlv_results=$work/results3" -e hlv_max_failures=10 -e "hlv_hlvsim=$hlvsim" \
  >"$work/play3.out" 2>&1) || status=$?
results=$work/results3/results.json
[ -f "$results" ] || fail "no results.json after the hostile machines
$(cat "$work/play3.out")"
grep -qF "Machines failed: echo, foxtrot, golf, hotel, india, juliet." "$work/play3.out" ||
  fail "not every machine failed:
$(cat "$work/play3.out")"
[ -s "$work/became.log" ] || fail "nothing ran through become"

# Each hostile machine refused with its reason, untouched; nothing written outside results3.
while read -r host reason; do
  expect_result "$host" None True
  [[ "$(result "$host" meaning)" == "not updated: $reason"* ]] ||
    fail "$host: $(result "$host" meaning), expected: not updated: $reason"
  cmp -s "$work/$host/adapters/0000:01:00.0/flash.bin" "$work/$host.before" || fail "$host was touched"
done <<'REFUSED'
foxtrot its capture printed a line that is not "<PCI address> <interface name>": "../../../../bundle/fw enp1s0"
golf its capture printed a line that is not "<PCI address> <interface name>": "0000:02:00.0 ../../../../bundle/fw"
hotel the capture it sent was refused:
REFUSED
cmp -s "$work/bundle/fw.bin" "$work/fw.bin.first" || fail "the controller's bundle image was overwritten"
[ -z "$(ls -A "$work/planted")" ] || fail "written through hotel's link: $(ls -R "$work/planted")"
outside=$(find "$work" \( -path "$work/results3" -o -path "$work/ansible-*" \
  -o -path "$work/echo/tool" -o -path "$work/india/tool" -o -path "$work/juliet/tool" \) -prune \
  -o ! -type d -newer "$work/marker" ! -name play3.out ! -name became.log -print)
[ -z "$outside" ] || fail "written outside the results: $outside"

# echo: status 1, and no logs, not the earlier run's; india's missing program is a failure;
# juliet's odd name is refused and only the plain one fetched.
expect_result echo 1 True
[ -z "$(result echo log_directory)" ] || fail "echo: logs of another run: $(result echo log_directory)"
[[ "$(result echo logs)" == "none: the run stopped before making its log directory" ]] ||
  fail "echo: logs $(result echo logs)"
[ ! -e "$work/results3/echo/logs" ] || fail "echo: logs fetched: $(ls -R "$work/results3/echo/logs")"
expect_result india 127 True
expect_result juliet 0 True
expected='updated; refused: it named a log directory or file unsafely: ["image_en p1.bin"]'
[ "$(result juliet meaning)" = "$expected" ] || fail "juliet: $(result juliet meaning)"
fetched=$(cd "$work/results3/juliet/logs" && find . -type f)
[ "$fetched" = ./20260101_00-00-00/voflashupdatelog.etl ] || fail "juliet: fetched $fetched"

# The tool and its bundle as installed on echo: root's, the program 0755, the rest 0644, the
# folders 0755.
while read -r path mode; do
  [ "$(stat -c '%U:%G %a' "$work/echo/tool/$path")" = "root:root $mode" ] ||
    fail "echo: $path is $(stat -c '%U:%G %a' "$work/echo/tool/$path"), expected root:root $mode"
done <<'MODES'
. 755
hlvflashupdate 755
updatedata.xml 644
extra 755
extra/notes.txt 644
MODES

echo "fleet playbook: alpha updated, bravo up to date, charlie failed, delta left alone;"
echo "rehearsed: alpha passed and was updated, bravo (no backup) failed and was left alone;"
echo "refused: foxtrot, golf and hotel's hostile captures, juliet's odd log name; echo and india"
echo "reported without logs"
