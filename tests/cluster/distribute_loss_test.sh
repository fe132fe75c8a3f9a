# A distribute volume across twnodea and twnodec, this node's volume, with
# twnodec gone (cut off): it reads degraded, never healthy; its size shrink is
# reported while the recorded size does not go down. Sourced by cluster.sh.

reg=/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize
twc_volume dvol "" twnodea twnodec
twc_mount_on_a dvol twnodea /tw/glus
for f in 1 2 3 4 5 6; do twc_a dd if=/dev/urandom of="/tw/glus/file$f" bs=64K count=2 status=none; done

rc=0
lib=$(twc_a "$TWCTL" monitor) || rc=$?
recorded=$(twc_a cat "$reg")
twc_side "both nodes up: twctl monitor (exit $rc) and the size record" "$lib
$recorded" "$(twc_node twnodeb gluster --mode=script volume status dvol | grep -E '^Brick'; twc_a df -B1 --output=size /tw/glus)"
twc_check "monitor healthy with both nodes up" test "$rc" -eq 0
twc_check "size recorded" grep -qE "^dvol:[0-9]+$" <<<"$recorded"

twc_cut twnodec
shrunk() { [ "$(twc_a df -B1 --output=size /tw/glus | tail -n1)" -lt "${recorded#dvol:}" ]; }
twc_check "twnodea's mount shows the smaller size within 60 s" twc_wait 60 "dvol smaller on twnodea" shrunk
rc=0
t0=$(date +%s)
lib=$(twc_a "$TWCTL" monitor) || rc=$?
took=$(( $(date +%s) - t0 ))
after=$(twc_a cat "$reg")
twc_side "twnodec cut off: twctl monitor (exit $rc, ${took} s) and the size record" "$lib
$after" "$(twc_node twnodeb gluster --mode=script volume status dvol | grep -E '^Brick'; twc_a df -B1 --output=size /tw/glus)"
twc_check "monitor returns within 120 s" test "$took" -lt 120
twc_check "monitor exits 1" test "$rc" -eq 1
twc_check "dvol's record: mounted, size SHRUNK" grep -qE "^dvol +yes +- +SHRUNK" <<<"$lib"
twc_check "dvol named degraded by twnodec's brick" grep -qE "^DEGRADED dvol: brick offline: twnodecsds:/tw/disk1/dvol" <<<"$lib"
twc_check "the size record does not go down" test "$after" = "$recorded"

twc_back twnodec
healthy() { twc_a "$TWCTL" monitor; }
twc_check "monitor healthy again within 60 s of twnodec's return" twc_wait 60 "monitor healthy" healthy
twc_check "the size record still holds the full size" test "$(twc_a cat "$reg")" = "$recorded"
