#!/usr/bin/env bash
# Runs one cluster scenario on three nodes of this machine.
#
#   cluster.sh SCENARIO.sh      (as root; the scenario is sourced after the nodes are up)
#   cluster.sh --shell [NODE]   (three nodes with their gluster pool, and a shell on NODE, default twnodea)
#
# Everything lives in namespaces made here: the test's own network namespace
# holds two bridges (10.213.0.0/24 for the node names, 10.213.1.0/24 for the
# <host>sds storage names); each node has its own network, mount, UTS and pid
# namespace on a throw-away overlay copy of this machine, with its own
# /var/lib/glusterd, registry, log directory, loop-device XFS brick disk, a real
# glusterd and a real sshd. When the run ends the namespaces die with their
# processes; this script then checks that no process, mount or loop device of
# the run is left, and fails the run if one is.
# Exit 77 (skipped) only when this machine cannot make the namespaces or loop devices.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != "--inside" ]; then
  skip() { echo "SKIPPED: $*"; exit 77; }
  [ "$(id -u)" -eq 0 ] || skip "the cluster tier needs root"
  command -v unshare >/dev/null && unshare -n -m -u -p -f true 2>/dev/null ||
    skip "this machine cannot make network, mount, UTS and pid namespaces"
  [ -e /dev/loop-control ] || skip "no loop devices on this machine"
  [ -e /dev/fuse ] || skip "no FUSE device on this machine"
  for tool in glusterd gluster mkfs.xfs ip nsenter sshpass ssh-copy-id /usr/sbin/sshd; do
    command -v "$tool" >/dev/null || { echo "cluster: $tool missing: run scripts/install-deps.sh" >&2; exit 1; }
  done
  run=$(mktemp -d /tmp/tw-cluster.XXXXXX)
  export TWC_RUN_ID=${run##*.}
  started=$(date +%s)
  status=0
  unshare -n -m -u -p -f --propagation private --mount-proc -- "$BASH" "$0" --inside "$run" "$@" || status=$?

  # What the run must not leave: its loop devices (their image names carry the
  # run id), its mounts, and processes in its namespaces.
  leaks=0
  while read -r dev backing; do
    [ -n "$dev" ] || continue
    echo "cluster: LEFT loop device $dev ($backing); detaching it" >&2
    losetup -d "$dev" || true
    leaks=1
  done < <(losetup -ln -O NAME,BACK-FILE 2>/dev/null | awk -v id="tw-cluster-$TWC_RUN_ID-" 'index($2, id) { print $1, $2 }')
  if grep -q "$run" /proc/self/mountinfo; then
    echo "cluster: LEFT mounts under $run" >&2
    leaks=1
  fi
  if [ -s "$run/netns" ]; then
    left=$(ls -l /proc/[0-9]*/ns/net 2>/dev/null | grep -F -- "-> $(cat "$run/netns")" | awk '{ split($(NF-2), p, "/"); printf "%s ", p[3] }' || true)
    if [ -n "$left" ]; then
      echo "cluster: LEFT processes in the test's network namespace: $left" >&2
      leaks=1
    fi
  fi
  rm -rf "$run"
  if [ "$leaks" -eq 0 ]; then
    echo "cluster: left nothing behind (processes, mounts, loop devices checked) after $(( $(date +%s) - started )) s"
  elif [ "$status" -eq 0 ]; then
    status=1
  fi
  exit $status
fi

shift
run=$1
shift
top=$(cd "$here/../.." && pwd)
readlink /proc/self/ns/net >"$run/netns"
mkdir -p "$run/mnt"
mount -t tmpfs -o mode=0755 tw-cluster "$run/mnt"
export TWC_DIR=$run/mnt TWC_TOP=$top TWC_HERE=$here
# shellcheck source=lib/nodes.sh
source "$here/lib/nodes.sh"
trap 'twc_down' EXIT

twc_up
if [ "${1:-}" = "--shell" ]; then
  echo "cluster: nodes twnodea, twnodeb, twnodec in one gluster pool; root's password on each: $TWC_PASSWORD"
  echo "cluster: 'exit' ends them all"
  twc_node "${2:-twnodea}" bash -i || true
  exit 0
fi
scenario=$1
echo "== scenario $(basename "$scenario" .sh)"
trap 'echo "cluster: scenario stopped at line $LINENO: $BASH_COMMAND" >&2' ERR
# shellcheck disable=SC1090
source "$scenario"
twc_result
