#!/usr/bin/env bash
# A large node with fake hardware (tests/integration/lib/fake_scale.sh):
#  1. 60 physical disks, 12 of them spun down: every disk reported, each read
#     in one smartctl call, no sleeping disk woken;
#  2. a scrape whose deadline comes before the disks are read: the disks read
#     are kept, the others readable 0, the smart collector marked cut short,
#     the other collectors unaffected;
#  3. a second collection while one runs exits with a message;
#  4. 500 gluster volumes: the gluster section kept, each question asked once;
#  5. twctl monitor over 50 DAV volumes: every record, no query asked twice.
# Delays are short here; the benchmark (bench_scale) shows the timings.
set -euo pipefail
: "${TWCTL:?}" "${TW_FIXTURES_DIR:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
has() { grep -qxF -- "$2" <<<"$1" || fail "missing: $2"; }
count() { grep -c -- "$2" <<<"$1" || true; }
# shellcheck source=lib/fake_scale.sh
source "$TW_SOURCE_DIR/tests/integration/lib/fake_scale.sh"

reg=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p $reg/EventManager $reg/Dockwright
printf 'dEVLOGDIR %s\n' "$(mktemp -d)" > $reg/EventManager/registry.conf
printf 'sArrowfieldApplianceType RM-110\n' > $reg/Dockwright/registry.conf
cleanup() { umount /sys/block 2>/dev/null || true; }
trap cleanup EXIT

bin=$(mktemp -d)
export FIX=$TW_FIXTURES_DIR PATH=$bin:$PATH
export SMART_CALLS=$bin/smart_calls SMART_WOKEN=$bin/woken SMART_STANDBY=$bin/standby
export GLUSTER_CALLS=$bin/gluster_calls GLUSTER_VOLUMES=0
fake_scale_smartctl "$bin"
fake_scale_gluster "$bin"
fake_scale_peer_names
fake_scale_disks 60 || fail "no private /sys/block"
mapfile -t disks < <(fake_scale_disk_names 60)
printf '%s\n' "${disks[@]:0:12}" > "$SMART_STANDBY"
: > "$SMART_WOKEN"

# ---- 1. 60 disks, 12 asleep --------------------------------------------------------
echo "[${SECONDS}s] section 1"
: > "$SMART_CALLS"
out=$(SMART_DELAY=0.2 "$TWCTL" metrics) || fail "twctl metrics failed"
has "$out" 'tidewall_collector_success{collector="smart"} 1'
for d in "${disks[@]:0:12}"; do
  has "$out" "tidewall_smart_standby{device=\"/dev/$d\"} 1"
  has "$out" "tidewall_smart_readable{device=\"/dev/$d\"} 0"
done
for d in "${disks[@]:12}"; do
  has "$out" "tidewall_smart_readable{device=\"/dev/$d\"} 1"
  has "$out" "tidewall_smart_healthy{device=\"/dev/$d\",serial=\"SN-$d\"} 1"
done
[ "$(count "$out" '^tidewall_smart_healthy{')" -eq 48 ] || fail "healthy samples: $(count "$out" '^tidewall_smart_healthy{')"
[ "$(count "$out" '^tidewall_smart_readable{')" -eq 60 ] || fail "not every disk reported"
grep -q loop7 <<<"$out" && fail "a device without a device/ entry was read"
[ ! -s "$SMART_WOKEN" ] || fail "woken: $(tr '\n' ' ' < "$SMART_WOKEN")"
[ "$(wc -l < "$SMART_CALLS")" -eq 60 ] || fail "smartctl calls: $(wc -l < "$SMART_CALLS"), not one a disk"
grep -v -- '-n standby' "$SMART_CALLS" && fail "a call without -n standby"

