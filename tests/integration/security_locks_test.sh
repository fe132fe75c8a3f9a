#!/usr/bin/env bash
# What an account without root (user nobody) can try on this machine copy, and
# what root's twctl then does:
#  1. holding every lock file, old names and new: the root calls complete within
#     their limits, and nobody cannot even open a lock of /run/tidewall;
#  2. links planted at the old /run/lock names: no /etc/nologin appears;
#  3. a link in a textfile directory nobody owns, to a copy of /etc/shadow, and a
#     dangling one: each is replaced by the metrics file, nothing is written or
#     created where they pointed;
#  4. TW_REGISTRY_INSTANCE naming a registry nobody planted under /tmp: refused,
#     its command never run;
#  5. a tool that prints without end: cut off at the output cap, the collector
#     fails and twctl ends in seconds within a memory bound;
#  6. a rewrite killed before its rename: the next rewrite removes its leftover
#     and keeps a running maker's.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
for tool in setpriv flock timeout; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

export TW_DEBUG_LEVEL=2
logdir=$(mktemp -d)
chmod 0755 "$logdir"
regroot=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$regroot/EventManager" "$regroot/Dockwright"
chmod 0755 /etc/TessalineRegistry /etc/TessalineRegistry/Tolvan "$regroot"
printf 'dEVLOGDIR %s\n' "$logdir" > "$regroot/EventManager/registry.conf"
printf 'sArrowfieldApplianceType RM-110\nnPerfParamsVersion 7\n' > "$regroot/Dockwright/registry.conf"
log=$logdir/TSTidewall.log
mkdir -p /run/lock && chmod 1777 /run/lock

