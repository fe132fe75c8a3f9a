#!/usr/bin/env bash
# Attacks by user nobody in the throw-away machine copy, against twctl as root:
#  1. a second twctl prune while another holds the node: it waits its bound,
#     then fails with the holder's pid and removes nothing;
#  2. a FIFO and a file of nobody's planted at tuning's old scratch names in
#     /tmp: twctl tune completes, the planted entries get nothing, and the text
#     of a 0600 /etc/sysctl.conf is nowhere nobody can read it;
#  3. a dump directory that is a link to /etc when twctl prune walks: nothing
#     in /etc is removed;
#  4. two prunings started together, ten times: both succeed, between them
#     every old dump and its directory goes, none counts as failed.
# (A directory swapped between the walk and the removals, and the BMC password
# of ipmitool, are in security_walk_and_secrets_test.cpp: they need the steps
# one by one.)
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; grep -h "\[-1\]" "${logdir:-/nonexistent}"/TSTidewall.log 2>/dev/null | tail -5 >&2; exit 1; }
nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

logdir=$(mktemp -d)
regroot=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$regroot/EventManager" "$regroot/Dockwright"
printf 'dEVLOGDIR %s\n' "$logdir" > "$regroot/EventManager/registry.conf"
: > "$regroot/Dockwright/registry.conf"

# ---- 1. a second pruning waits its bound, then refuses --------------------------
"$TWCTL" prune > /dev/null  # makes the lock file
mkdir -p /var/crash/old && echo core > /var/crash/old/vmcore && touch -d '30 days ago' /var/crash/old/vmcore
flock /run/tidewall/prune.lock sleep 45 &
holder=$!
sleep 0.5
( rc=0; start=$(date +%s); "$TWCTL" prune > /tmp/prune.out 2> /tmp/prune.err || rc=$?
  echo "$rc $(( $(date +%s) - start ))" > /tmp/prune.rc ) &
second=$!

# ---- 2. planted scratch names ---------------------------------------------------
marker="tw-secret-$$-kernel.shmmax"
printf '# only root may read this\n%s = 1\nkernel.sem = 250 32000 32 128\n' "$marker" > /etc/sysctl.conf
chmod 0600 /etc/sysctl.conf
printf 'defaults {\n    user_friendly_names yes\n}\n' > /etc/multipath.conf
mkdir -p /etc/lvm /etc/modprobe.d /etc/sysconfig/network-scripts /etc/abrt
nobody mkfifo /tmp/perf.conf /tmp/multipath.conf
nobody sh -c ': > /tmp/sysctl.conf.bak && chmod 0666 /tmp/sysctl.conf.bak'
bin=$(mktemp -d)
for tool in ifconfig ethtool sysctl systemctl tuned-adm multipath gluster python; do
  printf '#!/bin/sh\nexit 0\n' > "$bin/$tool"
done
chmod +x "$bin"/*
rc=0; PATH=$bin:$PATH timeout 60 "$TWCTL" tune > /tmp/tune.out 2>&1 || rc=$?
[ $rc = 0 ] || fail "twctl tune exit $rc: $(cat /tmp/tune.out)"
[ "$("$TWCTL" tune --status --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["version"])')" = 7 ] \
  || fail "tune did not reach version 7"
[ -p /tmp/perf.conf ] && [ -p /tmp/multipath.conf ] || fail "a planted FIFO was replaced"
[ ! -s /tmp/sysctl.conf.bak ] || fail "the planted file received: $(cat /tmp/sysctl.conf.bak)"
grep -q "$marker" /etc/sysctl.conf || fail "sysctl.conf lost its lines"
[ "$(stat -c %a /etc/sysctl.conf)" = 600 ] || fail "sysctl.conf mode changed"
[ "$(stat -c '%U %a' /var/lib/tidewall)" = "root 700" ] || fail "state directory: $(stat -c '%U %a' /var/lib/tidewall)"
[ "$(stat -c %a /var/lib/tidewall/sysctl.conf.bak)" = 600 ] || fail "backup mode $(stat -c %a /var/lib/tidewall/sysctl.conf.bak)"
grep -q "$marker" /var/lib/tidewall/sysctl.conf.bak || fail "no backup of sysctl.conf"
if nobody grep -rqs "$marker" /tmp /var/tmp /run /var/lib "$logdir"; then fail "nobody can read root's sysctl.conf text"; fi

# ---- 1, continued -----------------------------------------------------------------
wait "$second"
read -r prc waited < /tmp/prune.rc
[ "$prc" = 1 ] || fail "second prune exit $prc: $(cat /tmp/prune.out /tmp/prune.err)"
grep -qx "twctl prune: another pruning is running (pid [0-9]*)" /tmp/prune.err || fail "message: $(cat /tmp/prune.err)"
[ "$waited" -ge 29 ] && [ "$waited" -le 40 ] || fail "waited ${waited} s, not the 30 s bound"
[ ! -s /tmp/prune.out ] || fail "a refused prune printed a result: $(cat /tmp/prune.out)"
[ -e /var/crash/old/vmcore ] || fail "a refused prune removed a dump"
# flock's sleep holds the lock too: it goes first.
kill $(cat "/proc/$holder/task/$holder/children" 2>/dev/null) "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true

# ---- 3. a dump directory that is a link to /etc at walk time --------------------
echo precious > /etc/tw-victim && touch -d '30 days ago' /etc/tw-victim
mkdir /var/crash/users && chown nobody /var/crash/users
nobody ln -s /etc /var/crash/users/x
"$TWCTL" prune > /tmp/prune.out || fail "prune: $(cat /tmp/prune.out)"
[ "$(cat /etc/tw-victim)" = precious ] || fail "/etc/tw-victim was removed through the link"
[ -L /var/crash/users/x ] || fail "the link itself was removed"
[ ! -e /var/crash/old ] || fail "the old dump directory was kept"
rm -f /etc/tw-victim

# ---- 4. two prunings started together, ten times ---------------------------------
rm -rf /var/crash/users
for round in $(seq 10); do
  for d in $(seq 20); do
    mkdir -p /var/crash/r$d && for f in 1 2 3; do echo core > /var/crash/r$d/core.$f; done
  done
  touch -d '30 days ago' /var/crash/r*/core.*
  "$TWCTL" prune --json > /tmp/p1 & a=$!
  "$TWCTL" prune --json > /tmp/p2 & b=$!
  ra=0; wait $a || ra=$?; rb=0; wait $b || rb=$?
  [ $ra = 0 ] && [ $rb = 0 ] || fail "round $round: exits $ra and $rb: $(cat /tmp/p1 /tmp/p2)"
  python3 - /tmp/p1 /tmp/p2 <<'PY' || fail "round $round: $(cat /tmp/p1 /tmp/p2)"
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:])
assert a["failed_files"] == b["failed_files"] == 0, (a, b)
assert a["removed_files"] + b["removed_files"] == 60, (a, b)
assert a["removed_dirs"] + b["removed_dirs"] == 20, (a, b)
PY
  [ -z "$(ls /var/crash)" ] || fail "round $round left: $(ls /var/crash)"
done
echo "security_files: all checks passed"
