# A node with loop disks for the provisioning tests: attach them, put the node
# back in its start state, and judge the end state of a provisioning.
#
#   source "$TW_SOURCE_DIR/tests/integration/lib/provision_node.sh"
#   provision_node_setup 3        # DISKS=(/dev/loopN ...), registry, OS fstab
#   provision_node_reset          # nothing provisioned, disks blank
#   provision_node_check          # every disk provisioned once, fstab whole,
#                                 # the foreign state below untouched
#
# Beside the test disks the node holds what provisioning must never touch: a
# mounted foreign XFS (with its own fstab line and a file inside), a foreign
# volume group on another disk, and a link in /tw that points at that mount.
#
# The caller's EXIT trap must call provision_node_cleanup.

PN_WORK=$(mktemp -d /tmp/twprov.XXXXXX)
PN_INTENT=/var/lib/tidewall/provisioning-intent
DISKS=()
PN_ATTACHED=0
PN_FOREIGN=()  # the foreign file system's disk, the foreign group's disk
PN_FOREIGN_MP=/srv/twforeign

pn_fail() { echo "FAIL: $*" >&2; return 1; }

provision_node_cleanup() {
  local mp dev
  for mp in /tw/disk*; do mountpoint -q "$mp" 2>/dev/null && umount "$mp"; done
  mountpoint -q "$PN_FOREIGN_MP" 2>/dev/null && umount "$PN_FOREIGN_MP"
  # Only the devices this process attached are detached.
  [ "$PN_ATTACHED" = 1 ] && for dev in "${DISKS[@]}" "${PN_FOREIGN[@]}"; do losetup -d "$dev" 2>/dev/null; done
  mountpoint -q "$PN_WORK/machine" && umount -l "$PN_WORK/machine"
  rm -rf "$PN_WORK"
}

# The machine copy's fstab: the OS's own entries, which provisioning must keep.
pn_os_fstab() {
  printf '%s\n' '# /etc/fstab of the OS' \
    'UUID=0f3c6a35-6d0e-4e0b-9c43-5c1c2f0a9b11 / ext4 errors=remount-ro 0 1' \
    '/dev/vda15 /boot/efi vfat umask=0077 0 1' \
    'tmpfs /var/tmp tmpfs nodev,nosuid 0 0' \
    "LABEL=twforeign $PN_FOREIGN_MP xfs defaults 0 0"
}

