#!/usr/bin/env bash
# Provisioning new disks end to end through twctl, on loop devices: the blank
# disks get an xfs file system at the next free slots, are mounted with the
# data-path options, stamped, and recorded in /etc/fstab so that mount -a brings
# them back. Disks that carry a file system, a partition table, an LVM or RAID
# signature, are mounted, are named in /etc/fstab, or are not named as test
# disks end the test with every byte they started with.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh: this test writes /etc and /tw" >&2; exit 1; }
for tool in losetup mkfs.xfs sfdisk partx pvcreate blkid getfattr setfattr python3 sha256sum; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/twdisks.XXXXXX)
loops=()
made_dev_disk=0
cleanup() {
  set +e
  for mp in /tw/disk4 /tw/disk5 /srv/f; do umount "$mp" 2>/dev/null; done
  # Partitions added by hand outlive the loop device and would show on the
  # next image attached to it: removed before it is detached.
  [ -n "${PART:-}" ] && partx -d "$PART" 2>/dev/null
  for dev in "${loops[@]}"; do losetup -d "$dev"; done
  if mountpoint -q /dev/disk 2>/dev/null; then umount /dev/disk; fi
  [ "$made_dev_disk" = 1 ] && rmdir /dev/disk
  rm -rf "$work"
}
trap cleanup EXIT

# A 512 MiB sparse image on a fresh loop device, in the variable named $1. Not
# in a subshell: the list of devices to detach must reach the cleanup.
attach() {
  truncate -s 512M "$work/$1.img"
  local dev
  dev=$(losetup -f --show "$work/$1.img")
  loops+=("$dev")
  # An interrupted earlier run may have left partitions added by hand on this
  # device number; the device is ours now, so they go.
  partx -d "$dev" 2>/dev/null || true
  printf -v "$1" '%s' "$dev"
}

attach A
attach B
attach XFS
attach PART
attach PV
attach RAID
attach MOUNTED
attach INFSTAB
attach UNNAMED

mkfs.xfs -q -f "$XFS"
printf 'label: gpt\n,100MiB\n' | sfdisk -q "$PART"
partx -a "$PART" 2>/dev/null || true  # no partition-table parsers in this kernel: add them by hand
"$TW_LVM_FILTER" "$PV"  # LVM in the sandbox sees only the devices named
pvcreate -q -ff -y "$PV" >/dev/null 2>&1 || fail "pvcreate failed"
# An md v1.2 superblock at 4 KiB (no mdadm here): libblkid calls it linux_raid_member.
python3 - "$RAID" <<'EOF'
import struct, sys
sb = bytearray(1024)
struct.pack_into('<II', sb, 0, 0xa92b4efc, 1)
sb[16:32] = bytes(range(1, 17)); sb[32:64] = b'twtest:0'.ljust(32, b'\0')
struct.pack_into('<I', sb, 72, 1); struct.pack_into('<I', sb, 92, 2)
sectors = 512 * 2048
for off, v in ((80, sectors - 2048), (128, 2048), (136, sectors - 2048), (144, 8)):
    struct.pack_into('<Q', sb, off, v)
sb[168:184] = bytes(range(17, 33)); struct.pack_into('<I', sb, 220, 2)
s = sum(struct.unpack_from('<I', sb, i)[0] for i in range(0, 260, 4) if i != 216)
struct.pack_into('<I', sb, 216, ((s & 0xffffffff) + (s >> 32)) & 0xffffffff)
with open(sys.argv[1], 'r+b') as f:
    f.seek(4096); f.write(sb)
EOF
mkfs.xfs -q -f "$MOUNTED"
mkdir -p /srv/f /srv/g /tw/disk1 /tw/disk3
mount "$MOUNTED" /srv/f
# The machine copy's fstab holds only what this test puts there.
printf '# test node\n%s /srv/g xfs noauto,nofail 0 0\n' "$INFSTAB" > /etc/fstab

blkid -p -c /dev/null -o value -s TYPE "$RAID" | grep -qx linux_raid_member || fail "RAID signature not made"
blkid -p -c /dev/null -o value -s TYPE "$PV" | grep -qx LVM2_member || fail "LVM signature not made"