# ---- 2. cut short at the deadline ------------------------------------------------
echo "[${SECONDS}s] section 2"
start=$(date +%s.%N)
out=$(SMART_DELAY=2 "$TWCTL" metrics --collector-timeout 3) || fail "twctl metrics (deadline) failed"
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
echo "cut-short scrape took ${took}s"
awk -v t="$took" 'BEGIN { exit !(t < 8) }' || fail "a 3 s deadline took ${took}s"
has "$out" 'tidewall_collector_success{collector="smart"} 0'
has "$out" 'tidewall_collector_cut_short{collector="smart"} 1'
has "$out" 'tidewall_collector_success{collector="memory"} 1'
has "$out" 'tidewall_collector_cut_short{collector="memory"} 0'
[ "$(count "$out" '^tidewall_smart_readable{')" -eq 60 ] || fail "cut short: not every disk reported"
read_now=$(count "$out" '^tidewall_smart_readable{.*} 1$')
[ "$read_now" -ge 8 ] && [ "$read_now" -lt 48 ] || fail "cut short: $read_now disks read"
[ "$(count "$out" '^tidewall_smart_healthy{')" -eq "$read_now" ] || fail "a verdict without a reading"
[ ! -s "$SMART_WOKEN" ] || fail "woken at the deadline"

# ---- 3. never two at once ------------------------------------------------------------
echo "[${SECONDS}s] section 3"
SMART_DELAY=2 "$TWCTL" metrics --collector-timeout 3 > /dev/null &
first=$!
sleep 0.5
set +e
msg=$("$TWCTL" metrics 2>&1 >/dev/null); rc=$?
set -e
wait "$first" || fail "the first collection failed"
[ $rc -eq 1 ] || fail "second collection: exit $rc, not 1"
[[ "$msg" == "twctl metrics: another metrics collection is running (pid $first)" ]] || fail "message: $msg"

# ---- 4. 500 gluster volumes --------------------------------------------------------
echo "[${SECONDS}s] section 4"
fake_scale_disks 0
: > "$GLUSTER_CALLS"
out=$(GLUSTER_VOLUMES=500 "$TWCTL" metrics) || fail "twctl metrics (gluster) failed"
has "$out" 'tidewall_collector_success{collector="gluster"} 1'
[ "$(count "$out" '^tidewall_gluster_volume_bricks_online_ratio{.*} 1$')" -eq 500 ] || fail "brick ratios"
[ "$(count "$out" '^tidewall_gluster_volume_heal_pending{.*} 0$')" -eq 500 ] || fail "heal counts"
dups=$(sort "$GLUSTER_CALLS" | uniq -d)
[ -z "$dups" ] || fail "asked twice: $dups"
for q in "volume list --xml" "volume info all --xml" "volume status all detail --xml"; do
  [ "$(grep -cxF "$q" "$GLUSTER_CALLS")" -eq 1 ] || fail "not asked once: $q"
done
[ "$(grep -c '^volume heal' "$GLUSTER_CALLS")" -eq 500 ] || fail "heal queries: $(grep -c '^volume heal' "$GLUSTER_CALLS")"
[ "$(wc -l < "$GLUSTER_CALLS")" -eq 503 ] || fail "gluster calls: $(wc -l < "$GLUSTER_CALLS")"

# ---- 5. the monitor over 50 DAV volumes -------------------------------------------------
echo "[${SECONDS}s] section 5"
printf '#!/bin/sh\necho "--== Host 1 status ==--"\n' > /usr/sbin/hosted-engine
chmod 755 /usr/sbin/hosted-engine
: > "$GLUSTER_CALLS"
set +e
json=$(GLUSTER_VOLUMES=50 GLUSTER_PREFIX=dav_vm_vol_ GLUSTER_HOST=$(hostname) "$TWCTL" monitor --json); rc=$?
set -e
[ $rc -eq 1 ] || fail "monitor: exit $rc (the DAV volumes are not mounted: 1)"
python3 - "$json" <<'PY' || fail "monitor records wrong"
import json, sys
d = json.loads(sys.argv[1])
v = d["volumes"]
assert [x["name"] for x in v] == ["dav_vm_vol_%03d" % i for i in range(1, 51)], v
assert all(x["brick_daemons_online"] is True and x["mounted"] is False for x in v), v
assert d["degraded"] == [] and d["checks_not_run"] == [], d
PY
dups=$(sort "$GLUSTER_CALLS" | uniq -d)
[ -z "$dups" ] || fail "monitor asked twice: $dups"
[ "$(grep -c '^volume heal' "$GLUSTER_CALLS")" -eq 50 ] || fail "monitor heal queries"
echo "monitor: $(wc -l < "$GLUSTER_CALLS") gluster calls for 50 volumes"
echo "PASS"
