#!/usr/bin/env bash
# A provisioning step that fails keeps the disk's record, and the next run
# finishes the disk at the same slot: /etc/fstab read-only, then writable
# again; mkfs failing part-way on write errors (a loop device over a FUSE file
# that returns EIO for a range mkfs writes), then the range healed.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh: this test writes /etc and /tw" >&2; exit 1; }
for tool in losetup mkfs.xfs blkid getfattr fusermount3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || { echo "SKIPPED: python3-fusepy missing"; exit 77; }
[ -c /dev/fuse ] || { echo "SKIPPED: no /dev/fuse"; exit 77; }
source "$TW_SOURCE_DIR/tests/integration/lib/provision_node.sh"
fuse_pid=
cleanup() {
  set +e
  mountpoint -q /etc/fstab && umount /etc/fstab
  provision_node_cleanup_faulty
  provision_node_cleanup
}
provision_node_cleanup_faulty() {
  for mp in /tw/disk*; do mountpoint -q "$mp" 2>/dev/null && umount "$mp"; done
  [ -n "${FAULTY:-}" ] && losetup -d "$FAULTY" 2>/dev/null
  FAULTY=
  mountpoint -q "$PN_WORK/fuse" && fusermount3 -u "$PN_WORK/fuse"
  [ -n "$fuse_pid" ] && wait "$fuse_pid" 2>/dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

provision_node_setup 1
# The second disk answers through FUSE: its faults are the control file's lines.
truncate -s 512M "$PN_WORK/faulty.img"
mkdir "$PN_WORK/fuse"
: >"$PN_WORK/control"
"$TW_SOURCE_DIR/tests/integration/lib/faulty_disk.py" "$PN_WORK/faulty.img" "$PN_WORK/fuse" "$PN_WORK/control" &
fuse_pid=$!
for _ in $(seq 50); do [ -e "$PN_WORK/fuse/disk" ] && break; sleep 0.1; done
FAULTY=$(losetup -f --show "$PN_WORK/fuse/disk")
DISKS+=("$FAULTY")
printf 'sArrowfieldApplianceType RM-110\nsTidewallTestDisks %s\n' "$(IFS=,; echo "${DISKS[*]}")" \
  >/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf

# 1. /etc/fstab read-only: the disks are mounted and stamped but not recorded;
#    the rerun, with fstab writable again, records them.
provision_node_reset
mount --bind /etc/fstab /etc/fstab
mount -o remount,bind,ro /etc/fstab
rc=0; out=$("$TWCTL" disks provision --yes 2>&1) || rc=$?
[ "$rc" = 1 ] || fail "provisioning with a read-only fstab exited $rc: $out"
for dev in "${DISKS[@]}"; do
  grep -q "^$dev: NOT recorded in /etc/fstab" <<<"$out" || fail "$dev not reported: $out"
done
new=$("$TWCTL" disks new) || true
grep -q "provisioning interrupted at /tw/disk1: the next provisioning finishes it" <<<"$new" || fail "disks new: $new"
pn_foreign_check || fail "after the run with a read-only fstab"
umount /etc/fstab
out=$("$TWCTL" disks provision --yes 2>&1) || fail "rerun with a writable fstab failed: $out"
provision_node_check || fail "after the rerun: $out"

# 2. mkfs fails part-way: writes to the second allocation group's headers
#    (128 MiB in) fail; the disk keeps its record and slot, and the rerun,
#    with the range healed, formats it again and finishes it.
provision_node_reset
echo "write_eio $((128 << 20)) $((129 << 20))" >"$PN_WORK/control"
rc=0; out=$("$TWCTL" disks provision --yes 2>&1) || rc=$?
[ "$rc" = 1 ] || fail "provisioning over write errors exited $rc: $out"
grep -q "^$FAULTY: .*stopped at format: mkfs exited with" <<<"$out" || fail "the failed mkfs is not reported: $out"
slot=$(sed -n 's/^.*device='"${FAULTY//\//\\/}"'	.*mount_path=\([^	]*\).*$/\1/p' "$PN_INTENT")
[ -n "$slot" ] || fail "no record of $FAULTY: $(cat "$PN_INTENT" 2>&1)"
pn_foreign_check || fail "after the failed mkfs"
new=$("$TWCTL" disks new) || true
grep -qF "provisioning interrupted at $slot: the next provisioning finishes it (last attempt stopped at format" <<<"$new" ||
  fail "disks new does not list the failed disk: $new"
: >"$PN_WORK/control"
out=$("$TWCTL" disks provision --yes 2>&1) || fail "rerun after healing failed: $out"
grep -qx "$FAULTY: mounted at $slot and stamped" <<<"$out" || fail "not finished at its slot $slot: $out"
provision_node_check || fail "after healing: $out"
echo "failed steps: fstab read-only and mkfs write errors both finished by the rerun"
