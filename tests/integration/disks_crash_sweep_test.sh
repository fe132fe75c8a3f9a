#!/usr/bin/env bash
# Provisioning of 3 loop disks killed at every step in turn (each command, each
# rename over a file, each stamp), then run once more: every disk ends mounted,
# stamped and in /etc/fstab by its UUID, none formatted twice, the OS's own
# fstab entries unchanged; or the rerun fails and names the disk and its step.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh: this test writes /etc and /tw" >&2; exit 1; }
for tool in losetup mkfs.xfs blkid getfattr; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
source "$TW_SOURCE_DIR/tests/integration/lib/crash_sweep.sh"
source "$TW_SOURCE_DIR/tests/integration/lib/provision_node.sh"
trap provision_node_cleanup EXIT

# What the killed run left, read before the rerun: each disk's UUID, and
# whether its file system was whole (mkfs done: the record says "formatted",
# or the disk is mounted).
snapshot() {
  local dev
  : >"$PN_WORK/left"
  for dev in "${DISKS[@]}"; do
    local uuid whole=no
    uuid=$(blkid -p -c /dev/null -o value -s UUID "$dev" 2>/dev/null || true)
    if grep -q "^device=$dev	.*step=formatted" "$PN_INTENT" 2>/dev/null || grep -q "^$dev " /proc/mounts; then
      whole=yes
    fi
    # Done and no longer recorded: in fstab already.
    if [ -n "$uuid" ] && grep -q "^UUID=$uuid " /etc/fstab && ! grep -q "^device=$dev	" "$PN_INTENT" 2>/dev/null; then
      whole=yes
    fi
    echo "$dev ${uuid:--} $whole" >>"$PN_WORK/left"
  done
}

run_op() {
  if [ -n "${TW_CRASH_AT_STEP:-}" ] || [ -n "${TW_CRASH_TRACE:-}" ]; then
    "$TWCTL" disks provision --yes
  else
    snapshot
    rm -f "$PN_WORK/rerun.trace"
    TW_CRASH_TRACE="$PN_WORK/rerun.trace" "$TWCTL" disks provision --yes
  fi
}

reset_state() { provision_node_reset; }

check_state() {
  local k=$1 rc=$2 out
  out=$(cat "/tmp/tw_crash_rerun.$k")
  if [ "$rc" != 0 ]; then
    # An honest failure names a disk and the step it stopped at.
    grep -qE '/dev/loop[0-9]+: .*(stopped at|left alone)' <<<"$out" || { pn_fail "rerun exit $rc without naming disk and step"; return 1; }
    return 0
  fi
  provision_node_check || return 1
  local dev uuid whole now
  while read -r dev uuid whole; do
    now=$(blkid -p -c /dev/null -o value -s UUID "$dev")
    # A file system that was whole is never made again: not by the rerun's
    # commands, and not under another UUID.
    if [ "$whole" = yes ]; then
      ! grep -q "command echo y | mkfs .* $dev\$" "$PN_WORK/rerun.trace" || { pn_fail "k=$k: $dev formatted twice"; return 1; }
      [ "$now" = "$uuid" ] || { pn_fail "k=$k: $dev UUID $uuid became $now"; return 1; }
    fi
  done <"$PN_WORK/left"
}

# A worker: its own machine copy and 3 disks, every WORKERS-th kill point.
if [ "${1:-}" = --worker ]; then
  first=$2 stride=$3 steps=$4
  shift 4
  provision_node_private_machine
  provision_node_use "$@"
  crash_sweep "$steps" reset_state run_op check_state "$first" "$stride"
  exit
fi

provision_node_setup 3
provision_node_reset
start=$SECONDS
steps=$(crash_sweep_steps run_op)
provision_node_check || exit 1
[ "$steps" -ge 27 ] || { echo "FAIL: only $steps steps for 3 disks" >&2; exit 1; }
# Two workers, each in a mount namespace of its own on 3 disks of its own,
# share the kill points: together every k from 1 to the last.
workers=2
provision_node_reset
provision_node_setup 3  # three more disks: DISKS now holds six
pids=()
for ((w = 0; w < workers; w++)); do
  unshare -m --propagation private bash "$0" --worker $((w + 1)) "$workers" "$steps" "${DISKS[@]:$((3 * w)):3}" \
    >"$PN_WORK/worker.$w" 2>&1 &
  pids+=($!)
done
bad=0
for ((w = 0; w < workers; w++)); do
  wait "${pids[$w]}" || { bad=1; echo "worker $w:" >&2; cat "$PN_WORK/worker.$w" >&2; }
  cat "$PN_WORK/worker.$w"
done
[ "$bad" = 0 ] || exit 1
echo "crash sweep of 3 disks: $steps kill points (by $workers workers) in $((SECONDS - start)) s"