# The foreign disks, made once per test.
pn_foreign_setup() {
  [ ${#PN_FOREIGN[@]} = 0 ] || return 0
  local fs vg
  truncate -s 320M "$PN_WORK/foreign-fs.img" "$PN_WORK/foreign-vg.img"
  fs=$(losetup -f --show "$PN_WORK/foreign-fs.img") || return 1
  PN_FOREIGN+=("$fs")
  vg=$(losetup -f --show "$PN_WORK/foreign-vg.img") || return 1
  PN_FOREIGN+=("$vg")
  mkfs.xfs -q -L twforeign "$fs" || return 1
  mkdir -p "$PN_FOREIGN_MP"
  mount "$fs" "$PN_FOREIGN_MP" || return 1
  echo "foreign data" >"$PN_FOREIGN_MP/keep"
  "$TW_LVM_FILTER" "$vg"
  pvcreate -q -ff -y "$vg" >/dev/null 2>&1 && vgcreate -q twforeignvg "$vg" >/dev/null 2>&1 ||
    { pn_fail "the foreign group could not be made"; return 1; }
  PN_FOREIGN_SUM=$(sha256sum "$vg" | cut -d' ' -f1)
}

# The foreign state as it was made.
pn_foreign_check() {
  local fs=${PN_FOREIGN[0]} vg=${PN_FOREIGN[1]}
  [ "$(awk -v m="$PN_FOREIGN_MP" '$2 == m {print $1}' /proc/mounts)" = "$fs" ] ||
    { pn_fail "the foreign file system is no longer mounted at $PN_FOREIGN_MP"; return 1; }
  [ "$(cat "$PN_FOREIGN_MP/keep")" = "foreign data" ] || { pn_fail "the foreign file changed"; return 1; }
  [ "$(blkid -p -c /dev/null -o value -s LABEL "$fs")" = twforeign ] || { pn_fail "the foreign XFS lost its label"; return 1; }
  [ "$(sha256sum "$vg" | cut -d' ' -f1)" = "$PN_FOREIGN_SUM" ] || { pn_fail "the foreign group's disk changed"; return 1; }
  [ "$(readlink /tw/twforeign-link)" = "$PN_FOREIGN_MP" ] || { pn_fail "the link in /tw changed"; return 1; }
}

# The entries of an fstab that are not data mount paths, field by field.
pn_os_entries() { awk '!/^#/ && NF && $2 !~ "^/tw/" {print $1, $2, $3, $4, $5, $6}' "$1"; }

provision_node_setup() {
  local first=${#DISKS[@]} i dev
  for ((i = first; i < first + $1; i++)); do
    truncate -s 512M "$PN_WORK/d$i.img"
    dev=$(losetup -f --show "$PN_WORK/d$i.img") || return 1
    DISKS+=("$dev")
    PN_ATTACHED=1
  done
  pn_foreign_setup || return 1
  provision_node_use "${DISKS[@]}"
}

# The node's test disks are the devices given (attached by someone else).
provision_node_use() {
  DISKS=("$@")
  local reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright
  mkdir -p "$reg"
  printf 'sArrowfieldApplianceType RM-110\nsTidewallTestDisks %s\n' "$(IFS=,; echo "${DISKS[*]}")" >"$reg/registry.conf"
  pn_os_fstab >"$PN_WORK/os-fstab"
}

# Enters a machine copy of this process's own: /etc as an overlay, and /tw,
# the state and lock directories empty, all seen by this mount namespace only
# (the caller ran under unshare -m). Parallel workers then share no file.
provision_node_private_machine() {
  local w=$PN_WORK/machine
  mkdir -p "$w"
  mount -t tmpfs tw-worker "$w"
  mkdir "$w/upper" "$w/work"
  mount -t overlay tw-worker-etc -o "lowerdir=/etc,upperdir=$w/upper,workdir=$w/work" /etc
  mount -t tmpfs -o mode=0755 tw-worker-tw /tw
  mkdir -p /var/lib/tidewall /run/tidewall
  mount -t tmpfs -o mode=0700 tw-worker-state /var/lib/tidewall
  mount -t tmpfs -o mode=0700 tw-worker-locks /run/tidewall
}

provision_node_reset() {
  local mp dev
  for mp in /tw/disk*; do mountpoint -q "$mp" 2>/dev/null && umount "$mp"; done
  rm -rf /tw/disk*
  mkdir -p /tw
  # A zeroed start is a blank disk to libblkid (xfs keeps no signature elsewhere).
  for dev in "${DISKS[@]}"; do dd if=/dev/zero of="$dev" bs=1M count=1 conv=fsync status=none; done
  cp "$PN_WORK/os-fstab" /etc/fstab
  ln -sfn "$PN_FOREIGN_MP" /tw/twforeign-link
  rm -f "$PN_INTENT"
}

# Every disk mounted at its own /tw/diskN, stamped, in fstab once by the UUID
# it carries; the OS's entries as they were; no record left.
provision_node_check() {
  local dev mp uuid paths=() want
  for dev in "${DISKS[@]}"; do
    mp=$(awk -v d="$dev" '$1 == d && $2 ~ "^/tw/disk" {print $2}' /proc/mounts)
    [ "$(wc -w <<<"$mp")" = 1 ] || { pn_fail "$dev mounted at [$mp]"; return 1; }
    paths+=("$mp")
    uuid=$(blkid -p -c /dev/null -o value -s UUID "$dev")
    [ -n "$uuid" ] || { pn_fail "$dev carries no UUID"; return 1; }
    want="UUID=$uuid      $mp      xfs      noatime,inode64,nofail      0   0"
    [ "$(grep -cxF "$want" /etc/fstab)" = 1 ] || { pn_fail "$dev: no single fstab line [$want]: $(cat /etc/fstab)"; return 1; }
    [ "$(getfattr --only-values -n trusted.tslnstamp "$mp" 2>/dev/null)" = arrowfield@tsln ] ||
      { pn_fail "$mp not stamped"; return 1; }
    [ "$(getfattr --only-values -n trusted.mntstamp "$mp" 2>/dev/null)" = "$mp" ] || { pn_fail "$mp mntstamp"; return 1; }
  done
  [ "$(printf '%s\n' "${paths[@]}" | sort -u | wc -l)" = "${#DISKS[@]}" ] || { pn_fail "shared mount paths: ${paths[*]}"; return 1; }
  [ "$(grep -c '^UUID=.* /tw/disk' /etc/fstab)" = "${#DISKS[@]}" ] || { pn_fail "data lines of fstab: $(cat /etc/fstab)"; return 1; }
  diff <(pn_os_entries "$PN_WORK/os-fstab") <(pn_os_entries /etc/fstab) >&2 || { pn_fail "the OS's fstab entries changed"; return 1; }
  [ ! -e "$PN_INTENT" ] || { pn_fail "record left: $(cat "$PN_INTENT")"; return 1; }
  [ ${#PN_FOREIGN[@]} = 0 ] || pn_foreign_check
}
