#!/usr/bin/env bash
# twctl metrics in the throw-away machine copy:
#  1. with this machine's tools: promtool accepts the output, every collector
#     succeeds, the values are this machine's, and nothing in the registry moves;
#     --textfile leaves exactly DIR/tidewall.prom;
#  2. with fake dmidecode, ipmitool and smartctl printing real outputs (a Dell
#     R640 with a failed fan and a disk whose SMART verdict is FAILED), a real
#     gluster volume with one brick process stopped, a crash dump, and the drive
#     switch on with fake lspci/MegaCli64: promtool accepts it, the values are
#     the ones those outputs imply, twctl platform drives and drive locate work;
#  3. node_exporter, in a network namespace of its own, serves what twctl wrote
#     and curl on 127.0.0.1 finds those values;
#  4. a hanging ipmitool costs the fans collector only.
set -euo pipefail
: "${TWCTL:?}" "${TW_FIXTURES_DIR:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
for tool in promtool prometheus-node-exporter curl unshare ip losetup mkfs.xfs glusterd; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing (scripts/install-deps.sh)"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }
check() {
  python3 - "$1" "$2" <<'PY' || fail "$3"
import json, sys
d = json.loads(sys.argv[1])
assert eval(sys.argv[2]), json.dumps(d, indent=1)
PY
}
# has TEXT LINE: TEXT holds LINE as a whole line.
has() { grep -qxF -- "$2" <<<"$1" || fail "missing: $2; the family has: $(grep "^${2%%[{ ]*}" <<<"$1")"; }
promcheck() { promtool check metrics <<<"$1" || fail "promtool rejects the output ($2)"; }
# shellcheck source=lib/gluster.sh
source "$TW_SOURCE_DIR/tests/integration/lib/gluster.sh"

export TW_DEBUG_LEVEL=2
reg=/etc/TessalineRegistry/Tolvan/Instance001
logdir=$(mktemp -d)
mkdir -p $reg/EventManager $reg/Dockwright
printf 'dEVLOGDIR %s\n' "$logdir" > $reg/EventManager/registry.conf
printf 'sLastMonitorTimeDrive 1700000000\nnPerfParamsVersion 3\n' > $reg/Dockwright/registry.conf

loops=()
cleanup() {
  for mp in $(awk '$3 == "fuse.glusterfs" { print $2 }' /proc/self/mounts); do umount -l "$mp" || true; done
  # Our own pid namespace: these are the daemons this test started.
  pkill -x glusterfsd 2>/dev/null || true
  pkill -x glusterfs 2>/dev/null || true
  pkill -x glusterd 2>/dev/null || true
  sleep 0.3
  umount -l /tw/disk1 /tw/disk2 2>/dev/null || true
  for dev in "${loops[@]}"; do losetup -d "$dev" || true; done
}
trap cleanup EXIT
registry_sum() { find /etc/TessalineRegistry -type f -print0 | sort -z | xargs -0 sha256sum; }

# ---- 1. this machine's tools ----------------------------------------------------
before=$(registry_sum)
out=$("$TWCTL" metrics) || fail "twctl metrics failed"
promcheck "$out" "this machine"
for c in node power_supplies fans processors memory smart drives mounts metadata_vg gluster crash_dumps tuning; do
  has "$out" "tidewall_collector_success{collector=\"$c\"} 1"
done
total_kb=$(awk '/^MemTotal:/ {print $2}' /proc/meminfo)
has "$out" "tidewall_memory_total_bytes $(( (total_kb >> 10) << 20 ))"
has "$out" 'tidewall_mount_mounted{path="/",kind="system"} 1'
has "$out" 'tidewall_tuning_version 3'
has "$out" 'tidewall_smart_readable{device="/dev/vda"} 0'
grep -q '^tidewall_smart_healthy' <<<"$out" && fail "a SMART verdict on a virtual disk?"
[ "$(registry_sum)" = "$before" ] || fail "twctl metrics changed the registry"
textdir=$(mktemp -d)
"$TWCTL" metrics --textfile "$textdir" || fail "--textfile failed"
[ "$(ls -A "$textdir")" = tidewall.prom ] || fail "textfile directory holds: $(ls -A "$textdir")"
promcheck "$(cat "$textdir/tidewall.prom")" "textfile"
for bad in "--textfile" "--textfile rel/dir" "--collector-timeout 0" "--collector-timeout x" "--bogus"; do
  set +e
  # shellcheck disable=SC2086
  "$TWCTL" metrics $bad >/dev/null 2>&1; rc=$?
  set -e
  [ $rc -eq 2 ] || fail "metrics $bad: exit $rc, not 2"
done
set +e
"$TWCTL" metrics --textfile /nonexistent/dir 2>/dev/null; rc=$?
set -e
[ $rc -eq 1 ] || fail "an unwritable textfile directory: exit $rc, not 1"

# ---- 2. fake hardware tools, a real gluster volume, the drive switch on --------
loops+=("$(tw_loop_xfs 1)")
loops+=("$(tw_loop_xfs 2)")
tw_start_glusterd || fail "glusterd did not start"
tw_gluster_volume tvol distribute 1 2 || fail "volume tvol not created"
mkdir -p /tw/glus
echo "$(hostname):/tvol /tw/glus glusterfs defaults,_netdev 0 0" >> /etc/fstab
mount -t glusterfs "$(hostname):/tvol" /tw/glus || fail "gluster mount failed"
# Stop the brick process of /tw/disk2: the volume runs on half its bricks.
brick_pid=$(pgrep -f 'glusterfsd.*tw/disk2/tw_brick' | head -1)
[ -n "$brick_pid" ] || fail "no brick process for /tw/disk2"
kill "$brick_pid"
for _ in $(seq 1 50); do kill -0 "$brick_pid" 2>/dev/null || break; sleep 0.1; done
# The client learns of the lost brick (and, just after mounting, of the one it
# keeps) on its own time; until then statfs on the mount fails and the shrunk
# gauge is rightly left out. Wait until the mount answers.
for _ in $(seq 1 200); do stat -f /tw/glus >/dev/null 2>&1 && break; sleep 0.1; done
stat -f /tw/glus >/dev/null || fail "statfs on the gluster mount never answered"
# The volume was recorded larger than it is now.
echo "tvol:999999999999999" > $reg/Dockwright/.AFVolSize
mkdir -p /var/crash/127.0.0.1-2026-12-09
head -c 3000 /dev/zero > /var/crash/127.0.0.1-2026-12-09/vmcore
printf 'sArrowfieldApplianceType RM-110\nnTidewallDriveOperations 1\nnDriveLocateIntervalInMinutes 1\n' >> $reg/Dockwright/registry.conf

bin=$(mktemp -d)
export FIX=$TW_FIXTURES_DIR CALLS=$bin/calls
# shellcheck source=lib/fake_bmc.sh
source "$TW_SOURCE_DIR/tests/integration/lib/fake_bmc.sh"
fake_bmc_tools "$bin"
export STOPPED_FAN=1
cat > "$bin/smartctl" <<'FAKE'
#!/usr/bin/env bash
# vda: a SATA disk whose verdict is FAILED; the loop devices (the data drives):
# SATA disks that pass, each with a serial number of its own.
dev=${*: -1}
case "$*" in
  "-d scsi -H "*|"-d scsi -n standby "*) echo "Smartctl open device: failed: INQUIRY failed"; exit 2 ;;
  # The metrics scrape: verdict, identity and attributes in one call.
  "-n standby -H -i -A /dev/vda") sed "s/3MH05H05/SN-vda/" "$FIX/smartctl/a-sata-st910021as-health-failed-5.39.txt" ;;
  "-n standby -H -i -A "*) sed "s/W1F09S26/SN-$(basename "$dev")/" "$FIX/smartctl/a-sata-st3000dm001-noheader.txt" ;;
  "-H "*/dev/vda) cat "$FIX/smartctl/a-sata-st910021as-health-failed-5.39.txt" ;;
  "-A "*/dev/vda) cat "$FIX/smartctl/a-sata-st910021as-health-failed-5.39.txt" ;;
  "-H "*|"-A "*) cat "$FIX/smartctl/a-sata-st3000dm001-noheader.txt" ;;
  "-i "*) sed "s/202028413FA9/SN-$(basename "$dev")/" "$FIX/smartctl/info-sata-micron-5200.txt" ;;
  *) echo "fake smartctl: unexpected $*" >&2; exit 1 ;;
