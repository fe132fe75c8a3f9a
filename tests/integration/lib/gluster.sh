# Shell helpers for integration tests that need a real GlusterFS (sourced inside
# the sandbox). Bricks live on loop-device XFS at /tw/diskN/tw_brick.

# tw_loop_xfs N: a 512 MiB sparse image, attached, with XFS, mounted at /tw/diskN.
# Prints the loop device.
tw_loop_xfs() {
  local n=$1 img=/tmp/twdisk$1.img dev
  truncate -s 512M "$img"
  dev=$(losetup -f --show "$img")
  mkfs.xfs -q -f "$dev"
  mkdir -p "/tw/disk$n"
  mount -o noatime,inode64 "$dev" "/tw/disk$n"
  echo "$dev"
}

# tw_start_glusterd: starts glusterd and waits until it answers.
tw_start_glusterd() {
  glusterd --log-level=WARNING || return 1
  local i
  for i in $(seq 1 100); do
    gluster --mode=script volume list >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "glusterd did not come up" >&2
  return 1
}

# tw_gluster_volume NAME TYPE DISK...: creates and starts a volume with one brick
# on each /tw/diskN given (TYPE: distribute, replica, disperse).
tw_gluster_volume() {
  local name=$1 type=$2 bricks="" d
  shift 2
  for d in "$@"; do
    mkdir -p "/tw/disk$d/tw_brick"
    bricks="$bricks $(hostname):/tw/disk$d/tw_brick"
  done
  local layout=""
  case $type in
    replica) layout="replica $#" ;;
    disperse) layout="disperse $# redundancy 1" ;;
  esac
  gluster --mode=script volume create "$name" $layout $bricks force >/dev/null &&
    gluster --mode=script volume start "$name" >/dev/null || return 1
  tw_wait_gluster_volume "$name" "$type" "$#"
}

# tw_wait_gluster_volume NAME TYPE BRICKS: waits until every brick process is
# online and, for volumes that heal, the self-heal daemon answers: a volume
# just started is not ready at once.
tw_wait_gluster_volume() {
  local name=$1 type=$2 count=$3 i online
  for i in $(seq 1 150); do
    online=$(gluster --mode=script volume status "$name" detail --xml 2>/dev/null |
      grep -c '<status>1</status>' || true)
    if [ "${online:-0}" -ge "$count" ]; then
      [ "$type" = distribute ] && return 0
      gluster --mode=script volume heal "$name" info >/dev/null 2>&1 && return 0
    fi
    sleep 0.1
  done
  echo "volume $name did not become ready" >&2
  return 1
}

# tw_teardown_gluster: unmounts gluster mounts, stops glusterd and its bricks,
# unmounts the data disks and detaches their loop devices.
tw_teardown_gluster() {
  local mp dev
  for mp in $(awk '$3 == "fuse.glusterfs" { print $2 }' /proc/self/mounts); do umount -l "$mp" || true; done
  pkill -x glusterfsd 2>/dev/null || true
  pkill -x glusterfs 2>/dev/null || true
  pkill -x glusterd 2>/dev/null || true
  sleep 0.3
  for mp in $(awk '$2 ~ /^\/tw\/disk[0-9]+$/ { print $2 }' /proc/self/mounts); do umount -l "$mp" || true; done
  for dev in $(losetup -ln -O NAME,BACK-FILE | awk '$2 ~ /^\/tmp\/twdisk[0-9]+\.img/ { print $1 }'); do
    losetup -d "$dev" || true
  done
}
