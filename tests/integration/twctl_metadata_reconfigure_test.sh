#!/usr/bin/env bash
# twctl metadata configure of the same document over the layout it built (real
# lvm2 with activation off, a real XFS on a loop device named in the document):
# the node's own stamped file system at the layout's path is taken down and
# built again; an unstamped one mounted there is refused and left alone. Then
# two configures started together: the second waits for the first, both
# succeed, and the node holds one layout. A foreign mounted XFS stays as it was.
set -euo pipefail
: "${TWCTL:?}" "${TW_LVM_FILTER:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/twmetare.XXXXXX)
index=/opt/tessaline/Dockwright64/IndexCache
pv="" fsdev="" foreign_fs=""
cleanup() {
  umount -l "$index" 2>/dev/null || true
  umount -l "$work/foreign" 2>/dev/null || true
  if [ -n "$pv" ]; then
    for vg in $(pvs --noheadings -o vg_name "$pv" 2>/dev/null); do vgremove -ff "$vg" >/dev/null 2>&1 || true; done
    pvremove -ff -y "$pv" >/dev/null 2>&1 || true
    losetup -d "$pv" || true
  fi
  for dev in "$fsdev" "$foreign_fs"; do [ -z "$dev" ] || losetup -d "$dev" || true; done
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

reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
mkdir -p "$reg"
printf 'sArrowfieldNodeType Data\nsScaleoutPlatformType ReferenceArchitecture\n' > "$reg/registry.conf"
cat > "$work/doc.json" <<EOF
{"disk": [{"name": "$pv"}],
 "volumeGroup": {"name": "metadatavg", "extentSize": 4, "rsvdPercentage": 0,
   "physicalVolume": [{"name": "$pv"}],
   "logicalVolume": [{"name": "index", "minPercentage": 90, "maxSize": 4096, "thinVolume": false}]},
 "fileSystem": [{"blkDevice": "$fsdev", "fsType": "xfs"}],
 "fileSystemMount": [{"blkDevice": "$fsdev", "fsType": "xfs", "mntPath": "$index",
   "fsArgs": "noatime,inode64,nofail", "fsFreq": 1, "fsPassno": 1}]}
EOF
built() {
  [ "$(grep -c " $index xfs" /proc/self/mounts)" = 1 ] || return 1
  grep -q "^$fsdev $index xfs" /proc/self/mounts || return 1
  [ "$(getfattr --only-values -n trusted.mntstamp "$index" 2>/dev/null)" = "$index" ] || return 1
  [ "$(grep -c " $index " /etc/fstab)" = 1 ] || return 1
  [ "$(vgs --noheadings -o vg_name 2>/dev/null | tr -d ' ')" = metadatavg ]
}

"$TWCTL" metadata configure "$work/doc.json" --old-vg metadatavg --old-disks "$pv" --yes >"$work/out" 2>&1 ||
  fail "first configure: $(cat "$work/out")"
built || fail "first configure did not build the layout"

# The same document over the layout it built: the recorded group and disks
# are torn down, the node's own file system at the layout's path with them.
"$TWCTL" metadata configure "$work/doc.json" --yes >"$work/out" 2>&1 || fail "reconfigure refused: $(cat "$work/out")"
built || fail "reconfigure did not build the layout again"

# An unstamped file system mounted there is somebody else's: refused, left mounted.
umount "$index"
mount "$fsdev" "$index"
setfattr -x trusted.mntstamp "$index"
if "$TWCTL" metadata configure "$work/doc.json" --yes >"$work/out" 2>&1; then fail "configure over a foreign mount"; fi
grep -q "file system device \[$fsdev\] is mounted at $index" "$work/out" || fail "no reason: $(cat "$work/out")"
grep -q "^$fsdev $index xfs" /proc/self/mounts || fail "the refused configure unmounted it"
setfattr -n trusted.mntstamp -v "$index" "$index"

# Two at once: one after the other, both succeed, one layout.
"$TWCTL" metadata configure "$work/doc.json" --yes >"$work/a" 2>&1 & a=$!
"$TWCTL" metadata configure "$work/doc.json" --yes >"$work/b" 2>&1 & b=$!
wait "$a" || fail "first of two: $(cat "$work/a")"
wait "$b" || fail "second of two: $(cat "$work/b")"
built || fail "two configures left no single layout"
[ "$(foreign_state)" = "$foreign_before" ] || fail "a configure changed the foreign file system"
echo "twctl metadata reconfigure: ok"
