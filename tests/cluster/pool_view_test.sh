# A healthy pool as twnodea sees it: a replica-3 volume with one brick per node,
# mounted through /etc/fstab as this node's volume, and a volume of twnodeb
# mounted from there. Sourced by cluster.sh with the pool up.

twc_volume rvol "replica 3" twnodea twnodeb twnodec
twc_volume bvol "" twnodeb
twc_mount_on_a rvol twnodea /tw/glus
twc_mount_on_a bvol twnodeb /tw/glus2

lib=$(twc_a "$PROBE" volumes)
twc_side "gluster mounts of /etc/fstab: local and remote" "$lib" "$(twc_node twnodeb gluster --mode=script volume info | grep -E '^(Volume Name|Brick[0-9])')"
twc_check "rvol is this node's volume" grep -qx "local: /tw/glus twnodeasds:/rvol" <<<"$lib"
twc_check "bvol is a remote volume" grep -qx "remote: /tw/glus2 twnodebsds:/bvol" <<<"$lib"

lib=$(twc_a "$PROBE" names 10.213.1.12 10.213.1.13 10.213.0.12 10.213.0.99) || true  # the last has no name
twc_side "get_remote_ip_to_hname" "$lib" "$(twc_node twnodeb gluster --mode=script pool list)"
twc_check "a peer's storage address gives its pool name" grep -qx "10.213.1.12: twnodebsds" <<<"$lib"
twc_check "another node's address gives its host name" grep -qx "10.213.0.12: twnodeb" <<<"$lib"
twc_check "an address of no node gives no name" grep -qx "10.213.0.99: (none)" <<<"$lib"

lib=$(twc_a "$PROBE" loopback twnodea twnodeasds localhost twnodebsds twnodec)
twc_side "is_loop_back_hname (twnodea has eth0 10.213.0.11 and eth1 10.213.1.11)" "$lib" "$(twc_a ip -br -4 addr)"
twc_check "both names of twnodea are this node" grep -qx "twnodeasds: this node" <<<"$lib"
twc_check "the host name is this node" grep -qx "twnodea: this node" <<<"$lib"
twc_check "localhost is this node" grep -qx "localhost: this node" <<<"$lib"
twc_check "twnodebsds is another node" grep -qx "twnodebsds: another node" <<<"$lib"
twc_check "twnodec is another node" grep -qx "twnodec: another node" <<<"$lib"

lib=$(twc_a "$TWCTL" gluster bricks rvol)
twc_side "twctl gluster bricks rvol" "$lib" "$(twc_node twnodeb gluster --mode=script volume status rvol | grep -E '^Brick')"
twc_check "three bricks, all online" test "$(grep -cE '^twnode[abc]sds +/tw/disk1/rvol +(yes|no) +yes ' <<<"$lib")" -eq 3
twc_check "only twnodea's brick is local, with its brick attributes" \
  test "$(grep -E ' yes +yes +brick, /dev/loop' <<<"$lib" | awk '{ print $1 }')" = twnodeasds
twc_check "nothing to heal" grep -q "^Volume rvol: nothing to heal" <<<"$lib"

lib=$(twc_a "$TWCTL" gluster mounts)
twc_side "twctl gluster mounts" "$lib" "$(twc_a awk '$3 == "fuse.glusterfs"' /proc/self/mounts)"
twc_check "storage host name known" grep -q "^Storage host name: twnodeasds" <<<"$lib"
twc_check "rvol served here and mounted" grep -qE "^twnodeasds +rvol +/tw/glus .* mounted" <<<"$lib"
twc_check "bvol served remotely and mounted" grep -qE "^twnodebsds +bvol +/tw/glus2 .* mounted" <<<"$lib"

twc_a dd if=/dev/urandom of=/tw/glus/sample bs=1M count=8 status=none
lib=$(twc_a "$PROBE" sizeinfo rvol /tw/glus; twc_a cat /etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize)
twc_side "volume size: gluster_volume_get_sizeinfo and its record" "$lib" "$(twc_node twnodeb df -B1 --output=size,target /tw/disk1)"
twc_check "size not shrunk" grep -qx "sizeinfo: 0 shrunk: no" <<<"$lib"
twc_check "size recorded" grep -qE "^rvol:[0-9]+$" <<<"$lib"

rc=0
lib=$(twc_a "$TWCTL" monitor) || rc=$?
twc_side "twctl monitor (exit $rc)" "$lib" "$(twc_node twnodec gluster --mode=script volume heal rvol info summary | grep -E '^(Brick|Total)')"
twc_check "monitor healthy (exit 0)" test "$rc" -eq 0
twc_check "rvol mounted, size ok" grep -qE "^rvol +yes +- +ok" <<<"$lib"
twc_check "bvol mounted" grep -qE "^bvol +yes " <<<"$lib"
twc_check "nothing degraded or unchecked" test -z "$(grep -E '^(DEGRADED|NOT CHECKED)' <<<"$lib")"

# twnodea's storage name stops resolving: nothing can tell which gluster mount
# is this node's, and the monitor says its gluster check could not run.
twc_a sed -i '/twnodeasds/d' /etc/hosts
rc=0
lib=$(twc_a "$TWCTL" monitor) || rc=$?
twc_side "twnodeasds does not resolve on twnodea: twctl monitor (exit $rc)" "$lib" \
  "$(twc_node twnodeb gluster --mode=script volume status rvol | grep -E '^Brick')"
twc_check "monitor exits 3: a check could not run" test "$rc" -eq 3
twc_check "it names the storage name that does not resolve" \
  grep -q "^NOT CHECKED gluster volumes: storage host name \[twnodeasds\] does not resolve" <<<"$lib"
twc_check "the reason is logged" twc_a grep -q "Check could not run: gluster volumes: storage host name \[twnodeasds\]" \
  /var/log/tessaline/TSTidewall.log
