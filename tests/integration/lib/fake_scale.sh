# Fakes of a large node for the scale test and benchmark: physical disks under
# a private /sys/block, a smartctl that answers slowly and knows which disks
# sleep, and a gluster CLI that answers with the real --xml shapes for many
# volumes after a per-call delay. Sourced; needs FIX (the fixtures directory).
#
#   fake_scale_disks N            N disks sdaa.. as /sys/block/<name>/device (tmpfs over /sys/block)
#   fake_scale_smartctl BIN       BIN/smartctl; env SMART_DELAY (s), SMART_STANDBY (file of names
#                                 asleep), SMART_CALLS (one line a call), SMART_WOKEN (a name per wake)
#   fake_scale_gluster BIN        BIN/gluster; env GLUSTER_VOLUMES (count), GLUSTER_DELAY (s),
#                                 GLUSTER_CALLS (one line a call), GLUSTER_HOST (brick host),
#                                 GLUSTER_PREFIX (volume names, default vol)
#   fake_scale_peer_names         the two other peers' names in /etc/hosts (documentation
#                                 addresses: resolved only, never reached)

fake_scale_disk_names() {
  local n=$1 a b count=0
  for a in a b c d e f g h i j k l m n o p q r s t u v w x y z; do
    for b in a b c d e f g h i j k l m n o p q r s t u v w x y z; do
      [ "$count" -ge "$n" ] && return 0
      echo "sd$a$b"; count=$((count + 1))
    done
  done
}

fake_scale_disks() {
  mountpoint -q /sys/block 2>/dev/null && [ "$(stat -f -c %T /sys/block)" = tmpfs ] && umount /sys/block
  mount -t tmpfs -o size=1m tmpfs /sys/block || return 1
  local d
  for d in $(fake_scale_disk_names "$1"); do mkdir -p "/sys/block/$d/device"; done
  mkdir -p /sys/block/loop7  # no device behind it: no disk
}

fake_scale_smartctl() {
  cat > "$1/smartctl" <<'FAKE'
#!/usr/bin/env bash
dev=${*: -1}
name=${dev##*/}
echo "$*" >> "${SMART_CALLS:-/dev/null}"
asleep=0
[ -n "${SMART_STANDBY:-}" ] && grep -qxF "$name" "$SMART_STANDBY" && asleep=1
if [ $asleep = 1 ]; then
  case " $* " in
    *" -n standby "*|*" -n sleep "*)
      # What smartctl 7.3 prints for a spun-down disk asked with -n standby.
      printf '%s\n' "smartctl 7.3 2022-02-28 r5338 [x86_64-linux-6.1.0-18-amd64] (local build)" \
        "Copyright (C) 2002-22, Bruce Allen, Christian Franke, www.smartmontools.org" "" \
        "Device is in STANDBY mode, exit(2)"
      exit 2 ;;
  esac
  echo "$name" >> "${SMART_WOKEN:-/dev/null}"
fi
sleep "${SMART_DELAY:-0}"
# Even-numbered disks are SAS, the others SATA; each has a serial of its own.
case "$name" in
  *[acegikmoqsuwy]) sed "s/8HJ39K3H/SN-$name/" "$FIX/smartctl/iHA-sas-hgst-huh721212al5204-6.6.txt" ;;
  *) sed "s/PKXXXXXXXXXXGB/SN-$name/" "$FIX/smartctl/a-sata-hgst-hus724040ale640-megaraid-7.1.txt" ;;
esac
FAKE
  chmod +x "$1/smartctl"
}

fake_scale_peer_names() {
  grep -q peer2.example.local /etc/hosts ||
    printf '192.0.2.2 peer2.example.local\n192.0.2.3 peer3.example.local\n' >> /etc/hosts
}

