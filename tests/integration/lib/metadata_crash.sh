# Sourced by metadata_crash*_test.sh as
#   source lib/metadata_crash.sh sweep FIRST STRIDE   (kill points FIRST, FIRST+STRIDE, ...)
#   source lib/metadata_crash.sh race
# so that the kill points and the races run as tests of their own, each well
# within its time.
#
# twctl metadata configure (real lvm2 with activation off, a real XFS on a loop
# device) killed at every step in turn, then run once more: the registry, the
# fstab (the OS's own lines unchanged), the group and the mount end as an
# uninterrupted run leaves them, or the rerun fails and names what is left.
# Then two configures started together, 10 times: both end well (one waits or
# is refused as "another metadata configure is running (pid N)"), one layout.
# A foreign mounted XFS stays as it was throughout.
set -euo pipefail
: "${TWCTL:?}" "${TW_LVM_FILTER:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
source "$TW_SOURCE_DIR/tests/integration/lib/crash_sweep.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
# The 10 s wait for new device nodes, some forty times over: loop devices
# need none.
export TW_SLEEP_CAP_MS=50

work=$(mktemp -d /tmp/twmetacrash.XXXXXX)
index=/opt/tessaline/Dockwright64/IndexCache
reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
pv="" fsdev="" foreign_fs=""
teardown() {
  umount -l "$index" 2>/dev/null || true
  [ -z "$pv" ] || for vg in $(pvs --noheadings -o vg_name "$pv" 2>/dev/null); do vgremove -ff "$vg" >/dev/null 2>&1 || true; done
  [ -z "$pv" ] || pvremove -ff -y "$pv" >/dev/null 2>&1 || true
}
cleanup() {
  teardown
  umount -l "$work/foreign" 2>/dev/null || true
  for dev in "$pv" "$fsdev" "$foreign_fs"; do [ -z "$dev" ] || losetup -d "$dev" || true; done
  "$TW_LVM_FILTER" || true
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 512M "$work/pv.img" "$work/fs.img" "$work/foreign-fs.img"
pv=$(losetup -f --show "$work/pv.img")
fsdev=$(losetup -f --show "$work/fs.img")
foreign_fs=$(losetup -f --show "$work/foreign-fs.img")
mkfs.xfs -q -f "$foreign_fs"
mkdir -p "$work/foreign"
mount "$foreign_fs" "$work/foreign"
echo "operator data" > "$work/foreign/data"
foreign_state() { grep -c "^$foreign_fs $work/foreign xfs" /proc/self/mounts || true; cat "$work/foreign/data"; }
foreign_before=$(foreign_state)
"$TW_LVM_FILTER" "$pv"

printf '# OS lines\nUUID=0a1b / ext4 defaults 0 1\nproc /proc proc defaults 0 0\n' > "$work/fstab.os"
cat > "$work/doc.json" <<EOF
{"disk": [{"name": "$pv"}],
 "volumeGroup": {"name": "metadatavg", "extentSize": 4, "rsvdPercentage": 0,
   "physicalVolume": [{"name": "$pv"}],
   "logicalVolume": [{"name": "index", "minPercentage": 90, "maxSize": 4096, "thinVolume": false}]},
 "fileSystem": [{"blkDevice": "$fsdev", "fsType": "xfs"}],
 "fileSystemMount": [{"blkDevice": "$fsdev", "fsType": "xfs", "mntPath": "$index",
   "fsArgs": "noatime,inode64,nofail", "fsFreq": 1, "fsPassno": 1}]}
EOF

# The OS's own entries, field by field (the file is rewritten in its own layout).
os_lines() { grep -v '^#' "$1" | grep -v " $index " | awk 'NF { $1 = $1; print }'; }

reset_state() {
  teardown
  wipefs -a -q "$fsdev"
  cp "$work/fstab.os" /etc/fstab
  mkdir -p "$reg"
  printf 'sArrowfieldNodeType Data\nsScaleoutPlatformType ReferenceArchitecture\n' > "$reg/registry.conf"
}
run_op() { "$TWCTL" metadata configure "$work/doc.json" --old-vg metadatavg --old-disks "$pv" --yes; }

# The state an uninterrupted run leaves, UUIDs aside.
end_state() {
  grep -c " $index xfs" /proc/self/mounts
  grep "^$fsdev $index xfs" /proc/self/mounts | cut -d' ' -f1-3
  getfattr --only-values -n trusted.mntstamp "$index" 2>/dev/null; echo
  sed -E 's/UUID=[0-9a-f-]{36}/UUID=X/' /etc/fstab
  # The group's disk is recorded by its PV UUID, new with every pvcreate.
  sed "s/$(pvs --noheadings -o pv_uuid "$pv" 2>/dev/null | tr -d ' ' || true)/PV-UUID/" "$reg/registry.conf"
  vgs --noheadings -o vg_name,pv_count,lv_count 2>/dev/null | tr -s ' '
  lvs --noheadings -o lv_name,vg_name 2>/dev/null | tr -s ' '
  foreign_state
}

reset_state
run_op >"$work/out" 2>&1 || fail "uninterrupted configure: $(cat "$work/out")"
want=$(end_state)
grep -q "^$fsdev $index xfs" /proc/self/mounts || fail "configure mounted nothing at $index"
[ "$(os_lines /etc/fstab)" = "$(os_lines "$work/fstab.os")" ] || fail "configure changed the OS's own fstab lines: $(cat /etc/fstab)"
grep -q "^sArrowfieldMetadataVG" "$reg/registry.conf" || fail "configure recorded no group"

check_state() {
  local k=$1 rc=$2 got
  if [ "$rc" != 0 ]; then
    # An honest failure names what it left: the group, a disk, the device or the path.
    grep -qE "metadatavg|$pv|$fsdev|$index" "/tmp/tw_crash_rerun.$k" || { echo "rerun exit $rc names nothing" >&2; return 1; }
    [ "$(foreign_state)" = "$foreign_before" ] || { echo "foreign file system changed" >&2; return 1; }
    [ "$(os_lines /etc/fstab)" = "$(os_lines "$work/fstab.os")" ] || { echo "OS fstab lines changed" >&2; return 1; }
    return 0
  fi
  got=$(end_state)
  [ "$got" = "$want" ] || { diff <(echo "$want") <(echo "$got") >&2; return 1; }
}

part=$1
start=$SECONDS
if [ "$part" = sweep ]; then
n=$(reset_state; crash_sweep_steps run_op)
[ "$n" -ge 5 ] || fail "an uninterrupted configure took only $n steps"
crash_sweep "$n" reset_state run_op check_state "$2" "$3" || fail "crash sweep"
echo "metadata crash sweep: ok (kill points $2, $2+$3, ... of $n, $((SECONDS - start)) s)"
exit 0
fi

# Two at once, 10 times over the built layout.
reset_state
run_op >"$work/out" 2>&1 || fail "configure before the race: $(cat "$work/out")"
for i in $(seq 10); do
  "$TWCTL" metadata configure "$work/doc.json" --yes >"$work/a" 2>&1 & a=$!
  "$TWCTL" metadata configure "$work/doc.json" --yes >"$work/b" 2>&1 & b=$!
  ra=0 rb=0
  wait "$a" || ra=$?
  wait "$b" || rb=$?
  for r in "a $ra" "b $rb"; do
    set -- $r
    [ "$2" = 0 ] || grep -qE "another metadata configure is running \(pid [0-9]+\)" "$work/$1" ||
      fail "race $i: configure $1 exit $2: $(cat "$work/$1")"
  done
  [ "$ra" = 0 ] || [ "$rb" = 0 ] || fail "race $i: neither configure succeeded"
  got=$(end_state)
  [ "$got" = "$want" ] || fail "race $i: end state $(diff <(echo "$want") <(echo "$got"))"
done
echo "metadata configure race: ok (10 races, $((SECONDS - start)) s)"
