# Node loss and recovery on a replica-3 volume, and gluster busy while a peer
# is cut off: twnodec's brick daemon is killed, then twnodec is cut off; files
# are written on twnodea meanwhile; twnodec comes back and heals. twnodea also
# runs virtualisation with a DAV volume (dav_vm_vol, replica 3) whose brick
# check must never call twnodea's own running brick down. Sourced by cluster.sh.

twc_volume rvol "replica 3" twnodea twnodeb twnodec
twc_volume dav_vm_vol "replica 3" twnodea twnodeb twnodec
twc_mount_on_a rvol twnodea /tw/glus
# Virtualisation on twnodea: its status command answers; the DAV volume is mounted.
twc_a sh -c 'printf "#!/bin/sh\necho \"--== Host 1 status ==--\"\n" >/usr/sbin/hosted-engine && chmod 755 /usr/sbin/hosted-engine'
twc_a sh -c 'mkdir -p /rhev/dav && mount -t glusterfs twnodeasds:/dav_vm_vol /rhev/dav'
files="one two three four"
for f in $files; do twc_a dd if=/dev/urandom of="/tw/glus/before-$f" bs=256K count=4 status=none; done

rc=0
lib=$(twc_a "$TWCTL" monitor) || rc=$?
twc_side "all up: twctl monitor (exit $rc)" "$lib" "$(twc_node twnodeb gluster --mode=script volume status rvol | grep -E '^Brick')"
twc_check "monitor healthy with every node up" test "$rc" -eq 0

# twnodec's brick daemon of rvol dies.
pid=$(twc_brick_pid twnodec rvol)
twc_check "gluster names twnodec's brick process" test -n "$pid"
twc_node twnodec kill -9 "$pid"
c_brick_offline() { twc_a "$TWCTL" gluster bricks rvol | grep -qE '^twnodecsds +/tw/disk1/rvol +no +no '; }
twc_check "twnodea sees twnodec's brick offline within 30 s" twc_wait 30 "twnodec's brick offline on twnodea" c_brick_offline
twc_side "twnodec's brick daemon killed: twctl gluster bricks rvol" "$(twc_a "$TWCTL" gluster bricks rvol)" \
  "$(twc_node twnodeb gluster --mode=script volume status rvol | grep -E '^Brick')"

# Then twnodec is cut off. A query twnodeb makes at once waits on twnodec and
# holds the volume's cluster lock meanwhile: twnodea's gluster may then answer
# "busy" (an error inside its XML, exit status 0) to the monitor's queries.
twc_cut twnodec
twc_node twnodeb timeout 60 gluster --mode=script volume status dav_vm_vol detail >/dev/null 2>&1 &
holder=$!
rc=0
t0=$(date +%s)
lib=$(twc_a "$TWCTL" monitor) || rc=$?
took=$(( $(date +%s) - t0 ))
wait "$holder" 2>/dev/null || true
twc_side "twnodec cut off: twctl monitor (exit $rc, ${took} s)" "$lib" \
  "$(twc_node twnodeb gluster --mode=script volume status rvol | grep -E '^Brick'; twc_node twnodeb gluster --mode=script volume status dav_vm_vol | grep -E '^Brick')"
twc_check "monitor returns within 120 s" test "$took" -lt 120
twc_check "monitor exits 1: a volume degraded" test "$rc" -eq 1
twc_check "monitor names rvol degraded by twnodec's brick" grep -qE "^DEGRADED rvol: brick offline: .*twnodecsds:/tw/disk1/rvol" <<<"$lib"
twc_check "rvol's record keeps its meaning: mounted, size ok" grep -qE "^rvol +yes +- +ok" <<<"$lib"
twc_check "dav_vm_vol: twnodea's own running brick never reads offline" test -z "$(grep -E '^dav_vm_vol .*OFFLINE' <<<"$lib")"
twc_check "dav_vm_vol's brick check ran or says it could not" \
  grep -qE "^(dav_vm_vol +yes +online|NOT CHECKED dav_vm_vol brick daemons)" <<<"$lib"
busy=$(twc_a sh -c 'grep -c "Gluster busy answering" /var/log/tessaline/TSTidewall.log || true')
twc_log "gluster answered busy to twnodea's library $busy time(s) while twnodec was cut off"
twc_a sh -c 'grep "Gluster busy answering" /var/log/tessaline/TSTidewall.log | head -n 3' || true

started=$(date +%s)
for f in $files; do timeout 60 nsenter -t "$(cat "$TWC_DIR/twnodea.pid")" -m -p -r -w -- \
  dd if=/dev/urandom of="/tw/glus/during-$f" bs=256K count=4 status=none; done
twc_check "files written on twnodea during the outage within 60 s" test $(( $(date +%s) - started )) -lt 60

heal_pending() { [ "$(twc_heal_count twnodea rvol)" -gt 0 ]; }
twc_check "heal pending seen on twnodea within 60 s" twc_wait 60 "heal pending on twnodea" heal_pending
lib=$(twc_a "$TWCTL" gluster bricks rvol)
twc_side "twnodec cut off: twctl gluster bricks rvol" "$lib" \
  "$(twc_node twnodeb gluster --mode=script volume heal rvol info summary | grep -E '^(Brick|Status|Total)')"
twc_check "twctl gluster bricks says entries wait to heal" grep -q "^Volume rvol: entries waiting to heal" <<<"$lib"
twc_check "twnodec's brick offline" grep -qE '^twnodecsds +/tw/disk1/rvol +no +no ' <<<"$lib"

# twnodec comes back; its brick daemon is started again and the volume heals.
twc_back twnodec
twc_wait 60 "twnodec back in twnodea's pool" twc_peers_connected twnodea
twc_a gluster --mode=script volume start rvol force >/dev/null
twc_wait 60 "rvol: 3 bricks online" twc_bricks_online twnodeb rvol 3
twc_a gluster --mode=script volume heal rvol >/dev/null 2>&1 || true  # the self-heal daemon heals anyway
healed() { [ "$(twc_heal_count twnodeb rvol)" -eq 0 ] && [ "$(twc_heal_count twnodeb dav_vm_vol)" -eq 0 ]; }
twc_check "heal completes within 120 s" twc_wait 120 "rvol healed" healed
monitor_healthy() { twc_a "$TWCTL" monitor; }
twc_check "monitor healthy again within 60 s" twc_wait 60 "monitor healthy" monitor_healthy
rc=0
lib=$(twc_a "$TWCTL" monitor) || rc=$?
twc_side "twnodec back: twctl monitor (exit $rc)" "$lib" "$(twc_node twnodeb gluster --mode=script volume heal rvol info summary | grep -E '^(Brick|Total)')"

sums=""
for f in $files; do
  for phase in before during; do
    want=$(twc_a md5sum "/tw/glus/$phase-$f" | awk '{ print $1 }')
    for n in $TWC_NODES; do
      got=$(twc_node "$n" md5sum "/tw/disk1/rvol/$phase-$f" 2>/dev/null | awk '{ print $1 }')
      [ "$got" = "$want" ] || sums="$sums $n:$phase-$f"
    done
  done
done
twc_check "every file's checksum matches on all three bricks${sums:+ (differs:$sums)}" test -z "$sums"
