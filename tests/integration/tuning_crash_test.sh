#!/usr/bin/env bash
# twctl tune from version 0 to 7 on a plain node (no interfaces, no gluster),
# with fake tools on PATH:
#  1. killed at steps 1, 4, 7, ... in turn (TW_CRASH_AT_STEP; the others in
#     tuning_crash_sweep2_test.sh and _sweep3_test.sh) and run once more, it
#     ends with the files and the registry of an uninterrupted run;
#  2. (tuning_race_test.sh) two runs started together, 10 times: both succeed,
#     the same end state, each version applied once;
#  3. (tuning_race_test.sh) with the registry section read-only, version 7 is
#     applied but cannot be recorded: the run says so and exits 1, and the
#     record stays at 6.
set -euo pipefail
: "${TWCTL:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$TW_SOURCE_DIR/tests/integration/lib/crash_sweep.sh"  # crash_sweep_steps

work=$(mktemp -d /tmp/twtunecrash.XXXXXX)
regroot=/etc/TessalineRegistry/Tolvan/Instance001
cleanup() {
  umount "$regroot/Dockwright" 2>/dev/null || true
  umount /proc/sys/fs/inotify/max_user_watches 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$regroot/Dockwright" /etc/lvm /etc/modprobe.d /etc/sysconfig/network-scripts /etc/abrt "$work/bin"
echo 8192 > "$work/max_user_watches"
mount --bind "$work/max_user_watches" /proc/sys/fs/inotify/max_user_watches
grep -q '^apache:' /etc/passwd || echo 'apache:x:48:48:Apache:/usr/share/httpd:/sbin/nologin' >> /etc/passwd
grep -q '^apache:' /etc/group || echo 'apache:x:48:' >> /etc/group
for tool in ifconfig ethtool sysctl systemctl tuned-adm multipath python; do
  printf '#!/bin/sh\necho "$(basename "$0") $*" >> %s/calls\n' "$work" > "$work/bin/$tool"
done
echo "echo 'Iface      MTU    RX-OK RX-ERR RX-DRP RX-OVR    TX-OK TX-ERR TX-DRP TX-OVR Flg'" >> "$work/bin/ifconfig"
chmod +x "$work/bin"/*
export PATH="$work/bin:$PATH"

# The files the versions edit, as a node is imaged.
files="/etc/sysctl.conf /etc/lvm/lvm.conf /etc/modprobe.d/blacklist.conf /etc/abrt/abrt-action-save-package-data.conf
  /etc/multipath.conf /etc/fstab"
fresh_node() {
  printf '# sysctl settings\nkernel.sem = 250 32000 32 128\n' > /etc/sysctl.conf
  printf 'activation {\n\tthin_pool_autoextend_threshold = 100\n\tthin_pool_autoextend_percent = 20\n}\n' \
    > /etc/lvm/lvm.conf
  printf 'blacklist nouveau\n' > /etc/modprobe.d/blacklist.conf
  rm -f /etc/modprobe.d/tsbf.conf /etc/modprobe.d/tsfsf.conf
  printf '# Will ProcessUnpackaged\nOpenGPGCheck = yes\nProcessUnpackaged = no\n' \
    > /etc/abrt/abrt-action-save-package-data.conf
  printf 'defaults {\n    user_friendly_names yes\n    no_path_retry fail\n}\n' > /etc/multipath.conf
  printf '/dev/sda2 / xfs defaults 1 1\n' > /etc/fstab
  printf '# the node registry\n' > "$regroot/Dockwright/registry.conf"
  echo 8192 > /proc/sys/fs/inotify/max_user_watches
  : > "$work/calls"
}
tune() { "$TWCTL" tune; }
end_state() {
  # shellcheck disable=SC2086
  for f in $files /etc/modprobe.d/tsbf.conf /etc/modprobe.d/tsfsf.conf; do echo "== $f"; cat "$f" 2>&1; done
  sort "$regroot/Dockwright/registry.conf"
  cat /proc/sys/fs/inotify/max_user_watches
}

fresh_node
tune >/dev/null || fail "uninterrupted run failed"
expected=$(end_state)
grep -qx 'nPerfParamsVersion 7' "$regroot/Dockwright/registry.conf" || fail "not at 7: $expected"

# ---- 1. the crash sweep ---------------------------------------------------------
fresh_node
steps=$(crash_sweep_steps tune)
[ "$steps" -ge 10 ] || fail "an uninterrupted run took only $steps steps"
check_state() {
  [ "$2" = 0 ] || return 1
  [ "$(end_state)" = "$expected" ] || { diff <(echo "$expected") <(end_state) >&2 || true; return 1; }
}
# Every third kill point here, the others in tuning_crash_sweep{2,3}_test.sh:
# each part stays well within a test's time.
for ((k = ${TW_SWEEP_FIRST:-1}; k <= steps; k += 3)); do
  fresh_node
  TW_CRASH_AT_STEP=$k tune >/dev/null 2>&1 || true
  rc=0
  tune >"$work/rerun" 2>&1 || rc=$?
  check_state "$k" "$rc" || fail "bad end state after a kill at step $k of $steps (rerun exit $rc): $(cat "$work/rerun")"
done
[ -n "${TW_TUNING_RACES:-}" ] || { echo "tuning: kill points ${TW_SWEEP_FIRST:-1}, +3, ... of $steps: ok"; exit 0; }

# ---- 2. two runs at once --------------------------------------------------------
for i in $(seq 10); do
  fresh_node
  tune >"$work/a" 2>&1 & a=$!
  tune >"$work/b" 2>&1 & b=$!
  wait "$a" || fail "race $i: a run failed: $(cat "$work/a")"
  wait "$b" || fail "race $i: a run failed: $(cat "$work/b")"
  [ "$(end_state)" = "$expected" ] || fail "race $i: end state differs"
  # Exactly one run says it applied the versions; the other applied nothing.
  [ "$(cat "$work/a" "$work/b" | grep -c '^Applied tuning versions 1 to 7\.$')" = 1 ] ||
    fail "race $i: both runs claim the versions: $(cat "$work/a" "$work/b")"
  # Each version ran once: version 7's multipath reload is the last command.
  [ "$(grep -c '^multipath' "$work/calls")" = 1 ] || fail "race $i: version 7 ran $(grep -c '^multipath' "$work/calls") times"
done

# ---- 3. a record that cannot be written -----------------------------------------
fresh_node
printf 'nPerfParamsVersion 6\n' > "$regroot/Dockwright/registry.conf"
mount --bind "$regroot/Dockwright" "$regroot/Dockwright"
mount -o remount,bind,ro "$regroot/Dockwright"
rc=0
"$TWCTL" tune >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 1 ] || fail "unrecorded version 7: exit $rc: $(cat "$work/out" "$work/err")"
grep -qx 'twctl tune: version 7 applied but not recorded: Read-only file system; the node stays at version 6' \
  "$work/err" || fail "message: $(cat "$work/err")"
grep -q 'no_path_retry 4' /etc/multipath.conf || fail "version 7 was not applied"
umount "$regroot/Dockwright"
grep -qx 'nPerfParamsVersion 6' "$regroot/Dockwright/registry.conf" || fail "record changed"
echo "tuning: 10 races and an unrecorded version: ok"
