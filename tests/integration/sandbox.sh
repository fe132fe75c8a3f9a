#!/usr/bin/env bash
# Runs a command inside a throw-away copy of this machine: private mount and pid
# namespaces, the root file system as an overlay whose upper layer is a tmpfs
# (entered with pivot_root), /dev and /sys bound from the host, a fresh /proc,
# and tmpfs on /run, /tmp, /tw, /maldor, /var/crash and the registry root. Nothing the command writes
# reaches the host, and daemons it starts die with the namespace. The source tree
# and the build tree ($TW_BUILD_DIR) are bound in. LVM runs with a configuration
# of its own ($LVM_SYSTEM_DIR) that sees only the devices a test names through
# $TW_LVM_FILTER (tests/integration/lib/lvm_filter.sh).
#
#   sandbox.sh CMD [ARGS...]
#
# Loop devices are global: whatever loop device the command leaves attached with
# its backing file inside the sandbox is unmounted and detached here when it ends.
# Exit 77 (skipped) when this machine cannot make one.
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: integration tests need root"
    exit 77
  fi
  if ! command -v unshare >/dev/null || ! unshare -m -p -f true 2>/dev/null; then
    echo "SKIPPED: this machine cannot make mount and pid namespaces"
    exit 77
  fi
  if [ ! -e /dev/loop-control ]; then
    echo "SKIPPED: no loop devices on this machine"
    exit 77
  fi
  work=$(mktemp -d /tmp/tw-sandbox.XXXXXX)
  status=0
  unshare -m -p -f --propagation private -- "$BASH" "$0" --inside "$work" "$PWD" "$@" || status=$?
  rmdir "$work" 2>/dev/null || true
  exit $status
fi
shift
work=$1
cwd=$2
shift 2

top=$(cd "$(dirname "$0")/../.." && pwd)
mount -t tmpfs -o mode=0755 tw-sandbox "$work"
mkdir -p "$work/upper" "$work/work" "$work/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$work/root"
new=$work/root
mount --rbind /dev "$new/dev"
mount --rbind /sys "$new/sys"
mount -t proc proc "$new/proc"
for d in /run /tmp /tw /maldor /var/crash /etc/TessalineRegistry; do
  mkdir -p "$new$d"
  mount -t tmpfs -o mode=0755 tw-sandbox "$new$d"
done
chmod 1777 "$new/tmp"
# The project tree may live on another file system than /: bring it in whole.
mkdir -p "$new$top"
mount --bind "$top" "$new$top"
# So may the build tree (ctest names it), for instance under the /tmp that was
# just replaced: the test binaries live there.
if [ -n "${TW_BUILD_DIR:-}" ] && [ -d "$TW_BUILD_DIR" ]; then
  build=$(cd "$TW_BUILD_DIR" && pwd -P)
  case "$build/" in
    "$(cd "$top" && pwd -P)"/*) ;;
    *) mkdir -p "$new$build" && mount --bind "$build" "$new$build" ;;
  esac
fi

cd "$new"
mkdir -p .oldroot
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot 2>/dev/null || true
# New files on the overlay root carry a device number of their own: learn it.
touch /.tw-sandbox-probe
upper_dev=$(stat -c '%Hd:%Ld' /.tw-sandbox-probe)
export TW_IN_SANDBOX=1
# LVM sees no device of the machine until a test names its own loop devices
# with $TW_LVM_FILTER DEV...: a test can never label, change or remove a disk
# or volume group that is not its own.
export LVM_SYSTEM_DIR=/run/tw-lvm LVM_SUPPRESS_FD_WARNINGS=1
export TW_LVM_FILTER=$top/tests/integration/lib/lvm_filter.sh
"$TW_LVM_FILTER"
cd "$cwd" 2>/dev/null || cd /

status=0
"$@" || status=$?

# Sweep: a loop device still attached whose backing file lies on one of this
# sandbox's own file systems (its tmpfs mounts or the overlay root) goes now.
# Loop devices of other sandboxes or of the host are never touched.
ours=$(awk '{ for (i = 7; i <= NF; i++) if ($i == "-") break;
              if ($(i + 2) == "tw-sandbox" || ($5 == "/" && $(i + 1) == "overlay")) print $3 }' /proc/self/mountinfo; echo "$upper_dev")
while read -r dev backing; do
  [ -n "$dev" ] || continue
  grep -qx "$backing" <<<"$ours" || continue
  awk -v d="$dev" '$1 == d || index($1, d "p") == 1 { print $2 }' /proc/self/mounts | sort -r |
    while read -r mp; do umount -l "$mp" 2>/dev/null || true; done
  partx -d "$dev" 2>/dev/null || true  # partitions added by hand outlive the device
  losetup -d "$dev" 2>/dev/null && echo "sandbox: detached leftover $dev" >&2 || true
done < <(losetup -ln -O NAME,BACK-MAJ:MIN 2>/dev/null)
exit $status
