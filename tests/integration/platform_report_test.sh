#!/usr/bin/env bash
# twctl platform report in the throw-away machine copy:
#  1. with the real tools of this machine (no DMI tables, no BMC, no SMART): the
#     report completes, says what is missing, and shows the real memory and mounts;
#  2. with fake dmidecode, ipmitool and smartctl on PATH printing the outputs of a
#     real Dell PowerEdge R640: the full report comes out right;
#  3. with a tool that hangs: the runner's time limit cuts it off (capped to a
#     few seconds by TW_TIME_LIMIT_CAP_S, so the tier does not wait 100 s), its
#     process group is gone, and the report still completes;
#  4. with a failing disk: smartctl prints the real output of a drive whose
#     verdict is FAILED, with the exit status smartctl gives for it (findings
#     bits, not a failed run): the report shows the disk as failing.
set -euo pipefail
: "${TWCTL:?}" "${TW_FIXTURES_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
# jq-like checks: python3 evaluates an assertion over the parsed report.
check() {
  python3 - "$1" "$2" <<'EOF' || fail "$3"
import json, sys
d = json.loads(sys.argv[1])
assert eval(sys.argv[2]), json.dumps(d, indent=1)
EOF
}

export TW_DEBUG_LEVEL=3
# A log of this test alone (the registry root is a fresh tmpfs here).
logdir=$(mktemp -d)
mkdir -p /etc/TessalineRegistry/Tolvan/Instance001/EventManager
printf 'dEVLOGDIR %s\n' "$logdir" > /etc/TessalineRegistry/Tolvan/Instance001/EventManager/registry.conf
log=$logdir/TSTidewall.log

# ---- 1. the real tools of this machine --------------------------------------
mkdir -p /tw/disk1 /tw/disk2
mount -t tmpfs -o size=64m twdisk1 /tw/disk1
head -c 16M /dev/zero > /tw/disk1/fill
json=$("$TWCTL" platform report --json) || fail "report failed with the real tools"
total_kb=$(awk '/^MemTotal:/ {print $2}' /proc/meminfo)
check "$json" "d['memory']['total_mb'] == $total_kb >> 10" "memory is not this machine's"
check "$json" "d['memory']['used_mb'] > 0" "no used memory"
check "$json" "[m['path'] for m in d['mount_points']][-2:] == ['/tw/disk1', '/tw/disk2']" "disk directories missing"
check "$json" "{m['path']: m['mounted'] for m in d['mount_points']}['/'] is True" "/ not mounted"
check "$json" "[(m['mounted'], m['percent_used']) for m in d['mount_points'] if m['path'] == '/tw/disk1'] == [(True, 25)]" \
  "tmpfs at /tw/disk1 (16 of 64 MiB) not reported 25% used"
check "$json" "[m['mounted'] for m in d['mount_points'] if m['path'] == '/tw/disk2'] == [False]" "/tw/disk2 mounted?"
for section in system chipset bios processors power_supplies fans drives; do
  check "$json" "'$section' in d['unavailable']" "no reason given for the empty $section section"
done
check "$json" "d['system']['vendor'] == '' and d['processors'] == [] and d['fans'] == []" "DMI or BMC data on a VM?"
check "$json" "all(not s['readable'] for s in d['smart'])" "SMART read on a virtual disk?"
text=$("$TWCTL" platform report) || fail "text report failed"
grep -q '^Memory:' <<<"$text" && grep -q 'unavailable: ipmitool listed no fan sensor' <<<"$text" \
  || fail "text report lacks sections: $text"
grep -q 'tw_platform::loginfo: Memory Info:' "$log" || fail "report section not in the log"
grep -q 'Failed to run dmidecode command - \[dmidecode -t system\]' "$log" || fail "dmidecode failure not logged"
umount /tw/disk1

# ---- 2. fake tools printing a real Dell R640 --------------------------------
bin=$(mktemp -d)
export FIX=$TW_FIXTURES_DIR
# shellcheck source=lib/fake_bmc.sh
source "$TW_SOURCE_DIR/tests/integration/lib/fake_bmc.sh"
fake_bmc_tools "$bin"
cat > "$bin/smartctl" <<'EOF'
#!/usr/bin/env bash
# A SATA drive: the SCSI form fails, the plain one answers. (The shell folds
# the double blank of "smartctl -H  /dev/sda" away.)
case "$*" in
  "-d scsi -H "*) echo "Smartctl open device: failed: INQUIRY failed"; exit 2 ;;
  "-H "*|"-A "*) cat "$FIX/smartctl/a-sata-st3000dm001-noheader.txt" ;;
  "-i "*) cat "$FIX/smartctl/info-sata-micron-5200.txt" ;;
  *) echo "fake smartctl: unexpected $*" >&2; exit 1 ;;
