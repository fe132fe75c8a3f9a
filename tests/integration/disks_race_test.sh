#!/usr/bin/env bash
# Two `twctl disks provision --yes` started together on 4 new disks, 10 times:
# one takes the disks, the other waits for it and then finds nothing new (or
# gives up naming the holder). Never a disk formatted twice, two disks on one
# mount path, an fstab entry lost or a disk left without a file system.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh: this test writes /etc and /tw" >&2; exit 1; }
for tool in losetup mkfs.xfs blkid getfattr; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
source "$TW_SOURCE_DIR/tests/integration/lib/provision_node.sh"
trap provision_node_cleanup EXIT

provision_node_setup 4
bad=0
for round in $(seq 1 10); do
  provision_node_reset
  "$TWCTL" disks provision --yes >"$PN_WORK/a" 2>&1 & a=$!
  "$TWCTL" disks provision --yes >"$PN_WORK/b" 2>&1 & b=$!
  ra=0; wait $a || ra=$?
  rb=0; wait $b || rb=$?
  # Each disk recorded in fstab once over both runs: a second format would
  # print its own "recorded" line.
  recorded=$(cat "$PN_WORK/a" "$PN_WORK/b" | grep -c ': recorded in /etc/fstab as UUID=' || true)
  ok=1
  provision_node_check || ok=0
  [ "$recorded" = 4 ] || { echo "round $round: $recorded fstab records over both runs" >&2; ok=0; }
  # The loser exits 0 with nothing new, or 1 naming the holder.
  for r in "$ra:$PN_WORK/a" "$rb:$PN_WORK/b"; do
    rc=${r%%:*}; f=${r#*:}
    if [ "$rc" != 0 ] && ! grep -q 'another provisioning is running (pid [0-9]*)' "$f"; then
      echo "round $round: a run failed: $(cat "$f")" >&2; ok=0
    fi
  done
  [ "$ok" = 1 ] || { bad=$((bad + 1)); cat "$PN_WORK/a" "$PN_WORK/b" >&2; }
done
echo "race: 10 rounds of two provisionings on 4 disks, $bad bad"
[ "$bad" = 0 ]
