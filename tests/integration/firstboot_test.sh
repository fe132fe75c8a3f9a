#!/usr/bin/env bash
# twctl firstboot on a freshly imaged node (in the sandbox): the DDB disk on a
# loop device, fake systemctl, iscsi-iname and LVM filter script. A first run
# without the bare-metal-recovery logs fails and leaves the mark unset; the next
# run completes, writes every file byte for byte, and runs the once-only steps
# after the mark; a third run only records the platform type.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
dev=""
cleanup() {
  umount /srv/twlogs 2>/dev/null || true
  if [ -n "$dev" ]; then umount /tw/ddb 2>/dev/null || true; losetup -d "$dev" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The DDB file system, mounted as the imaging left it.
truncate -s 512M "$work/ddb.img"
dev=$(losetup -f --show "$work/ddb.img")
mkfs.xfs -q -f "$dev"
mkdir -p /tw/ddb
mount -o noatime "$dev" /tw/ddb

# Fake tools: each notes its arguments and whether first boot was marked done
# when it ran.
reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf
mkdir -p "$(dirname "$reg")" "$work/bin" /opt/tessaline/Dockwright /etc/iscsi /etc/logrotate.d /var/log/tessaline
printf 'dHOME /opt/tessaline/Dockwright\n' > "$reg"
note='echo "$(basename "$0") $* mark=$(awk '\''$1 == "sArrowfieldFirstBootComplete" { print $2 }'\'' '"$reg"')" >> '"$work"'/calls'
printf '#!/bin/sh\n%s\n' "$note" > "$work/bin/systemctl"
printf '#!/bin/sh\n%s\necho iqn.1994-05.com.redhat:c0ffee42\n' "$note" > /usr/sbin/iscsi-iname
printf '#!/bin/sh\n%s\n' "$note" > /opt/tessaline/Dockwright/tsgeneratelvmfilter.py
chmod +x "$work/bin/systemctl" /usr/sbin/iscsi-iname /opt/tessaline/Dockwright/tsgeneratelvmfilter.py
export PATH="$work/bin:$PATH"
printf 'InitiatorName=iqn.imaged:old\n' > /etc/iscsi/initiatorname.iscsi
printf 'UUID=0000 / ext4 defaults 1 1\n' > /etc/fstab
rm -rf /var/log/bmrlogs /var/log/tessaline/bmrlogs

# 1. No recovery logs: the sequence stops there and the mark stays unset.
if "$TWCTL" firstboot >"$work/out" 2>&1; then fail "first boot without /var/log/bmrlogs succeeded"; fi
grep -q '^sArrowfieldFirstBootComplete ' "$reg" && fail "mark set after a failed first boot"
grep -q iscsi-iname "$work/calls" && fail "once-only step ran without the mark"
grep -q 'Failed to move bmrlogs to tessaline log dir' /var/log/tessaline/TSTidewall.log || fail "no failure logged"

# 2. With the logs: every step, then the mark, then the once-only steps.
mkdir -p /var/log/bmrlogs
echo restored > /var/log/bmrlogs/restore.log
: > "$work/calls"
"$TWCTL" firstboot > "$work/out" || fail "first boot failed: $(cat "$work/out")"
grep -qx 'sArrowfieldFirstBootComplete Yes' "$reg" || fail "mark not set"
diff - "$work/calls" <<'EOF' || fail "tools ran in another order or saw another mark"
systemctl enable kdump.service mark=
systemctl restart kdump.service mark=
iscsi-iname  mark=Yes
tsgeneratelvmfilter.py  mark=Yes
EOF

diff - /etc/kdump.conf <<'EOF' || fail "/etc/kdump.conf"
#
#/etc/kdump.conf
#Created by Tessaline Arrowfield
#
path /tw/ddb/crash
core_collector makedumpfile -l --message-level 1 -d 31
EOF
[ -d /tw/ddb/crash ] || fail "crash directory not made"
grep -qx 'sArrowfieldKdumpLoc /tw/ddb/crash' "$reg" || fail "kdump location not recorded"