fake_scale_gluster() {
  cat > "$1/gluster-answers" <<'FAKE'
#!/usr/bin/env python3
# Writes into DIR what glusterd answers for GLUSTER_VOLUMES replica-3 volumes
# PREFIX001...: one file per question.
import os, sys
out_dir = sys.argv[1]
os.makedirs(out_dir)
n = int(os.environ.get("GLUSTER_VOLUMES", "0"))
prefix = os.environ.get("GLUSTER_PREFIX", "vol")
host = os.environ.get("GLUSTER_HOST", "localhost")
names = ["%s%03d" % (prefix, i) for i in range(1, n + 1)]
hosts = [host, "peer2.example.local", "peer3.example.local"]
head = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<cliOutput>\n  <opRet>0</opRet>\n  <opErrno>0</opErrno>\n  <opErrstr/>\n'
def brick(h, v):
    return "%s:/tw/bricks/%s" % (h, v)
def info(v):
    b = "".join('          <brick uuid="a049c424-bd82-4436-abd4-ef3fc37c76ba">%s<name>%s</name><hostUuid>a049c424-bd82-4436-abd4-ef3fc37c76ba</hostUuid><isArbiter>0</isArbiter></brick>\n' % (brick(h, v), brick(h, v)) for h in hosts)
    return ("      <volume>\n        <name>%s</name>\n        <id>841dceb0-0000-4005-9463-4addcfd20000</id>\n        <status>1</status>\n"
            "        <statusStr>Started</statusStr>\n        <snapshotCount>0</snapshotCount>\n        <brickCount>3</brickCount>\n"
            "        <distCount>1</distCount>\n        <replicaCount>3</replicaCount>\n        <arbiterCount>0</arbiterCount>\n"
            "        <disperseCount>0</disperseCount>\n        <redundancyCount>0</redundancyCount>\n        <type>2</type>\n"
            "        <typeStr>Replicate</typeStr>\n        <transport>0</transport>\n        <bricks>\n%s        </bricks>\n"
            "        <optCount>0</optCount>\n        <options/>\n      </volume>\n") % (v, b)
def status(v):
    nodes = "".join("        <node>\n          <hostname>%s</hostname>\n          <path>/tw/bricks/%s</path>\n"
                    "          <peerid>a049c424-bd82-4436-abd4-ef3fc37c76ba</peerid>\n          <status>1</status>\n"
                    "          <port>49153</port>\n          <ports>\n            <tcp>49153</tcp>\n            <rdma>N/A</rdma>\n"
                    "          </ports>\n          <pid>1342</pid>\n          <sizeTotal>20507914240</sizeTotal>\n"
                    "          <sizeFree>19517558784</sizeFree>\n          <device>/dev/loop0</device>\n"
                    "          <blockSize>4096</blockSize>\n          <mntOptions>rw,relatime</mntOptions>\n"
                    "          <fsName>xfs</fsName>\n        </node>\n" % (h, v) for h in hosts)
    return "      <volume>\n        <volName>%s</volName>\n        <nodeCount>3</nodeCount>\n%s      </volume>\n" % (v, nodes)
def fail(text):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<cliOutput>\n  <opRet>-1</opRet>\n  <opErrno>30800</opErrno>\n  <opErrstr>%s</opErrstr>\n</cliOutput>\n' % text)
def write(name, text):
    with open(os.path.join(out_dir, name), "w") as f:
        f.write(text)
write("list", head + "  <volList>\n    <count>%d</count>\n%s  </volList>\n</cliOutput>\n" % (n, "".join("    <volume>%s</volume>\n" % v for v in names)))
def info_of(want):
    return head + "  <volInfo>\n    <volumes>\n%s      <count>%d</count>\n    </volumes>\n  </volInfo>\n</cliOutput>\n" % ("".join(info(v) for v in want), len(want))
def status_of(want):
    return head + "  <volStatus>\n    <volumes>\n%s    </volumes>\n  </volStatus>\n</cliOutput>\n" % "".join(status(v) for v in want)
write("info_all", info_of(names))
write("status_all", status_of(names))
for v in names:
    write("info_" + v, info_of([v]))
    write("status_" + v, status_of([v]))
    bricks = "".join('      <brick hostUuid="a049c424-bd82-4436-abd4-ef3fc37c76ba">\n        <name>%s</name>\n        <status>Connected</status>\n        <numberOfEntries>0</numberOfEntries>\n      </brick>\n' % brick(h, v) for h in hosts)
    write("heal_" + v, '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<cliOutput>\n  <healInfo>\n    <bricks>\n%s    </bricks>\n  </healInfo>\n  <opRet>0</opRet>\n  <opErrno>0</opErrno>\n  <opErrstr/>\n</cliOutput>\n' % bricks)
write("pool", head + "  <peerStatus>\n  </peerStatus>\n</cliOutput>\n")
write("missing", fail("Volume VOLUME does not exist"))
FAKE
  cat > "$1/gluster" <<'FAKE'
#!/usr/bin/env bash
# Answers from files written once per volume set (gluster-answers), after the delay.
args=("$@")
[ "${args[0]:-}" = --mode=script ] && args=("${args[@]:1}")
echo "${args[*]}" >> "${GLUSTER_CALLS:-/dev/null}"
sleep "${GLUSTER_DELAY:-0}"
dir=${TMPDIR:-/tmp}/tw-fake-gluster-${GLUSTER_PREFIX:-vol}-${GLUSTER_VOLUMES:-0}-${GLUSTER_HOST:-localhost}
if [ ! -d "$dir" ]; then
  "$(dirname "$0")/gluster-answers" "$dir.$$" && { mv -T "$dir.$$" "$dir" 2>/dev/null || rm -rf "$dir.$$"; }
fi
case "${args[*]}" in
  "volume list --xml") f=list ;;
  "volume info "*" --xml") f=info_${args[2]} ;;
  "volume status "*" detail --xml") f=status_${args[2]} ;;
  "volume heal "*" info --xml") f=heal_${args[2]} ;;
  "pool list --xml") f=pool ;;
  *) echo "fake gluster: unexpected ${args[*]}" >&2; exit 1 ;;
esac
[ -f "$dir/$f" ] || { sed "s/VOLUME/${args[2]}/" "$dir/missing"; exit 1; }
cat "$dir/$f"
FAKE
  chmod +x "$1/gluster" "$1/gluster-answers"
}