esac
FAKE
cat > "$bin/lspci" <<'FAKE'
#!/usr/bin/env bash
perc=$FIX/lspci/k-excerpt-dell-r440-perc-megaraid_sas.txt
case "$*" in
  "") head -1 "$perc" ;;
  "-k -s 18:00.0") sed -n '1,4p' "$perc" ;;
  *) echo "fake lspci: unexpected $*" >&2; exit 2 ;;
esac
FAKE
l1=$(basename "${loops[0]}"); l2=$(basename "${loops[1]}")
mkdir -p /opt/MegaRAID/MegaCli
cat > /opt/MegaRAID/MegaCli/MegaCli64 <<FAKE
#!/usr/bin/env bash
echo "\$*" >> "\$CALLS"
case "\$*" in
  adpcount) cat "\$FIX/megacli/adpcount-1.txt" ;;
  "-PDList -aALL") printf '%s\n' "" "Adapter #0" "" "Enclosure Device ID: 32" "Slot Number: 0" \
      "Firmware state: Online, Spun Up" "Inquiry Data: SN-$l1      Micron_5200_MTFDDAK480TDN  D1MU020" "" \
      "Enclosure Device ID: 32" "Slot Number: 1" "Firmware state: Online, Spun Up" \
      "Inquiry Data: SN-$l2      Micron_5200_MTFDDAK480TDN  D1MU020" ;;
  "-PdLocate -stop -physdrv[32:0] -a0"|"-PdLocate -start -physdrv[32:0] -a0") echo "Exit Code: 0x00" ;;
  *) echo "fake MegaCli64: unexpected \$*" >&2; exit 2 ;;
