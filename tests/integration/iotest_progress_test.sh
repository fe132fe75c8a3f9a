#!/usr/bin/env bash
# twctl iotest on a real XFS loop disk and its block device:
#  - piped, it prints its result lines and nothing else (no progress, no
#    terminal codes), and leaves no test file behind;
#  - on a terminal (a pty from script(1)) it draws a progress line, redrawn in
#    place, and clears it before the result;
#  - the block-device test likewise.
# Every run reads through a blkio throttle of this test's own cgroup, so
# that they last the seconds a progress line needs on any machine.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
for tool in script losetup mkfs.xfs; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }

blkio=/sys/fs/cgroup/blkio
[ -w "$blkio/blkio.throttle.read_bps_device" ] || { echo "SKIPPED: no cgroup v1 blkio throttle"; exit 77; }
cg=$blkio/tw-iotest.$$
img=$(mktemp /var/tmp/tw-iotest.XXXXXX)
bin=$(mktemp -d /var/tmp/tw-iotest-bin.XXXXXX)
dev=""
cleanup() {
  umount /tw/iotest 2>/dev/null || true
  [ -z "$dev" ] || losetup -d "$dev" || true
  rm -f "$img"
  rm -rf "$bin"
  [ ! -d "$cg" ] || rmdir "$cg" || true
}
trap cleanup EXIT
truncate -s 300M "$img"
dev=$(losetup -f --show "$img")
mkfs.xfs -q -f "$dev"
mkdir -p /tw/iotest
mount "$dev" /tw/iotest
mkdir "$cg"
majmin=$(lsblk -dno MAJ:MIN "$dev" | tr -d ' ')
echo "$majmin $((32 << 20))" > "$cg/blkio.throttle.read_bps_device"
echo "$majmin 2000" > "$cg/blkio.throttle.read_iops_device"
# slowed CMD: CMD in the throttled cgroup. A file, not a function: script(1)
# runs its command with $SHELL, which may be a shell that knows no functions.
cat > "$bin/slowed" <<EOF2
#!/bin/sh
echo \$\$ > "$cg/cgroup.procs"
exec "\$@"
EOF2
chmod +x "$bin/slowed"
slowed() { "$bin/slowed" "$@"; }

# 64 MiB of entries: about two seconds of validation at 32 MiB/s.
count=16777216
CR=$'\r' ESC=$'\033'
ctrl="[$CR$ESC]"

out=$(slowed "$TWCTL" iotest /tw/iotest --count $count) || fail "iotest failed: $out"
[ "$(wc -l <<<"$out")" = 2 ] || fail "piped iotest printed more than its two result lines: $out"
grep -q "^PASSED: $count entries (64.0 MiB) written to /tw/iotest/twctl_io_test\.[0-9]* on $dev (xfs) and validated" \
  <<<"$out" || fail "no PASSED line: $out"
grep -q "$ctrl" <<<"$out" && fail "piped iotest printed terminal codes: $(od -c <<<"$out" | head)"
[ -z "$(ls -A /tw/iotest)" ] || fail "iotest left files: $(ls -A /tw/iotest)"

# script(1) gives twctl a terminal; the pty turns each newline into CR LF.
tty_out=$(script -qefc "$bin/slowed $TWCTL iotest /tw/iotest --count $count" /dev/null) ||
  fail "iotest on a terminal failed: $tty_out"
tty_out=${tty_out//$'\r\n'/$'\n'}
grep -qE "${CR}validate: [0-9]+/$count entries \([0-9]+%\), [0-9.]+ MiB/s, [0-9hms]+ left${ESC}\[K" <<<"$tty_out" ||
  fail "no validate progress line on a terminal: $(od -c <<<"$tty_out" | head -20)"
# The line is cleared before the result, which starts on a clean line.
grep -q "${CR}${ESC}\[KPASSED: $count entries" <<<"$tty_out" ||
  fail "result not on a cleared line: $(od -c <<<"$tty_out" | tail -20)"
[ -z "$(ls -A /tw/iotest)" ] || fail "iotest on a terminal left files: $(ls -A /tw/iotest)"

umount /tw/iotest
reads=4000
out=$(slowed "$TWCTL" iotest --blkdev "$dev" --count $reads) || fail "block test failed: $out"
grep -q "^PASSED: $reads random reads from $dev, " <<<"$out" || fail "no block PASSED line: $out"
grep -q "$ctrl" <<<"$out" && fail "piped block test printed terminal codes"
tty_out=$(script -qefc "$bin/slowed $TWCTL iotest --blkdev $dev --count $reads" /dev/null) || fail "block test on a terminal failed"
grep -qE "${CR}read: [0-9]+/$reads reads \([0-9]+%\), [0-9.]+ MiB/s" <<<"$tty_out" ||
  fail "no read progress line on a terminal: $(od -c <<<"$tty_out" | head -20)"
echo "iotest progress: ok"