untouched=("$XFS" "$PART" "$PV" "$RAID" "$MOUNTED" "$INFSTAB" "$UNNAMED")
declare -A before
for dev in "${untouched[@]}"; do before[$dev]=$(sha256sum < "$dev"); done

reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
mkdir -p "$reg"
named=$(IFS=,; echo "${loops[*]:0:8}")  # every loop device of this test but the unnamed one
printf 'sArrowfieldApplianceType RM-110\nsTidewallTestDisks %s\n' "$named" > "$reg/registry.conf"

# What would be provisioned, and why not the others.
json=$("$TWCTL" disks new --json) || fail "disks new failed: $json"
python3 - "$json" "$A" "$B" "$XFS" "$PART" "$PV" "$RAID" "$MOUNTED" "$INFSTAB" "$UNNAMED" <<'EOF' || fail "disks new: $json"
import json, sys
d = json.loads(sys.argv[1])
a, b, xfs, part, pv, raid, mounted, infstab, unnamed = sys.argv[2:]
disks = {x["device"]: x for x in d["disks"]}
new = sorted(x["device"] for x in d["disks"] if x["new"])
assert d["complete"], d
# Anything else new would be a disk of this machine: never go on then.
assert new == sorted([a, b]), new
assert disks[a]["mount_path"] == "/tw/disk4" and disks[b]["mount_path"] == "/tw/disk5", (disks[a], disks[b])
want = {
    xfs: "carries a xfs file system signature",
    pv: "carries a LVM2_member signature",
    raid: "carries a linux_raid_member signature",
    unnamed: "loop device not named in sTidewallTestDisks",
}
for dev, reason in want.items():
    assert disks[dev]["reason"] == reason, (dev, disks[dev])
assert disks[part]["reason"] in ("has partitions (%sp1)" % part.split("/")[-1], "carries a gpt partition table"), disks[part]
assert disks[mounted]["reason"] == "mounted at /srv/f", disks[mounted]
assert disks[infstab]["reason"] == "named in /etc/fstab (%s on /srv/g)" % infstab, disks[infstab]
EOF

sum_a=$(sha256sum < "$A")
sum_b=$(sha256sum < "$B")

# A node whose appliance type is not recorded: refused before any wipe, naming the key to set.
printf 'sTidewallTestDisks %s\n' "$named" > "$reg/registry.conf"
if out=$("$TWCTL" disks provision --yes 2>&1); then fail "provision went on with no appliance type: $out"; fi
grep -q "registry key sArrowfieldApplianceType" <<<"$out" || fail "refusal does not name the key: $out"
[ "$(sha256sum < "$A")" = "$sum_a" ] && [ "$(sha256sum < "$B")" = "$sum_b" ] || fail "a refused provisioning wiped a disk"
printf 'sArrowfieldApplianceType RM-110\nsTidewallTestDisks %s\n' "$named" > "$reg/registry.conf"

# Without --yes it asks; anything but yes changes nothing.
if echo n | "$TWCTL" disks provision >/dev/null; then fail "provision went on without a yes"; fi
[ "$(sha256sum < "$A")" = "$sum_a" ] || fail "a refused provisioning changed $A"

