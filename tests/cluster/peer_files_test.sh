# Peer files: twnodea's glusterd peer files are backed up by the library; then,
# with twnodeb and twnodec up, twnodea's glusterd stops and one of its peer
# files is found empty. make_glusterd_active repairs it from the backup before
# glusterd starts (glusterd 10 starts on a damaged peer file and then turns that
# peer away as unknown) and twnodea rejoins the pool. Sourced by cluster.sh.

backup=/var/lib/tidewall/glusterd-peers-backup
twc_check "the library backs up twnodea's peer files" twc_a "$PROBE" peer-backup
peer=$(twc_a sh -c 'grep -l "hostname1=twnodebsds" /var/lib/glusterd/peers/*' | head -n1)
twc_check "twnodea has a peer file for twnodebsds" test -n "$peer"
good=$(twc_a cat "$peer")
twc_check "its backup holds the same text" test "$(twc_a cat "$backup/$(basename "$peer")")" = "$good"

# twnodea's glusterd stops (its brick processes and clients do not run here);
# its peer file of twnodeb is left empty, as after a power loss.
twc_a sh -c 'for p in /proc/[0-9]*; do [ "$(cat $p/comm 2>/dev/null)" = glusterd ] && kill -9 "${p#/proc/}"; done; true'
glusterd_down() { ! twc_a gluster --mode=script volume list; }
twc_wait 30 "twnodea's glusterd down" glusterd_down
twc_a truncate -s 0 "$peer"

rc=0
lib=$(twc_a "$PROBE" glusterd-active) || rc=$?
rejoined() { twc_peers_connected twnodea && [ "$(twc_node twnodeb gluster --mode=script pool list | grep -c 'Connected')" -eq 3 ]; }
twc_check "twnodea rejoins the pool within 60 s" twc_wait 60 "twnodea back in the pool" rejoined
twc_side "make_glusterd_active (exit $rc) and the repaired peer file" "$lib
$(twc_a cat "$peer")" "$(twc_node twnodeb gluster --mode=script peer status)"
twc_check "make_glusterd_active succeeds" test "$rc" -eq 0
twc_check "the peer file is back as it was" test "$(twc_a cat "$peer")" = "$good"
twc_check "the library repaired it before glusterd started" \
  twc_a grep -q "Gluster peer files are not healthy, restoring them before the daemon starts" /var/log/tessaline/TSTidewall.log