diff - /etc/logrotate.conf <<'EOF' || fail "/etc/logrotate.conf"
#/etc/logrotate.conf
#Created by Tessaline Arrowfield
#
# rotate log files weekly
weekly
#
# keep 4 weeks worth of backlogs
rotate 4
#
# create new (empty) log files after rotating old ones
create
#
# use date as a suffix of the rotated file
dateext
#
# uncomment this if you want your log files compressed
compress
#
# RPM packages drop log rotation information into this directory
include /etc/logrotate.d
#
# no packages own wtmp and btmp -- we'll rotate them here
/var/log/wtmp {
    monthly
    create 0664 root utmp
    minsize 1M
    rotate 1
}
#
/var/log/btmp {
    missingok
    monthly
    create 0600 root utmp
    rotate 1
}
#
# system-specific logs may be also be configured here.
EOF

diff - /etc/logrotate.d/glusterfs <<'EOF' || fail "/etc/logrotate.d/glusterfs"
# Rotate client logs
/var/log/glusterfs/*.log {
    sharedscripts
    maxsize 25M
    daily
    rotate 4
    missingok
    compress
    delaycompress
    notifempty
    postrotate
    /usr/bin/killall -HUP glusterfs > /dev/null 2>&1 || true
    /usr/bin/killall -HUP glusterd > /dev/null 2>&1 || true
    /opt/tessaline/Dockwright/ts_postscript.sh /var/log/glusterfs > /dev/null 2>&1
    endscript
}
#
# Rotate server logs
/var/log/glusterfs/bricks/*.log {
    sharedscripts
    maxsize 10M
    daily
    rotate 4
    missingok
    compress
    delaycompress
    notifempty
    postrotate
    /usr/bin/killall -HUP glusterfsd > /dev/null 2>&1 || true
    /opt/tessaline/Dockwright/ts_postscript.sh /var/log/glusterfs > /dev/null 2>&1
    endscript
}
#
/var/log/glusterfs/samples/*.samp {
    daily
    rotate 3
    sharedscripts
    missingok
    compress
    delaycompress
}
EOF
grep -qx 'nLogrotateUpdateVersion 2' "$reg" || fail "log rotation version not recorded"
# logrotate itself accepts the gluster file (alone: the gluster package may ship its own).
if command -v logrotate >/dev/null; then
  logrotate -d -s "$work/logrotate.state" /etc/logrotate.d/glusterfs > "$work/logrotate.out" 2>&1 ||
    fail "logrotate rejects /etc/logrotate.d/glusterfs: $(tail -5 "$work/logrotate.out")"
fi

printf 'InitiatorName=iqn.1994-05.com.redhat:c0ffee42\n' | cmp - /etc/iscsi/initiatorname.iscsi || fail "initiator name"
printf 'InitiatorName=iqn.imaged:old\n' | cmp - /var/tmp/initiatorname.iscsi.backup || fail "initiator name backup"
[ "$(cat /var/log/tessaline/bmrlogs/restore.log)" = restored ] || fail "recovery logs not moved"
[ ! -e /var/log/bmrlogs ] || fail "recovery logs still in place"
uuid_line=$(awk '$2 == "/tw/ddb"' /etc/fstab)
[ "$uuid_line" = "$dev      /tw/ddb      xfs      noatime,inode64,nofail      0   0" ] || fail "DDB fstab entry: $uuid_line"
grep -qx 'sScaleoutPlatformType ReferenceArchitecture' "$reg" || fail "platform type not recorded"

# 3. Later boots only record the platform type.
: > "$work/calls"
"$TWCTL" firstboot > "$work/out" || fail "later boot failed"
[ ! -s "$work/calls" ] || fail "later boot ran first-boot tools: $(cat "$work/calls")"
[ "$(grep -c '/tw/ddb' /etc/fstab)" = 1 ] || fail "DDB entry duplicated"
# 4. A node imaged with the product log directory on a file system of its own
# (rename cannot cross it): the recovery logs are copied there and removed from
# /var/log, and the first boot completes.
mkdir -p /srv/twlogs
mount -t tmpfs -o mode=0755 twlogs /srv/twlogs
evreg=/etc/TessalineRegistry/Tolvan/Instance001/EventManager/registry.conf
mkdir -p "$(dirname "$evreg")"
printf 'dEVLOGDIR /srv/twlogs\n' > "$evreg"
echo "operator notes" > /srv/twlogs/notes.txt
sed -i '/^sArrowfieldFirstBootComplete /d' "$reg"
mkdir -p /var/log/bmrlogs/disks
echo restored > /var/log/bmrlogs/restore.log
echo sda > /var/log/bmrlogs/disks/sda.log
chmod 0600 /var/log/bmrlogs/disks/sda.log
ln -s restore.log /var/log/bmrlogs/latest
# An earlier boot died part-way through the copy: one file half there.
mkdir -p /srv/twlogs/bmrlogs
printf 'rest' > /srv/twlogs/bmrlogs/restore.log
"$TWCTL" firstboot > "$work/out" || fail "first boot with the log directory on its own file system failed: $(cat "$work/out")"
grep -qx 'sArrowfieldFirstBootComplete Yes' "$reg" || fail "mark not set with the log directory on its own file system"
[ "$(cat /srv/twlogs/bmrlogs/restore.log)" = restored ] || fail "recovery log not copied whole"
[ "$(cat /srv/twlogs/bmrlogs/disks/sda.log)" = sda ] || fail "nested recovery log not copied"
[ "$(stat -c %a /srv/twlogs/bmrlogs/disks/sda.log)" = 600 ] || fail "mode of a recovery log not kept"
[ "$(readlink /srv/twlogs/bmrlogs/latest)" = restore.log ] || fail "link not copied as a link"
[ ! -e /var/log/bmrlogs ] || fail "recovery logs left in /var/log after the copy"
[ "$(cat /srv/twlogs/notes.txt)" = "operator notes" ] || fail "a file beside the target was touched"
grep -q 'Moved \[/var/log/bmrlogs\] to \[/srv/twlogs/bmrlogs\]' /srv/twlogs/TSTidewall.log || fail "move not logged in the product log"
# Repeated (mark lost): the logs are found already moved.
sed -i '/^sArrowfieldFirstBootComplete /d' "$reg"
"$TWCTL" firstboot > "$work/out" || fail "repeated first boot failed: $(cat "$work/out")"
grep -q 'was already moved to \[/srv/twlogs/bmrlogs\]' /srv/twlogs/TSTidewall.log || fail "repeat did not find the logs moved"
# 5. Hung tools (systemctl for kdump, then iscsi-iname) are killed at their time
# limit, capped here to 2 s (TW_TIME_LIMIT_CAP_S) so the test waits seconds,
# not the 100 s of a node; nothing of theirs is left running.
cp "$work/bin/systemctl" "$work/systemctl.ok"
printf '#!/bin/sh
echo $$ > %s/hung.pid
exec sleep 1000
' "$work" > "$work/bin/systemctl"
sed -i '/^sArrowfieldFirstBootComplete /d' "$reg"
start=$(date +%s)
if TW_TIME_LIMIT_CAP_S=2 "$TWCTL" firstboot > "$work/out" 2>&1; then fail "first boot with a hung systemctl succeeded"; fi
took=$(( $(date +%s) - start ))
[ "$took" -lt 30 ] || fail "first boot with a hung systemctl took ${took}s"
[ -s "$work/hung.pid" ] || fail "the fake systemctl never ran"
kill -0 "$(cat "$work/hung.pid")" 2>/dev/null && fail "the hung systemctl still runs"
pgrep -f 'sleep 1000$' >/dev/null && fail "a hung tool's child still runs"
grep -q '^sArrowfieldFirstBootComplete ' "$reg" && fail "mark set though kdump could not be configured"
grep -q 'Failed to configure kdump on the server' /srv/twlogs/TSTidewall.log || fail "kdump failure not logged"
cp "$work/systemctl.ok" "$work/bin/systemctl"
cp /usr/sbin/iscsi-iname "$work/iscsi-iname.ok"
printf '#!/bin/sh
echo $$ > %s/hung.pid
exec sleep 1000
' "$work" > /usr/sbin/iscsi-iname
rm -f "$work/hung.pid"
start=$(date +%s)
TW_TIME_LIMIT_CAP_S=2 "$TWCTL" firstboot > "$work/out" 2>&1 || fail "first boot with a hung iscsi-iname failed: $(cat "$work/out")"
took=$(( $(date +%s) - start ))
[ "$took" -lt 30 ] || fail "first boot with a hung iscsi-iname took ${took}s"
kill -0 "$(cat "$work/hung.pid")" 2>/dev/null && fail "the hung iscsi-iname still runs"
grep -qx 'sArrowfieldFirstBootComplete Yes' "$reg" || fail "mark not set (the IQN step comes after it)"
grep -q 'Setting the correct IQN failed.' /srv/twlogs/TSTidewall.log || fail "hung IQN step not reported"
cp "$work/iscsi-iname.ok" /usr/sbin/iscsi-iname
echo "firstboot: ok"
