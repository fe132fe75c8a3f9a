#!/usr/bin/env bash
# twctl metadata configure, status and unconfigure on loop devices with real
# lvm2 (activation off; the sandbox's LVM filter names only this test's device)
# and a real XFS on a loop device named in the document as the block device.
# Beside it the node holds things that are not its storage: a volume group also
# named metadatavg on a device outside the filter and a mounted XFS. Every call
# leaves them as they were.
set -euo pipefail
: "${TWCTL:?}" "${TW_LVM_FILTER:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/twctlmeta.XXXXXX)
pv="" fsdev="" foreign_pv="" foreign_fs=""
cleanup() {
  umount -l /opt/tessaline/Dockwright64/IndexCache 2>/dev/null || true
  umount -l "$work/foreign" 2>/dev/null || true
  # Only the group on this test's own device (the filter shows no other).
  if [ -n "$pv" ]; then
    for vg in $(pvs --noheadings -o vg_name "$pv" 2>/dev/null); do vgremove -ff "$vg" >/dev/null 2>&1 || true; done
    pvremove -ff -y "$pv" >/dev/null 2>&1 || true
    losetup -d "$pv" || true
  fi
  for dev in "$fsdev" "$foreign_pv" "$foreign_fs"; do [ -z "$dev" ] || losetup -d "$dev" || true; done
  "$TW_LVM_FILTER" || true
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 512M "$work/pv.img" "$work/fs.img" "$work/foreign-pv.img" "$work/foreign-fs.img"
pv=$(losetup -f --show "$work/pv.img")
fsdev=$(losetup -f --show "$work/fs.img")
foreign_pv=$(losetup -f --show "$work/foreign-pv.img")
foreign_fs=$(losetup -f --show "$work/foreign-fs.img")
only_foreign="devices { global_filter = [ \"a|^$foreign_pv\$|\", \"r|.*|\" ] }"
vgcreate -q --config "$only_foreign" metadatavg "$foreign_pv" >/dev/null 2>&1 || fail "foreign group"
mkfs.xfs -q -f "$foreign_fs"
mkdir -p "$work/foreign"
mount "$foreign_fs" "$work/foreign"
echo "operator data" > "$work/foreign/data"
foreign_state() {
  vgs --config "$only_foreign" --noheadings -o vg_name,vg_uuid,pv_count 2>&1
  head -c 4M "$foreign_pv" | sha256sum
  grep -c "^$foreign_fs $work/foreign xfs" /proc/self/mounts || true
  cat "$work/foreign/data"
}
foreign_before=$(foreign_state)
grep -q metadatavg <<<"$foreign_before" || fail "foreign group not made: $foreign_before"
foreign_unchanged() { [ "$(foreign_state)" = "$foreign_before" ] || fail "$1 changed what is not its own: $(foreign_state)"; }
"$TW_LVM_FILTER" "$pv"

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
foreign_unchanged "a refused configure"

# A document that does not read changes nothing either.
echo '{"disk": []}' > "$work/bad.json"
if "$TWCTL" metadata configure "$work/bad.json" --yes >"$work/out" 2>&1; then fail "bad document accepted"; fi
grep -q 'volume group config data missing' "$work/out" || fail "no reason: $(cat "$work/out")"

# Nothing earlier recorded: the teardown before the build cannot know what to clear.
if "$TWCTL" metadata configure "$work/doc.json" --yes >"$work/out" 2>&1; then fail "configure with nothing recorded"; fi
grep -q 'reading reg key failed for \[sArrowfieldMetadataVG\]' "$work/out" || fail "no reason: $(cat "$work/out")"
grep -q -- '--old-vg NAME --old-disks' "$work/out" || fail "no hint: $(cat "$work/out")"
foreign_unchanged "a failed configure"

"$TWCTL" metadata configure "$work/doc.json" --old-vg metadatavg --old-disks "$pv" --yes >"$work/out" 2>&1 ||
  fail "configure: $(cat "$work/out")"
grep -q 'metadata storage configured: group metadatavg' "$work/out" || fail "no result: $(cat "$work/out")"
grep -q "^$fsdev /opt/tessaline/Dockwright64/IndexCache xfs" /proc/self/mounts || fail "not mounted"
foreign_unchanged "configure"

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
foreign_unchanged "unconfigure"
"$TWCTL" metadata status --json > "$work/status.json" || fail "status after"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert not d["volume_group"]["exists"] and d["physical_volumes"][0]["device"] is None, d' \
  "$work/status.json" || fail "status after unconfigure: $(cat "$work/status.json")"
echo "twctl metadata configure/status/unconfigure: ok"