holders=()
cleanup() {
  for p in "${holders[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# run NAME ARGS...: twctl ARGS within 60 s; its status in $rc, its seconds in $took.
run() {
  local name=$1 start
  shift
  start=$(date +%s)
  rc=0
  timeout 60 "$TWCTL" "$@" > "/tmp/out.$name" 2>&1 || rc=$?
  took=$(( $(date +%s) - start ))
  [ "$rc" != 124 ] || fail "twctl $* hung"
}
calls=("storage info" "tune --status" "fstab show" "platform-type --refarch")
declare -A baseline
for c in "${calls[@]}"; do
  # shellcheck disable=SC2086
  run base $c
  baseline[$c]=$rc
done

# ---- 1. every lock held by nobody ---------------------------------------------
[ "$(stat -c '%a %U' /run/tidewall)" = "700 root" ] || fail "lock directory is $(stat -c '%a %U' /run/tidewall)"
for f in "$logdir/TSTidewall.log.lock" "$regroot/Dockwright/registry.conf.lock" \
         "$regroot/EventManager/registry.conf.lock"; do
  : > "$f" && chmod 0644 "$f"  # as the old code made them
done
for f in "$logdir/TSTidewall.log.lock" "$regroot/Dockwright/registry.conf.lock" \
         "$regroot/EventManager/registry.conf.lock" /run/lock/tidewall-fstab.lock /run/lock/tidewall-tuning.lock; do
  as_nobody flock -x "$f" sleep 300 &
  holders+=("$!")
done
sleep 0.5
for f in "$logdir/TSTidewall.log.lock" "$regroot/Dockwright/registry.conf.lock" /run/lock/tidewall-fstab.lock \
         /run/lock/tidewall-tuning.lock; do
  flock -n "$f" true && fail "the hold on $f is not in place"
done
for f in /run/tidewall/*.lock /run/tidewall/fstab.lock; do
  as_nobody flock -n -x "$f" true 2>/dev/null && fail "nobody could take $f"
done
size_before=$(stat -c %s "$log")
for c in "${calls[@]}"; do
  # shellcheck disable=SC2086
  run held $c
  [ "$took" -lt 30 ] || fail "twctl $c took ${took}s behind nobody's locks"
  [ "$rc" = "${baseline[$c]}" ] || fail "twctl $c exit $rc behind nobody's locks, ${baseline[$c]} without: $(cat /tmp/out.held)"
done
[ "$(stat -c %s "$log")" -gt "$size_before" ] || fail "nothing logged behind nobody's locks"
grep -q '^nPerfParamsVersion 7$' "$regroot/Dockwright/registry.conf" || fail "registry lost a key"
cleanup
holders=()

# ---- 2. links at the old /run/lock names ----------------------------------------
rm -f /run/lock/tidewall-fstab.lock /run/lock/tidewall-tuning.lock /etc/nologin
as_nobody ln -s /etc/nologin /run/lock/tidewall-fstab.lock
as_nobody ln -s /etc/nologin /run/lock/tidewall-tuning.lock
run tune tune
run fstab fstab show
[ ! -e /etc/nologin ] || fail "a link at an old lock name made /etc/nologin"

# ---- 3. links in a textfile directory nobody owns --------------------------------
printf 'root:$6$secret:19000:0:99999:7:::\n' > /srv-shadow-copy
chmod 0600 /srv-shadow-copy
shadow_sum=$(sha256sum < /srv-shadow-copy)
for d in /var/lib/tw-textfile1 /var/lib/tw-textfile2; do
  mkdir -p "$d" && chown nobody:nogroup "$d"
done
as_nobody ln -s /srv-shadow-copy /var/lib/tw-textfile1/tidewall.prom
as_nobody ln -s /etc/tw-created /var/lib/tw-textfile2/tidewall.prom
for d in /var/lib/tw-textfile1 /var/lib/tw-textfile2; do
  run metrics metrics --textfile "$d" --collector-timeout 5
  [ -f "$d/tidewall.prom" ] && [ ! -L "$d/tidewall.prom" ] || fail "$d/tidewall.prom is still a link"
  grep -q '^tidewall_collector_success' "$d/tidewall.prom" || fail "$d/tidewall.prom holds no metrics"
done
[ "$(sha256sum < /srv-shadow-copy)" = "$shadow_sum" ] || fail "the shadow copy was written through the link"
[ ! -e /etc/tw-created ] || fail "a dangling link created /etc/tw-created"

# ---- 4. a registry instance that is a path --------------------------------------
as_nobody mkdir -p /tmp/evil/Dockwright
as_nobody sh -c 'printf "sSubscriptionRefreshCommand touch /tmp/evil-ran\n" > /tmp/evil/Dockwright/registry.conf'
rc=0
TW_REGISTRY_INSTANCE=../../../../tmp/evil timeout 60 "$TWCTL" storage info > /tmp/out.evil 2>&1 || rc=$?
[ "$rc" != 124 ] || fail "twctl storage info hung on a refused instance"
[ ! -e /tmp/evil-ran ] || fail "the planted registry's command ran"
grep -q 'TW_REGISTRY_INSTANCE \[../../../../tmp/evil\] refused' /tmp/out.evil || fail "no refusal said: $(cat /tmp/out.evil)"

# ---- 5. a tool printing without end ---------------------------------------------
# dmidecode's firmware tables (-t ...) print without end; the awk-filtered
# server-model query (--type) fails at once, so only the capped reads cost time.
mkdir -p /usr/sbin
printf '#!/bin/sh\ncase "$1" in --type) exit 1;; esac\nexec yes\n' > /usr/sbin/dmidecode
chmod +x /usr/sbin/dmidecode
start=$(date +%s)
rc=0
# The collectors run on threads, and glibc reserves 64 MiB of address space for
# each thread's arena: one arena makes the address-space limit measure what is
# captured, not what is reserved.
( ulimit -v 800000; MALLOC_ARENA_MAX=1 timeout 60 "$TWCTL" metrics --collector-timeout 20 > /tmp/out.yes 2>&1 ) || rc=$?
took=$(( $(date +%s) - start ))
[ "$rc" != 124 ] || fail "twctl metrics hung behind a tool printing without end"
[ "$took" -lt 30 ] || fail "twctl metrics took ${took}s behind a tool printing without end"
[ "$rc" -lt 128 ] || fail "twctl metrics died (exit $rc) behind a tool printing without end"
grep -q 'Command \[dmidecode -t processor\] killed: its output passed the 67108864 byte cap' "$log" \
  || fail "the cut-off was not logged: $(grep -c "byte cap" "$log"); $(grep -i "dmidecode\|cap\|alloc\|memory" "$log" | grep -v DebugLow | cut -c1-200 | tail -8)"
grep -qx 'tidewall_collector_success{collector="processors"} 0' /tmp/out.yes || fail "endless output counted as success"
pgrep -x yes >/dev/null && fail "the endless tool still runs"
rm /usr/sbin/dmidecode

# ---- 6. a rewrite killed before its rename ----------------------------------------
conf=$regroot/Dockwright/registry.conf
printf 'sArrowfieldApplianceType RM-110\nnPerfParamsVersion 7\n' > "$conf"
rm -f /tmp/trace
TW_CRASH_TRACE=/tmp/trace "$TWCTL" platform-type --refarch > /dev/null 2>&1 || true
k=$(awk -v f="$conf" '$2 == "rename" && $3 == f { print $1; exit }' /tmp/trace)
[ -n "$k" ] || fail "platform-type --refarch never rewrote $conf: $(cat /tmp/trace)"
printf 'sArrowfieldApplianceType RM-110\nnPerfParamsVersion 7\n' > "$conf"
rc=0
TW_CRASH_AT_STEP=$k "$TWCTL" platform-type --refarch > /dev/null 2>&1 || rc=$?
[ "$rc" = 137 ] || fail "the rewrite was not killed at step $k (exit $rc)"
leftover=$(find "$regroot/Dockwright" -name 'registry.conf.twtmp.*')
[ -n "$leftover" ] || fail "the killed rewrite left nothing to clean up"
sleep 300 &
live=$!
holders+=("$live")
: > "$conf.twtmp.$live.Live00"
run refarch platform-type --refarch
[ ! -e "$leftover" ] || fail "the killed rewrite's leftover $leftover is still there"
[ -e "$conf.twtmp.$live.Live00" ] || fail "a running maker's temporary was removed"
echo "security locks: ok"