esac
EOF
chmod +x "$bin"/*
export PATH=$bin:$PATH

json=$("$TWCTL" platform report --json) || fail "report failed with the fake tools"
check "$json" "d['system'] == {'vendor': 'Dell Inc.', 'model': 'PowerEdge R640', 'serial': '2RJF153'}" "system record"
check "$json" "d['chipset'] == {'manufacturer': 'Dell Inc.', 'product': '06NR82', 'version': 'A03', 'serial': '.2RJF153.CNIVC0005G0184.'}" \
  "baseboard record"
check "$json" "d['bios'] == {'vendor': 'Dell Inc.', 'version': '2.6.4', 'release_date': '04/09/2020', 'revision': '2.6'}" "BIOS record"
check "$json" "[(p['socket'], p['cores'], p['threads'], p['temp_c']) for p in d['processors']] == [('CPU1', 8, 16, 0), ('CPU2', 8, 16, 0)]" \
  "processors (the iDRAC6 listing has both CPU sensors disabled)"
check "$json" "d['power_supplies'] == [{'name': 'PS1', 'redundancy': 'Fully Redundant', 'healthy': True}, {'name': 'PS2', 'redundancy': 'Fully Redundant', 'healthy': True}]" \
  "power supplies"
check "$json" "d['fans'] == [{'name': 'Fan1', 'value': '5040 RPM', 'healthy': True}]" "fans"
check "$json" "len(d['smart']) >= 1 and all(s['readable'] and s['healthy'] and s['serial'] == '202028413FA9' and s['faulty_attributes'] == [] for s in d['smart'])" \
  "SMART"
for section in system chipset bios processors power_supplies fans smart; do
  check "$json" "'$section' not in d['unavailable']" "$section still reported unavailable"
done
grep -q 'tw_platform::loginfo: Name:\[PS1\] Redundancy:\[Fully Redundant\] Status:\[1\]' "$log" \
  || fail "power-supply report line not in the log"
# The node's metrics from the same tools: promtool accepts them.
command -v promtool >/dev/null || fail "promtool missing (scripts/install-deps.sh)"
metrics=$("$TWCTL" metrics) || fail "twctl metrics failed with the fake tools"
promtool check metrics <<<"$metrics" || fail "promtool rejects twctl metrics with the fake tools"
grep -qx 'tidewall_power_supply_ok{supply="PS1",redundancy="Fully Redundant"} 1' <<<"$metrics" || fail "PS1 not in the metrics"

# ---- 3. a tool that hangs ----------------------------------------------------
export HANG_ONCE=/tmp/hung.pid
start=$(date +%s)
json=$(TW_TIME_LIMIT_CAP_S=3 "$TWCTL" platform report --json) || fail "report failed after a hanging tool"
took=$(( $(date +%s) - start ))
[ -s "$HANG_ONCE" ] || fail "the fake tool never hung"
kill -0 "$(cat "$HANG_ONCE")" 2>/dev/null && fail "the hung tool still runs after its time limit"
pgrep -f 'sleep 100000' >/dev/null && fail "the hung tool's child still runs"
[ "$took" -ge 3 ] && [ "$took" -lt 60 ] || fail "report took ${took}s; expected the capped 3 s limit once"
check "$json" "d['fans'] == [{'name': 'Fan1', 'value': '5040 RPM', 'healthy': True}]" "fans after the retry"
grep -q 'Failed to run ipmitool command - \[ipmitool sdr type fan | grep -i FAN\]' "$log" || fail "cut-off not logged"

# ---- 4. a failing disk, with smartctl's real exit statuses --------------------
# Bits 3-7 are findings on a disk that was read: 8 the disk is failing, 16 a
# prefail attribute at or below its threshold now, 32 one in the past.
cat > "$bin/smartctl" <<'EOF'
#!/usr/bin/env bash
failed=$FIX/smartctl/a-sata-st910021as-health-failed-5.39.txt
case "$*" in
  "-d scsi -H "*) echo "Smartctl open device: failed: INQUIRY failed"; exit 2 ;;
  "-H "*) cat "$failed"; exit 24 ;;
  "-A "*) cat "$failed"; exit 48 ;;
  "-i "*) cat "$failed"; exit 0 ;;
  *) echo "fake smartctl: unexpected $*" >&2; exit 1 ;;
esac
EOF
json=$("$TWCTL" platform report --json) || fail "report failed with a failing disk"
check "$json" "len(d['smart']) >= 1 and all(s['readable'] and not s['healthy'] and s['serial'] == '3MH05H05' for s in d['smart'])" \
  "failing disk not shown as readable and failing"
check "$json" "all([(a['id'], a['value'], a['threshold']) for a in s['faulty_attributes']] == [(5, 1, 36)] for s in d['smart'])" \
  "the attribute at its threshold is not listed"
check "$json" "'smart' not in d['unavailable']" "SMART reported unavailable for a failing disk"
text=$("$TWCTL" platform report) || fail "text report failed with a failing disk"
smart_text=$(grep -A3 '^SMART:' <<<"$text")
grep -Eq '^  /dev/[a-z0-9]+ +FAILED, serial 3MH05H05, 1 attribute\(s\) at or below threshold' <<<"$smart_text" \
  || fail "text report does not show the disk failing: $smart_text"
grep -q 'could not read' <<<"$smart_text" && fail "failing disk shown as unreadable"
echo "platform report checks passed (hung tool cut off after ${took}s)"
