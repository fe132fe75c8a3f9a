# Shell helpers of the cluster tier, sourced by cluster.sh inside the test's own
# network namespace. Nodes twnodea, twnodeb, twnodec; node X has 10.213.0.1N
# (name twnodeX, on bridge twbr0) and 10.213.1.1N (storage name twnodeXsds, on
# bridge twbr1). Every wait polls with a deadline: nothing here sleeps blindly.

TWC_NODES="twnodea twnodeb twnodec"
TWC_FAILED=0
TWC_PASSWORD="tw-cluster-secret-$RANDOM$RANDOM"
export TWC_PASSWORD

twc_log() { echo "cluster: [$(date +%T)] $*"; }

# twc_node NODE CMD...: runs CMD on NODE (its namespaces, its root).
twc_node() {
  local n=$1
  shift
  nsenter -t "$(cat "$TWC_DIR/$n.pid")" -n -m -u -p -r -w -- "$@"
}

# twc_wait SECONDS WHAT CMD...: polls CMD every 0.2 s until it succeeds; fails
# (and says what it waited for) when the deadline passes.
twc_wait() {
  local limit=$1 what=$2 end
  shift 2
  end=$(( $(date +%s) + limit ))
  until "$@" >/dev/null 2>&1; do
    if [ "$(date +%s)" -ge "$end" ]; then
      twc_log "TIMEOUT after ${limit}s waiting for: $what"
      return 1
    fi
    sleep 0.2
  done
}

# twc_check WHAT CMD...: one assertion; a failure is counted and the run goes on.
twc_check() {
  local what=$1
  shift
  if "$@"; then
    echo "  ok   $what"
  else
    echo "  FAIL $what"
    TWC_FAILED=$((TWC_FAILED + 1))
  fi
}

# twc_side TITLE LIBRARY_TEXT CLUSTER_TEXT: what the library on twnodea
# reported next to what the cluster really was, in two columns.
twc_side() {
  local w=112
  echo "-- $1"
  printf '%-*s | %s\n' "$w" "library on twnodea" "cluster (gluster on another node)"
  printf '%*s-+-%*s\n' "$w" "" 60 "" | tr ' ' '-'
  paste -d$'\x01' <(printf '%s\n' "$2" | cut -c1-$w) <(printf '%s\n' "$3") |
    awk -F$'\x01' -v w="$w" '{ printf "%-*s | %s\n", w, $1, $2 }'
}

twc_result() {
  if [ "$TWC_FAILED" -ne 0 ]; then
    twc_log "$TWC_FAILED check(s) failed"
    return 1
  fi
  twc_log "all checks passed"
}

twc_start_node() {
  local n=$1 starter child=""
  unshare -n -m -u -p -f --propagation private -- bash "$TWC_HERE/lib/node_init.sh" "$n" "$TWC_DIR" "$TWC_TOP" \
    >"$TWC_DIR/$n.log" 2>&1 &
  starter=$!
  local i
  for i in $(seq 1 50); do
    child=$(cat "/proc/$starter/task/$starter/children" 2>/dev/null | awk '{ print $1 }')
    [ -n "$child" ] && break
    sleep 0.1
  done
  [ -n "$child" ] || { twc_log "node $n did not start"; return 1; }
  echo "$child" >"$TWC_DIR/$n.pid"
}

# twc_link NODE INDEX: the node's two interfaces, one on each bridge.
twc_link() {
  local n=$1 i=$2 pid k
  pid=$(cat "$TWC_DIR/$n.pid")
  for k in 0 1; do
    ip link add "tw${n: -1}$k" type veth peer name "eth$k" netns "$pid"
    ip link set "tw${n: -1}$k" master "twbr$k" up
    twc_node "$n" ip addr add "10.213.$k.1$i/24" dev "eth$k"
    twc_node "$n" ip link set "eth$k" up
  done
}

twc_glusterd_up() { twc_node "$1" gluster --mode=script volume list; }

twc_start_daemons() {
  local n=$1
  twc_node "$n" glusterd --log-level=WARNING
  twc_node "$n" sh -c 'mkdir -p /run/sshd && /usr/sbin/sshd -o PermitRootLogin=yes -o PasswordAuthentication=yes \
    -o UsePAM=no -o ListenAddress=0.0.0.0'
}

# twc_stop NODE: its daemons die (glusterd, bricks, self-heal, sshd); its disk stays.
twc_stop() {
  twc_node "$1" sh -c 'for p in /proc/[0-9]*; do
      case "$(cat "$p/comm" 2>/dev/null)" in glusterd|glusterfsd|glusterfs|sshd) kill -9 "${p#/proc/}" 2>/dev/null;; esac
    done; true'
}

# twc_cut NODE / twc_back NODE: its links go down / come up again.
twc_cut() {
  ip link set "tw${1: -1}0" down
  ip link set "tw${1: -1}1" down
}
twc_back() {
  ip link set "tw${1: -1}0" up
  ip link set "tw${1: -1}1" up
}

twc_peers_connected() {
  [ "$(twc_node "$1" gluster --mode=script peer status 2>/dev/null | grep -c 'Peer in Cluster (Connected)')" -eq 2 ]
}

