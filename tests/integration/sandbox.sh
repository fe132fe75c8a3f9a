#!/usr/bin/env bash
# Runs a command inside a throw-away copy of this machine: private mount and pid
# namespaces, the root file system as an overlay whose upper layer is a tmpfs
# (entered with pivot_root), /dev and /sys bound from the host, a fresh /proc,
# and tmpfs on /run, /tmp, /tw, /maldor, /var/crash and the registry root. Nothing the command writes
# reaches the host, and daemons it starts die with the namespace.
#
#   sandbox.sh CMD [ARGS...]
#
# Loop devices are global: whatever loop device the command leaves attached is
# unmounted and detached here when it ends. Run sandboxes one at a time.
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

loops_before=$(losetup -ln -O NAME 2>/dev/null | sort || true)

cd "$new"
mkdir -p .oldroot
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot 2>/dev/null || true
export TW_IN_SANDBOX=1
cd "$cwd" 2>/dev/null || cd /

status=0
"$@" || status=$?

# Sweep: whatever loop device appeared and is still attached goes now.
for dev in $(comm -13 <(echo "$loops_before") <(losetup -ln -O NAME 2>/dev/null | sort)); do
  awk -v d="$dev" '$1 == d || index($1, d "p") == 1 { print $2 }' /proc/self/mounts | sort -r |
    while read -r mp; do umount -l "$mp" 2>/dev/null || true; done
  losetup -d "$dev" 2>/dev/null && echo "sandbox: detached leftover $dev" >&2 || true
done
exit $status