esac
FAKE
chmod +x "$bin"/* /opt/MegaRAID/MegaCli/MegaCli64
export PATH=$bin:$PATH

before=$(registry_sum)
out=$("$TWCTL" metrics) || fail "twctl metrics (fakes) failed"
promcheck "$out" "fake tools"
[ "$(registry_sum)" = "$before" ] || fail "twctl metrics changed the registry or .AFVolSize"
for c in node power_supplies fans processors memory smart drives mounts metadata_vg gluster crash_dumps tuning; do
  has "$out" "tidewall_collector_success{collector=\"$c\"} 1"
done
has "$out" 'tidewall_node_info{server_model="DellInc._PowerEdgeR640",flavour="glusterfs",platform_type="",appliance_type="RM-110",image_version=""} 1'
has "$out" 'tidewall_fan_ok{fan="Fan1"} 1'
has "$out" 'tidewall_fan_ok{fan="Fan2"} 0'
has "$out" 'tidewall_fan_speed_rpm{fan="Fan1"} 5040'
has "$out" 'tidewall_power_supply_ok{supply="PS1",redundancy="Fully Redundant"} 1'
has "$out" 'tidewall_smart_healthy{device="/dev/vda",serial="SN-vda"} 0'
grep -qE '^tidewall_smart_faulty_attributes\{device="/dev/vda"\} [1-9]' <<<"$out" || fail "no faulty attribute on vda"
has "$out" 'tidewall_gluster_volume_mounted{volume="tvol",path="/tw/glus"} 1'
has "$out" 'tidewall_gluster_volume_bricks_online_ratio{volume="tvol"} 0.5'
grep -qxF 'tidewall_gluster_volume_shrunk{volume="tvol"} 1' <<<"$out" ||
  fail "no shrunk gauge for tvol; statfs on the mount now: $(stat -f -c '%b blocks' /tw/glus 2>&1)"
grep -qE '^tidewall_gluster_volume_heal_pending\{volume="tvol"\} [0-9]+$' <<<"$out" || fail "no heal count"
has "$out" 'tidewall_mount_mounted{path="/tw/disk1",kind="data"} 1'
has "$out" 'tidewall_mount_stamps_valid{path="/tw/disk1"} 0'
has "$out" 'tidewall_crash_dumps{path="/var/crash"} 1'
has "$out" 'tidewall_crash_dump_bytes{path="/var/crash"} 3000'
for n in 0 1; do
  l=$(basename "${loops[$n]}")
  has "$out" "tidewall_drive_info{device=\"/dev/$l\",vendor=\"\",model=\"\",serial=\"SN-$l\",type=\"\",drive_number=\"0/32:$n\"} 1"
  grep -qE "^tidewall_drive_read_bytes_per_second\{device=\"/dev/$l\"\} [0-9.e+-]+$" <<<"$out" || fail "no read rate of $l"
done

json=$("$TWCTL" platform drives --json) || fail "twctl platform drives failed"
check "$json" "[(x['device'], x['serial'], x['drive_number'], x['healthy']) for x in d['drives']] == [('${loops[0]}', 'SN-$l1', '0/32:0', True), ('${loops[1]}', 'SN-$l2', '0/32:1', True)]" \
  "drive inventory wrong"
check "$json" "all(x['size'] == '536870912' for x in d['drives'])" "lsblk size not taken"
check "$json" "all(x['size_bytes'] == 536870912 for x in d['drives'])" "lsblk size not a number of bytes"
python3 - "$TW_SOURCE_DIR/docs/schemas/platform-drives.schema.json" "$json" <<'PY' || fail "platform drives: not as its schema says"
import json, sys, jsonschema
jsonschema.Draft202012Validator(json.load(open(sys.argv[1]))).validate(json.loads(sys.argv[2]))
PY
[ "$(registry_sum)" = "$before" ] || fail "twctl platform drives changed the registry"
: > "$CALLS"
start=$(date +%s)
"$TWCTL" drive locate /tw/disk1 >/dev/null || fail "drive locate failed with the switch on"
took=$(( $(date +%s) - start ))
[ "$(cat "$CALLS" | grep PdLocate)" = "$(printf '%s\n' '-PdLocate -stop -physdrv[32:0] -a0' '-PdLocate -start -physdrv[32:0] -a0' '-PdLocate -stop -physdrv[32:0] -a0')" ] \
  || fail "locate ran: $(cat "$CALLS")"
[ "$took" -ge 60 ] || fail "blink of one minute took ${took}s"
grep -q '^mnt:/tw/disk1 devuuid:[0-9a-f-]* drivenum:0/32:0$' $reg/Dockwright/.AF_mpath_info || fail "location file: $(cat $reg/Dockwright/.AF_mpath_info)"

# ---- 3. node_exporter serves what twctl wrote ---------------------------------
"$TWCTL" metrics --textfile "$textdir" || fail "--textfile (fakes) failed"
scrape=$(unshare -n bash -c '
  ip link set lo up
  prometheus-node-exporter --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$1" --web.listen-address=127.0.0.1:9100 >"$2" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do curl -sf http://127.0.0.1:9100/metrics && break; sleep 0.1; done
  kill $pid; wait $pid 2>/dev/null || true' _ "$textdir" "$logdir/node_exporter.log") || fail "no scrape"
has "$scrape" 'node_textfile_scrape_error 0'
has "$scrape" 'tidewall_fan_ok{fan="Fan2"} 0'
has "$scrape" 'tidewall_smart_healthy{device="/dev/vda",serial="SN-vda"} 0'
has "$scrape" 'tidewall_gluster_volume_bricks_online_ratio{volume="tvol"} 0.5'
has "$scrape" 'tidewall_collector_success{collector="gluster"} 1'

# ---- 4. a hanging tool costs its collector only -------------------------------
export HANG_FANS=$logdir/hung.pid
start=$(date +%s)
out=$("$TWCTL" metrics --collector-timeout 5) || fail "metrics failed with a hanging ipmitool"
took=$(( $(date +%s) - start ))
[ -s "$HANG_FANS" ] || fail "the fake ipmitool never hung"
kill -0 "$(cat "$HANG_FANS")" 2>/dev/null && fail "the hung ipmitool still runs"
promcheck "$out" "hanging tool"
has "$out" 'tidewall_collector_success{collector="fans"} 0'
grep -q '^tidewall_fan_ok' <<<"$out" && fail "fan samples from a collector that timed out"
for c in node power_supplies processors memory smart drives mounts gluster crash_dumps tuning; do
  has "$out" "tidewall_collector_success{collector=\"$c\"} 1"
done
[ "$took" -lt 90 ] || fail "collection with one hanging tool took ${took}s"
echo "metrics: ok (hanging tool cost ${took}s in all)"