twc_up() {
  local started n i=0
  started=$(date +%s)
  ip link set lo up
  ip link add twbr0 type bridge
  ip link add twbr1 type bridge
  ip link set twbr0 up
  ip link set twbr1 up
  for n in $TWC_NODES; do twc_start_node "$n"; done
  for n in $TWC_NODES; do
    i=$((i + 1))
    twc_wait 90 "node $n ready" twc_node "$n" test -e /run/tw-node-ready || { cat "$TWC_DIR/$n.log"; return 1; }
    twc_link "$n" "$i"
    echo "root:$TWC_PASSWORD" | twc_node "$n" chpasswd
    twc_start_daemons "$n"
  done
  for n in $TWC_NODES; do twc_wait 60 "glusterd on $n" twc_glusterd_up "$n"; done
  twc_log "glusterd and sshd run on every node"
  twc_node twnodea gluster --mode=script peer probe twnodebsds >/dev/null
  twc_node twnodea gluster --mode=script peer probe twnodecsds >/dev/null
  for n in $TWC_NODES; do twc_wait 60 "$n in the pool" twc_peers_connected "$n"; done
  twc_log "three nodes up, one gluster pool, in $(( $(date +%s) - started )) s"
}

twc_down() {
  local n pid
  for n in $TWC_NODES; do
    [ -s "$TWC_DIR/$n.pid" ] || continue
    pid=$(cat "$TWC_DIR/$n.pid")
    # FUSE mounts first: their client dies with the node.
    twc_node "$n" sh -c "awk '\$3 == \"fuse.glusterfs\" { print \$2 }' /proc/self/mounts | xargs -r -n1 umount -l" \
      2>/dev/null || true
    kill -TERM "$pid" 2>/dev/null || true
  done
  twc_log "nodes told to end"
  for n in $TWC_NODES; do
    [ -s "$TWC_DIR/$n.pid" ] || continue
    pid=$(cat "$TWC_DIR/$n.pid")
    twc_wait 10 "node $n to end" sh -c "! kill -0 $pid" || kill -KILL "$pid" 2>/dev/null || true
  done
  twc_log "nodes ended"
  wait 2>/dev/null || true
}

# twc_volume NAME LAYOUT NODE...: a started volume with one brick
# /tw/disk1/NAME on each node given (LAYOUT: "replica 3", "" for distribute),
# its client and self-heal giving up on a lost peer after 5 s (instead of 42).
twc_volume() {
  local vol=$1 layout=$2 bricks="" n
  shift 2
  for n in "$@"; do
    twc_node "$n" mkdir -p "/tw/disk1/$vol"
    bricks="$bricks ${n}sds:/tw/disk1/$vol"
  done
  # shellcheck disable=SC2086
  twc_node twnodea gluster --mode=script volume create "$vol" $layout $bricks force >/dev/null &&
    twc_node twnodea gluster --mode=script volume set "$vol" network.ping-timeout 5 >/dev/null &&
    twc_node twnodea gluster --mode=script volume start "$vol" >/dev/null || return 1
  twc_wait 60 "$vol: $# bricks online" twc_bricks_online twnodea "$vol" "$#"
}

# twc_bricks_online NODE VOL COUNT: NODE's gluster sees COUNT brick processes online.
twc_bricks_online() {
  [ "$(twc_node "$1" gluster --mode=script volume status "$2" --xml 2>/dev/null |
    awk '/<node>/ { b = 0 } /<path>\// { b = 1 } /<status>1<\/status>/ && b { c++ } END { print c + 0 }')" -eq "$3" ]
}

# twc_brick_pid NODE VOL: the pid of NODE's brick process of VOL (as gluster tells it).
twc_brick_pid() {
  twc_node "$1" gluster --mode=script volume status "$2" "${1}sds:/tw/disk1/$2" --xml |
    sed -n 's:.*<pid>\([0-9]*\)</pid>.*:\1:p' | head -n1
}

# twc_heal_count NODE VOL: entries still to heal, as NODE's gluster counts them.
twc_heal_count() {
  twc_node "$1" gluster --mode=script volume heal "$2" info --xml |
    sed -n 's:.*<numberOfEntries>\([0-9-]*\)</numberOfEntries>.*:\1:p' | awk '{ s += $1 } END { print s + 0 }'
}

# twc_mount_on_a VOL SOURCE_NODE PATH: an /etc/fstab entry on twnodea and its mount.
twc_mount_on_a() {
  local vol=$1 src=$2 path=$3
  twc_node twnodea sh -c "mkdir -p $path && echo '${src}sds:/$vol $path glusterfs defaults,_netdev 0 0' >>/etc/fstab && mount $path"
}

# Tools on twnodea: twctl and the probe of library calls.
TWCTL=${TWCTL:-$TWC_TOP/build/tools/twctl/twctl}
PROBE=${TW_CLUSTER_PROBE:-$TWC_TOP/build/tests/cluster/tw_cluster_probe}
twc_a() { twc_node twnodea "$@"; }
