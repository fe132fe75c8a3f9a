#!/usr/bin/env bash
# First process of one cluster node, started by nodes.sh in fresh network,
# mount, UTS and pid namespaces:
#
#   node_init.sh NAME DIR TOP
#
# Builds the node's machine copy (an overlay of / on a tmpfs under DIR, /dev
# bound, fresh /proc and /sys, tmpfs on /run, /tmp, /tw, /root, the registry and
# the product log directory), enters it, writes the node's names, registry and
# glusterd service script, makes its brick disk, then stays as the namespace's
# first process until it is told to end (TERM), which ends the node.
set -euo pipefail
name=$1
dir=$2
top=$3

base=$dir/$name
mkdir -p "$base"
mount -t tmpfs -o mode=0755 tw-cluster "$base"
mkdir -p "$base/upper" "$base/work" "$base/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$base/upper,workdir=$base/work" "$base/root"
new=$base/root
mount --rbind /dev "$new/dev"
mount -t sysfs sysfs "$new/sys"
mount -t proc proc "$new/proc"
for d in /run /tmp /tw /root /var/crash /var/log/tessaline /var/log/glusterfs /etc/TessalineRegistry; do
  mkdir -p "$new$d"
  mount -t tmpfs -o mode=0755 tw-cluster "$new$d"
done
chmod 1777 "$new/tmp"
chmod 0700 "$new/root"
mkdir -p "$new$top"
mount --bind "$top" "$new$top"
cd "$new"
mkdir -p .oldroot
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot 2>/dev/null || true
cd /

hostname "$name"
echo "$name" >/etc/hostname
{
  echo "127.0.0.1 localhost"
  for n in a b c; do
    i=$(( $(printf '%d' "'$n") - 96 ))
    echo "10.213.0.1$i twnode$n"
    echo "10.213.1.1$i twnode${n}sds"
  done
} >/etc/hosts
# Names come from /etc/hosts only: no name server is ever asked.
sed -i 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf
rm -f /etc/resolv.conf
: >/etc/resolv.conf
# This node's glusterd starts afresh: no identity, peers or volumes of the machine.
rm -rf /var/lib/glusterd/glusterd.info /var/lib/glusterd/peers /var/lib/glusterd/vols /var/lib/glusterd/options
# A peer cut off is noticed within seconds instead of the kernel's ~15 minutes.
sysctl -q -w net.ipv4.tcp_retries2=4 net.ipv4.tcp_syn_retries=2 net.ipv4.tcp_keepalive_time=5 \
  net.ipv4.tcp_keepalive_intvl=2 net.ipv4.tcp_keepalive_probes=2
ip link set lo up

reg=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$reg/Dockwright" "$reg/EventManager"
echo "sArrowfieldApplianceType RM-110" >"$reg/Dockwright/registry.conf"
echo "nDebugLevel 3" >"$reg/EventManager/registry.conf"
echo "# cluster node $name" >/etc/fstab

# "service glusterd start" on a node without systemd: start it and report
# whether it answers, as the distribution's service would.
cat >/etc/init.d/glusterd <<'EOF'
#!/bin/sh
case "$1" in
  start)
    glusterd --log-level=WARNING || exit 1
    i=0
    while [ $i -lt 100 ]; do
      gluster --mode=script volume list >/dev/null 2>&1 && exit 0
      sleep 0.1
      i=$((i + 1))
    done
    exit 1 ;;
  *) exit 3 ;;
esac
EOF
chmod 755 /etc/init.d/glusterd

# The brick disk: a loop-device XFS, detached by the kernel when unmounted
# (the image name carries the run id, so a leftover can be told apart).
img=/tmp/tw-cluster-${TWC_RUN_ID}-$name-disk1.img
truncate -s 320M "$img"
mkfs.xfs -q -f "$img"
mkdir -p /tw/disk1
mount -o loop,noatime,inode64 "$img" /tw/disk1

touch /run/tw-node-ready
trap 'exit 0' TERM
while :; do
  sleep 3600 &
  wait $! || true
done
