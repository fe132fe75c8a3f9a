#!/usr/bin/env bash
# --dry-run of every twctl command that changes the node prints its steps and
# leaves the machine copy as it was: /etc (fstab, registry tree) byte for byte,
# the mount table, a blank disk provisioning would take and a foreign mount.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh: this test writes /etc and /tw" >&2; exit 1; }
for tool in losetup mkfs.xfs sha256sum; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/twdry.XXXXXX)
loops=()
crash_mounts=()
cleanup() {
  set +e
  umount /srv/foreign 2>/dev/null
  for m in "${crash_mounts[@]}"; do umount "$m"; done
  for dev in "${loops[@]}"; do losetup -d "$dev"; done
  rm -rf "$work"
}
trap cleanup EXIT
attach() {  # NAME SIZE
  truncate -s "$2" "$work/$1.img"
  local dev
  dev=$(losetup -f --show "$work/$1.img")
  loops+=("$dev")
  printf -v "$1" '%s' "$dev"
}
attach BLANK 64M  # hashed after every step: small
attach FOREIGN 512M
mkfs.xfs -q -f "$FOREIGN"
mkdir -p /srv/foreign /tw
mount "$FOREIGN" /srv/foreign
echo keep > /srv/foreign/data
printf '# the OS lines\nUUID=0000 / ext4 defaults 1 1\n%s /srv/foreign xfs defaults 0 0\n' "$FOREIGN" > /etc/fstab
reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
mkdir -p "$reg"
printf 'sArrowfieldApplianceType RM-110\nsScaleoutPlatformType ReferenceArchitecture\nsTidewallTestDisks %s\n' "$BLANK" \
  > "$reg/registry.conf"
"$TWCTL" metadata layout --node-type Data --disk "$BLANK" > "$work/layout.json" || fail "metadata layout"
# The dump locations hold only this test's dumps: empty file systems over them.
for m in /var/crash /var/log/core; do
  mkdir -p "$m"
  mount -t tmpfs tmpfs "$m"
  crash_mounts+=("$m")
done
mkdir -p /var/crash/old /var/crash/young /var/log/core/kept
echo dump > /var/crash/old/vmcore
echo dump > /var/crash/young/vmcore
echo core > /var/log/core/kept/core.1
touch -d '10 days ago' /var/crash/old/vmcore /var/log/core/kept/core.1

# What must not change: every file and link of /etc with its mode, the mount
# table, the blank disk and the foreign file system's file.
snapshot() {
  find /etc -xdev -printf '%p %m %y %l\n' | sort
  find /etc -xdev -type f -print0 | sort -z | xargs -0 sha256sum
  awk '{ print $5, $9, $10 }' /proc/self/mountinfo | sort
  sha256sum < "$BLANK"
  cat /srv/foreign/data
  find /var/crash /var/log/core | sort
}
snapshot > "$work/before"

# Each dry run, with a line its steps must show.
while IFS='|' read -r words want; do
  read -ra w <<<"$words"
  out=$("$TWCTL" "${w[@]}" </dev/null 2>&1) || fail "twctl $words: $out"
  grep -q '^Dry run: nothing is changed' <<<"$out" || fail "twctl $words does not say it is a dry run: $out"
  grep -qF -e "$want" <<<"$out" || fail "twctl $words lacks '$want': $out"
  snapshot > "$work/after"
  diff "$work/before" "$work/after" >&2 || fail "twctl $words changed the node"
done <<EOF_TABLE
disks provision --dry-run|$BLANK: make a xfs file system
disks provision --dry-run --no-fstab|$BLANK: stamp /tw/disk1
stamps fix --dry-run|Fixing would
tune --dry-run|Would run, in this order
firstboot --dry-run|write /etc/kdump.conf, then enable and restart kdump
firstboot --update-logrotate --dry-run|gluster log rotation version 1
metadata unconfigure --dry-run --vg twdryvg --disks $BLANK|remove volume group twdryvg
metadata configure $work/layout.json --dry-run --old-vg twdryvg --old-disks $BLANK|make physical volumes
metadata configure $work/layout.json --dry-run --m5|make physical volumes
prune --dry-run|remove /var/crash/old/vmcore
EOF_TABLE
out=$("$TWCTL" disks provision --dry-run --no-fstab)
if grep -q 'in /etc/fstab' <<<"$out"; then fail "--no-fstab dry run still records /etc/fstab: $out"; fi
# The dry run lists what the run then removes, no more and no less.
listed=$("$TWCTL" prune --dry-run | sed -n 's/^  [0-9]*\. remove \(\/.*\)/\1/p' | sort)
[ "$listed" = "$(printf '%s\n' /var/crash/old/vmcore /var/log/core/kept/core.1 | sort)" ] || fail "prune dry run lists: $listed"
find /var/crash /var/log/core -type f | sort > "$work/files-before"
"$TWCTL" prune >/dev/null || fail "prune failed"
removed=$(comm -23 "$work/files-before" <(find /var/crash /var/log/core -type f | sort))
[ "$removed" = "$listed" ] || fail "prune removed '$removed', its dry run listed '$listed'"
echo "twctl dry-run checks passed"
