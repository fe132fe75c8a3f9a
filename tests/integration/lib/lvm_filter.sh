#!/usr/bin/env bash
# Writes the sandbox's LVM configuration so that LVM sees exactly the devices
# named here and nothing else of the machine (/dev is the host's: its disks,
# other tests' and other sandboxes' loop devices stay invisible). No device
# named: LVM sees none. Activation stays off: this kernel has no device-mapper,
# and device-mapper nodes would be global anyway.
#
#   lvm_filter.sh [DEVICE...]
#
# A group outside the filter is still reachable with an explicit
# --config 'devices { global_filter = [ "a|^DEV$|", "r|.*|" ] }'.
set -euo pipefail
: "${LVM_SYSTEM_DIR:?set by sandbox.sh}"
accept=""
for dev in "$@"; do
  case "$dev" in
    /dev/*) ;;
    *) echo "lvm_filter.sh: not a device path: $dev" >&2; exit 2 ;;
  esac
  accept+="\"a|^${dev}\$|\", "
done
mkdir -p "$LVM_SYSTEM_DIR"
tmp=$(mktemp "$LVM_SYSTEM_DIR/.lvm.conf.XXXXXX")
cat > "$tmp" <<CONF
global { activation = 0 }
devices { global_filter = [ ${accept}"r|.*|" ] obtain_device_list_from_udev = 0 use_devicesfile = 0 }
activation { udev_sync = 0 udev_rules = 0 }
backup { backup = 0 archive = 0 }
CONF
mv -f "$tmp" "$LVM_SYSTEM_DIR/lvm.conf"
