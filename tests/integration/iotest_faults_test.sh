#!/usr/bin/env bash
# twctl iotest on disks that fail, in the sandbox:
#  1. a file system that fills up (ENOSPC) fails the file test and leaves no
#     twctl_io_test.<pid> behind;
#  2. on a disk whose reads hang (faulty_disk.py read_hang under a loop
#     device, XFS on it) the file test fails at its read limit, and a SIGTERM
#     during the hang ends twctl at once; neither leaves its file;
#  3. `twctl iotest --blkdev` on that disk fails at its read limit, and ends
#     at once on SIGTERM.
set -euo pipefail
: "${TWCTL:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/twiotest.XXXXXX)
small="" faulty="" fuse_pid=""
cleanup() {
  : > "$work/control" 2>/dev/null || true  # lift the hang: the stuck reads return
  umount /tw/iofull 2>/dev/null || true
  umount /tw/iofaulty 2>/dev/null || true
  [ -z "$small" ] || losetup -d "$small" || true
  [ -z "$faulty" ] || losetup -d "$faulty" || true
  if [ -n "$fuse_pid" ]; then
    umount "$work/fuse" 2>/dev/null || true
    wait "$fuse_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
no_scratch() { ! ls "$1"/twctl_io_test.* >/dev/null 2>&1 || fail "$2 left $(ls "$1"/twctl_io_test.*)"; }
# Lifts the hang; the removal that waited for the stuck read then completes.
answer_again() {
  : > "$work/control"
  for _ in $(seq 50); do ls /tw/iofaulty/twctl_io_test.* >/dev/null 2>&1 || return 0; sleep 0.1; done
}
# Runs twctl iotest ARGS... in the background, SIGTERMs it after WAIT seconds
# and says how long it took to end after that.
term_after() {
  local wait=$1; shift
  "$TWCTL" iotest "$@" >"$work/term.out" 2>&1 &
  local pid=$! t0
  sleep "$wait"
  kill -0 "$pid" 2>/dev/null || fail "twctl iotest $* ended before the SIGTERM: $(cat "$work/term.out")"
  t0=$(date +%s.%N)
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  awk -v t1="$(date +%s.%N)" -v t0="$t0" 'BEGIN { printf "%.2f\n", t1 - t0 }'
}

# ---- 1. a file system that fills up -----------------------------------------
truncate -s 16M "$work/small.img"
small=$(losetup -f --show "$work/small.img")
mkfs.ext4 -q -F "$small"
mkdir -p /tw/iofull
mount "$small" /tw/iofull
if "$TWCTL" iotest /tw/iofull --count 8388608 >"$work/out" 2>&1; then fail "32 MiB fitted on 16 MiB"; fi
grep -q '^FAILED: could not write 8388608 entries' "$work/out" || fail "no failure: $(cat "$work/out")"
no_scratch /tw/iofull "a write that ran out of space"
[ -d /tw/iofull/lost+found ] || fail "the file system's own directory went"

# ---- the disk whose reads hang ----------------------------------------------
truncate -s 512M "$work/backing.img"
mkdir -p "$work/fuse"
: > "$work/control"
/usr/bin/python3 "$TW_SOURCE_DIR/tests/integration/lib/faulty_disk.py" "$work/backing.img" "$work/fuse" \
  "$work/control" &
fuse_pid=$!
for _ in $(seq 50); do [ -e "$work/fuse/disk" ] && break; sleep 0.1; done
[ -e "$work/fuse/disk" ] || fail "the failing disk did not come up"
faulty=$(losetup -f --show "$work/fuse/disk")
mkfs.xfs -q -f "$faulty"
mkdir -p /tw/iofaulty
mount "$faulty" /tw/iofaulty

"$TWCTL" iotest /tw/iofaulty --count 4096 >"$work/out" 2>&1 || fail "healthy disk failed: $(cat "$work/out")"

# ---- 2. the file test on a hanging disk -------------------------------------
echo read_hang > "$work/control"
t0=$(date +%s)
if TW_TIME_LIMIT_CAP_S=3 "$TWCTL" iotest /tw/iofaulty --count 4096 >"$work/out" 2>&1; then
  fail "file test passed on a disk that does not answer"
fi
took=$(($(date +%s) - t0))
[ "$took" -le 10 ] || fail "file test took ${took} s on a 3 s read limit"
grep -q 'could not be read back: read did not complete within 3 s' "$work/out" || fail "no reason: $(cat "$work/out")"
answer_again
no_scratch /tw/iofaulty "a file test whose read hung"

echo read_hang > "$work/control"
took=$(term_after 2 /tw/iofaulty --count 4096)
awk -v t="$took" 'BEGIN { exit !(t < 2) }' || fail "file test took $took s to end after SIGTERM"
answer_again
no_scratch /tw/iofaulty "a file test ended by SIGTERM"

# ---- 3. the block-device test on a hanging disk -----------------------------
echo read_hang > "$work/control"
t0=$(date +%s)
if TW_TIME_LIMIT_CAP_S=3 "$TWCTL" iotest --blkdev "$faulty" --count 3 >"$work/out" 2>&1; then
  fail "device test passed on a disk that does not answer"
fi
took=$(($(date +%s) - t0))
[ "$took" -le 10 ] || fail "device test took ${took} s on a 3 s read limit"
grep -q '^FAILED: .*0 of 3 reads done, 1 seeks: read did not complete within 3 s' "$work/out" ||
  fail "no reason: $(cat "$work/out")"

took=$(term_after 2 --blkdev "$faulty" --count 3)
awk -v t="$took" 'BEGIN { exit !(t < 2) }' || fail "device test took $took s to end after SIGTERM"

: > "$work/control"
"$TWCTL" iotest --blkdev "$faulty" --count 16 >"$work/out" 2>&1 || fail "device test after the hang: $(cat "$work/out")"
echo "twctl iotest on failing disks: ok"
