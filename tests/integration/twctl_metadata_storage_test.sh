#!/usr/bin/env bash
# twctl metadata configure, status and unconfigure on loop devices with real
# lvm2 (activation off: a test lvm.conf that sees only this test's devices) and
# a real XFS on a loop device named in the document as the block device.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/twctlmeta.XXXXXX)
pv="" fsdev=""
cleanup() {
  umount -l /opt/tessaline/Dockwright64/IndexCache 2>/dev/null || true
  vgremove -ff metadatavg >/dev/null 2>&1 || true
  [ -z "$pv" ] || { pvremove -ff -y "$pv" >/dev/null 2>&1 || true; losetup -d "$pv" || true; }
  [ -z "$fsdev" ] || losetup -d "$fsdev" || true
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 512M "$work/pv.img" "$work/fs.img"
pv=$(losetup -f --show "$work/pv.img")
fsdev=$(losetup -f --show "$work/fs.img")
mkdir -p "$work/lvm"
cat > "$work/lvm/lvm.conf" <<EOF
global { activation = 0 }
devices { global_filter = [ "a|^$pv\$|", "r|.*|" ] obtain_device_list_from_udev = 0 use_devicesfile = 0 }
activation { udev_sync = 0 udev_rules = 0 }
backup { backup = 0 archive = 0 }
EOF
export LVM_SYSTEM_DIR=$work/lvm LVM_SUPPRESS_FD_WARNINGS=1

reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
mkdir -p "$reg"
printf 'sArrowfieldNodeType Data\nsScaleoutPlatformType ReferenceArchitecture\n' > "$reg/registry.conf"

cat > "$work/doc.json" <<EOF
{"disk": [{"name": "$pv"}],
 "volumeGroup": {"name": "metadatavg", "extentSize": 4, "rsvdPercentage": 0,
   "physicalVolume": [{"name": "$pv"}],
   "logicalVolume": [{"name": "index", "minPercentage": 90, "maxSize": 4096, "thinVolume": false}]},
 "fileSystem": [{"blkDevice": "$fsdev", "fsType": "xfs"}],
 "fileSystemMount": [{"blkDevice": "$fsdev", "fsType": "xfs", "mntPath": "/opt/tessaline/Dockwright64/IndexCache",
   "fsArgs": "noatime,inode64,nofail", "fsFreq": 1, "fsPassno": 1}]}
EOF

# Asked, and no answer: nothing happens.
if "$TWCTL" metadata configure "$work/doc.json" </dev/null >"$work/out" 2>&1; then fail "configure without an answer"; fi
grep -q 'Nothing was changed' "$work/out" || fail "no refusal: $(cat "$work/out")"
[ -z "$(pvs --noheadings 2>/dev/null)" ] || fail "a refused configure labelled the disk"

# A document that does not read changes nothing either.
echo '{"disk": []}' > "$work/bad.json"
if "$TWCTL" metadata configure "$work/bad.json" --yes >"$work/out" 2>&1; then fail "bad document accepted"; fi
grep -q 'volume group config data missing' "$work/out" || fail "no reason: $(cat "$work/out")"

# Nothing earlier recorded: the teardown before the build cannot know what to clear.
if "$TWCTL" metadata configure "$work/doc.json" --yes >"$work/out" 2>&1; then fail "configure with nothing recorded"; fi
grep -q 'reading reg key failed for \[sArrowfieldMetadataVG\]' "$work/out" || fail "no reason: $(cat "$work/out")"
grep -q -- '--old-vg NAME --old-disks' "$work/out" || fail "no hint: $(cat "$work/out")"

"$TWCTL" metadata configure "$work/doc.json" --old-vg metadatavg --old-disks "$pv" --yes >"$work/out" 2>&1 ||
  fail "configure: $(cat "$work/out")"
grep -q 'metadata storage configured: group metadatavg' "$work/out" || fail "no result: $(cat "$work/out")"
grep -q "^$fsdev /opt/tessaline/Dockwright64/IndexCache xfs" /proc/self/mounts || fail "not mounted"

"$TWCTL" metadata status --json > "$work/status.json" || fail "status: $(cat "$work/status.json")"
python3 - "$work/status.json" "$pv" "$fsdev" <<'PY' || fail "status is not as built: $(cat "$work/status.json")"
import json, sys, subprocess
d = json.load(open(sys.argv[1]))
pv, fsdev = sys.argv[2], sys.argv[3]
vg = d["volume_group"]
assert vg["name"] == "metadatavg" and vg["recorded"] and vg["exists"], vg
total = int(subprocess.check_output(["vgs", "--noheadings", "-o", "vg_extent_count", "metadatavg"]).strip())
assert vg["alloc_extents"] == total * 90 // 100 and vg["free_extents"] == total - vg["alloc_extents"], (vg, total)
assert d["node_type"] == "Data", d
assert [p["device"] for p in d["physical_volumes"]] == [pv], d["physical_volumes"]
assert d["logical_volumes"] == [{"name": "index", "extents": total * 90 // 100, "thin": False}], d["logical_volumes"]
assert d["mounts"] == [{"device": fsdev, "mnt_path": "/opt/tessaline/Dockwright64/IndexCache", "fs_type": "xfs",
                        "in_group": False}], d["mounts"]
assert d["complete"] is True
PY
"$TWCTL" metadata status > "$work/status.txt" || fail "status text"
grep -q 'volume group metadatavg: present (recorded in the registry)' "$work/status.txt" || fail "$(cat "$work/status.txt")"

"$TWCTL" metadata unconfigure --yes >"$work/out" 2>&1 || fail "unconfigure: $(cat "$work/out")"
grep -q "^$fsdev " /proc/self/mounts && fail "still mounted"
[ -z "$(pvs --noheadings 2>/dev/null)" ] || fail "physical volume left: $(pvs 2>&1)"
"$TWCTL" metadata status --json > "$work/status.json" || fail "status after"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert not d["volume_group"]["exists"] and d["physical_volumes"][0]["device"] is None, d' \
  "$work/status.json" || fail "status after unconfigure: $(cat "$work/status.json")"
echo "twctl metadata configure/status/unconfigure: ok"
