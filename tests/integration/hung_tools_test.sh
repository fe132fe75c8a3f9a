#!/usr/bin/env bash
# Hung tools never hang twctl: a hosted-engine that never answers is killed at
# its time limit and `twctl monitor` comes back. The limit is capped to 2 s by
# TW_TIME_LIMIT_CAP_S so that the test waits seconds, not the 100 s of a node;
# nothing the hung tool started is left running.
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

logdir=$(mktemp -d)
regroot=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$regroot/EventManager" "$regroot/Dockwright"
printf 'dEVLOGDIR %s\n' "$logdir" > "$regroot/EventManager/registry.conf"
printf 'sArrowfieldApplianceType RM-110\n' > "$regroot/Dockwright/registry.conf"  # a GlusterFS node
log=$logdir/TSTidewall.log
export TW_DEBUG_LEVEL=2

# The sandbox's copy of the machine only: the real path the library runs.
mkdir -p /usr/sbin
printf '#!/bin/sh\necho $$ > /tmp/hung.pid\nexec sleep 1000\n' > /usr/sbin/hosted-engine
chmod +x /usr/sbin/hosted-engine

start=$(date +%s)
rc=0; TW_TIME_LIMIT_CAP_S=2 timeout 90 "$TWCTL" monitor > /tmp/out 2>&1 || rc=$?
took=$(( $(date +%s) - start ))
[ "$rc" != 124 ] || fail "twctl monitor hung behind hosted-engine"
[ "$took" -lt 60 ] || fail "twctl monitor took ${took}s"
[ -s /tmp/hung.pid ] || fail "hosted-engine never ran: $(cat /tmp/out)"
kill -0 "$(cat /tmp/hung.pid)" 2>/dev/null && fail "the hung hosted-engine still runs"
pgrep -f 'sleep 1000$' >/dev/null && fail "the hung tool's child still runs"
grep -q 'Failed to check hosted engine status error \[command killed after 2 s time limit\]' "$log" \
  || fail "cut-off not logged: $(grep -i 'hosted engine' "$log" || true)"
# A probe that never answered is a DAV check that could not run, not "no hosted engine".
grep -qx 'NOT CHECKED DAV volumes: the hosted-engine status command did not answer within its time limit' /tmp/out \
  || fail "unanswered probe not reported: $(cat /tmp/out)"
[ "$rc" = 3 ] || fail "twctl monitor exit $rc, not 3 (a check could not run): $(cat /tmp/out)"
echo "hung tools: ok (twctl monitor back after ${took}s)"
