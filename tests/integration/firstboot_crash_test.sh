#!/usr/bin/env bash
# twctl firstboot killed at each of its steps in turn (TW_CRASH_AT_STEP), then
# run once more, ends as an uninterrupted run does: every file whole, the mark
# and the steps after it done, the backup holding the original initiator name,
# the DDB entry in fstab once. Then two first boots started together, 10 times:
# kdump restarted and the name reset once per node, the backup the original.
set -euo pipefail
: "${TWCTL:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$TW_SOURCE_DIR/tests/integration/lib/crash_sweep.sh"

work=$(mktemp -d /tmp/twfbcrash.XXXXXX)
dev=""
cleanup() {
  if [ -n "$dev" ]; then umount /tw/ddb 2>/dev/null || true; losetup -d "$dev" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 512M "$work/ddb.img"
dev=$(losetup -f --show "$work/ddb.img")
mkfs.xfs -q -f "$dev"
mkdir -p /tw/ddb
mount -o noatime "$dev" /tw/ddb

reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf
mkdir -p "$(dirname "$reg")" "$work/bin" /opt/tessaline/Dockwright /etc/iscsi /etc/logrotate.d /var/log/tessaline
printf '#!/bin/sh\necho "systemctl $*" >> %s/calls\n' "$work" > "$work/bin/systemctl"
# Each call hands out a new name, as the real tool does.
printf '#!/bin/sh\necho iscsi-iname >> %s/calls\necho iqn.1994-05.com.redhat:new$(wc -l < %s/calls)\n' \
  "$work" "$work" > /usr/sbin/iscsi-iname
printf '#!/bin/sh\necho lvmfilter >> %s/calls\n' "$work" > /opt/tessaline/Dockwright/tsgeneratelvmfilter.py
chmod +x "$work/bin/systemctl" /usr/sbin/iscsi-iname /opt/tessaline/Dockwright/tsgeneratelvmfilter.py
export PATH="$work/bin:$PATH"

fresh_node() {
  printf 'dHOME /opt/tessaline/Dockwright\n' > "$reg"
  printf 'InitiatorName=iqn.imaged:old\n' > /etc/iscsi/initiatorname.iscsi
  printf 'UUID=0000 / ext4 defaults 1 1\n' > /etc/fstab
  rm -rf /var/log/bmrlogs /var/log/tessaline/bmrlogs /etc/kdump.conf /etc/logrotate.conf \
    /etc/logrotate.d/glusterfs /var/tmp/initiatorname.iscsi.backup
  mkdir -p /var/log/bmrlogs
  echo restored > /var/log/bmrlogs/restore.log
  : > "$work/calls"
}
first_boot() { "$TWCTL" firstboot; }

# The end state of an uninterrupted run, less the new name's number.
end_state() {
  grep -v '^sScaleoutPlatformType ' "$reg" | sort
  sed 's/:new[0-9]*$/:new/' /etc/iscsi/initiatorname.iscsi
  cat /var/tmp/initiatorname.iscsi.backup
  stat -c '%F %a %u' /var/tmp/initiatorname.iscsi.backup
  cat /etc/fstab /etc/kdump.conf /etc/logrotate.conf /etc/logrotate.d/glusterfs
  cat /var/log/tessaline/bmrlogs/restore.log
  [ ! -e /var/log/bmrlogs ] && echo "bmrlogs moved"
}
fresh_node
first_boot >/dev/null || fail "uninterrupted first boot failed"
expected=$(end_state)
grep -qx 'sTidewallIqnReset done' "$reg" || fail "steps after the mark not recorded done"
grep -qx 'InitiatorName=iqn.imaged:old' /var/tmp/initiatorname.iscsi.backup || fail "backup is not the original"

fresh_node
steps=$(crash_sweep_steps first_boot)
[ "$steps" -ge 10 ] || fail "an uninterrupted first boot took only $steps steps"
reset_state() { fresh_node; }
check_state() {
  [ "$2" = 0 ] || return 1
  [ "$(end_state)" = "$expected" ] || { diff <(echo "$expected") <(end_state) >&2 || true; return 1; }
}
crash_sweep "$steps" reset_state first_boot check_state || fail "crash sweep"

# Two at once: the second waits for the first, then finds first boot done.
for i in $(seq 10); do
  fresh_node
  first_boot >"$work/a" 2>&1 & a=$!
  first_boot >"$work/b" 2>&1 & b=$!
  wait "$a" || fail "race $i: first run failed: $(cat "$work/a")"
  wait "$b" || fail "race $i: second run failed: $(cat "$work/b")"
  [ "$(end_state)" = "$expected" ] || fail "race $i: end state differs"
  [ "$(grep -c '^systemctl restart kdump.service$' "$work/calls")" = 1 ] || fail "race $i: kdump restarted twice"
  [ "$(grep -c '^iscsi-iname$' "$work/calls")" = 1 ] || fail "race $i: the name was reset twice"
done
echo "first boot: $steps kill points and 10 races, every end state good"