# On a terminal (a pty from script(1)), each disk's progress line shows while
# it is worked on and is cleared before its result.
out=$(script -qefc "$TWCTL disks provision --yes" /dev/null) || fail "provision failed: $out"
out=${out//$'\r\n'/$'\n'}
echo "$out"
for step in "$A: provisioning, disks: 0/2 done (0%)" "$B: provisioning, disks: 1/2 done (50%)"; do
  grep -qF $'\r'"$step" <<<"$out" || fail "no progress line '$step': $(od -c <<<"$out" | head -30)"
done
grep -qF $'\r\033[K'"$B: mounted at /tw/disk5 and stamped" <<<"$out" || fail "result not on a cleared line: $out"

for pair in "$A:/tw/disk4" "$B:/tw/disk5"; do
  dev=${pair%%:*}; mp=${pair#*:}
  grep -q "^$dev $mp xfs .*noatime" /proc/mounts || fail "$dev not mounted at $mp with noatime: $(grep " $mp " /proc/mounts)"
  [ "$(getfattr --only-values -n trusted.tslnstamp "$mp")" = "arrowfield@tsln" ] || fail "tslnstamp on $mp"
  [ "$(getfattr --only-values -n trusted.mntstamp "$mp")" = "$mp" ] || fail "mntstamp on $mp"
  getfattr -n trusted.blkdevstamp "$mp" >/dev/null 2>&1 || fail "blkdevstamp missing on $mp"
  [ -z "$(getfattr --only-values -n trusted.blkdevstamp "$mp")" ] || fail "blkdevstamp of a data drive not empty"
  uuid=$(blkid -p -c /dev/null -o value -s UUID "$dev")
  grep -qxF "UUID=$uuid      $mp      xfs      noatime,inode64,nofail      0   0" /etc/fstab ||
    fail "no fstab line for $mp: $(cat /etc/fstab)"
done
head -n 7 /etc/fstab | diff - <(printf '%s\n' '#' '#/etc/fstab' '#Created by Tessaline Tidewall Storage' '#' \
  "#Accessible filesystems, by reference, are maintained under '/dev/disk'" \
  '#See man pages fstab(5), findfs(8), mount(8) and/or blkid(8) for more info' '#') || fail "fstab header"
grep -qxF "$INFSTAB      /srv/g      xfs      noauto,nofail      0   0" /etc/fstab || fail "existing entry lost"

for dev in "${untouched[@]}"; do
  [ "$(sha256sum < "$dev")" = "${before[$dev]}" ] || fail "$dev was changed"
done

# mount(8) reads back what the library wrote.
umount /tw/disk4 /tw/disk5
mount -a || fail "mount -a failed on the library's fstab"
grep -q "^$A /tw/disk4 xfs" /proc/mounts || fail "mount -a did not mount /tw/disk4"
grep -q "^$B /tw/disk5 xfs" /proc/mounts || fail "mount -a did not mount /tw/disk5"

# Missing stamps are found and repaired.
"$TWCTL" stamps check >/dev/null || fail "stamps check failed on freshly stamped drives"
setfattr -x trusted.tslnstamp /tw/disk4
setfattr -x trusted.blkdevstamp /tw/disk4
if "$TWCTL" stamps check >/dev/null; then fail "stamps check passed a drive without stamps"; fi
# Output captured whole: grep -q quits at its first match, and under pipefail the
# writer's SIGPIPE would fail the test at random.
out=$("$TWCTL" stamps fix) || fail "stamps fix failed: $out"
grep -qF "Successfully stamped tessaline extended attributes for drive [$A] mounted at [/tw/disk4]" <<<"$out" ||
  fail "stamps fix did not repair /tw/disk4: $out"
"$TWCTL" stamps check --json | python3 -c 'import json,sys; d=json.load(sys.stdin); assert all(x["valid"] for x in d["drives"]) and len(d["drives"]) == 2, d' ||
  fail "stamps not valid after the fix"

# A UUID= entry resolves through /dev/disk/by-uuid (no udev here: the link is
# made by hand, on a tmpfs of this namespace so that the host's /dev is untouched).
[ -d /dev/disk ] || { mkdir /dev/disk; made_dev_disk=1; }
mount -t tmpfs tw-dev-disk /dev/disk
mkdir /dev/disk/by-uuid
uuid=$(blkid -p -c /dev/null -o value -s UUID "$A")
ln -s "../../${A#/dev/}" "/dev/disk/by-uuid/$uuid"
"$TWCTL" fstab show --json | python3 -c '
import json, sys
d = json.load(sys.stdin)
e = [x for x in d["entries"] if x["mount_point"] == "/tw/disk4"][0]
assert e["resolves_to"] == sys.argv[1] and e["mounted"] and e["mounted_device"] == sys.argv[1], e
' "$A" || fail "fstab show did not resolve the UUID of /tw/disk4"

echo "disk provisioning checks passed"
