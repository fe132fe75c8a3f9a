# Remote operations from twnodea to twnodeb's sshd: the library makes its key
# pair and installs the public key with root's password (never on a command
# line), then prunes the hosted engine's crash dumps on twnodeb over ssh with
# the key. With twnodeb cut off, the same call ends within the ssh connect
# limit and removes nothing; with its sshd frozen, the hosted-engine probe and
# the prune are cut off at their limits. Sourced by cluster.sh.

rc=0
lib=$(twc_a "$PROBE" ssh-key twnodeb) || rc=$?
twc_side "create_ssh_keypair, copy_ssh_key twnodeb (exit $rc)" "$lib" "$(twc_node twnodeb sh -c 'cut -c1-60 /root/.ssh/authorized_keys')"
twc_check "key pair made and copied" test "$rc" -eq 0
twc_check "twnodeb trusts twnodea's key" \
  test "$(twc_a cut -d' ' -f2 /root/.ssh/id_rsa.pub)" = "$(twc_node twnodeb sh -c "cut -d' ' -f2 /root/.ssh/authorized_keys")"
password_unlogged() { ! twc_a grep -rqF "$TWC_PASSWORD" /var/log/tessaline; }
twc_check "the password is in no log of twnodea" password_unlogged
twc_check "no password file is left in twnodea's /tmp" test -z "$(twc_a sh -c 'ls /tmp/tw-sshpass.* 2>/dev/null')"
twc_check "a command runs on twnodeb with the key" \
  test "$(twc_a ssh -o BatchMode=yes -o ConnectTimeout=10 root@twnodeb hostname)" = twnodeb

# The hosted engine on twnodeb: two crash dumps, and a log that is no dump.
twc_node twnodeb sh -c 'mkdir -p /var/log/ovirt-engine/dump && echo a >/var/log/ovirt-engine/dump/core.1 &&
  echo b >/var/log/ovirt-engine/dump/core.2 && echo keep >/var/log/ovirt-engine/engine.log'
rc=0
lib=$(twc_a "$PROBE" prune-engine twnodeb) || rc=$?
twc_side "prune_ovirt_crash_dumps on twnodeb (exit $rc)" "$lib" "$(twc_node twnodeb ls -R /var/log/ovirt-engine)"
twc_check "prune returns 0" test "$rc" -eq 0
twc_check "twnodeb's dumps are gone" test -z "$(twc_node twnodeb ls -A /var/log/ovirt-engine/dump)"
twc_check "twnodeb's engine log stays" test "$(twc_node twnodeb cat /var/log/ovirt-engine/engine.log)" = keep

twc_node twnodeb sh -c 'echo c >/var/log/ovirt-engine/dump/core.3'
twc_cut twnodeb
t0=$(date +%s)
rc=0
lib=$(twc_a "$PROBE" prune-engine twnodeb) || rc=$?
took=$(( $(date +%s) - t0 ))
twc_back twnodeb
twc_side "twnodeb cut off: prune_ovirt_crash_dumps (exit $rc, ${took} s)" "$lib" "$(twc_node twnodeb ls -A /var/log/ovirt-engine/dump)"
twc_check "the call ends within 30 s (ssh connect limit 10 s)" test "$took" -lt 30
twc_check "nothing is removed from the unreachable node" test "$(twc_node twnodeb cat /var/log/ovirt-engine/dump/core.3)" = c

# The hosted-engine probe on twnodea asks the engine's node over ssh, as the
# real tool asks its peers. With twnodeb's sshd frozen the connection opens and
# then nothing answers: the probe hangs, and twctl monitor must still return,
# cut off at its (capped) limit, and say that the DAV check could not run.
twc_a sh -c 'printf "#!/bin/sh\nexec ssh -o BatchMode=yes root@twnodeb hosted-engine --vm-status\n" >/usr/sbin/hosted-engine &&
  chmod +x /usr/sbin/hosted-engine'
twc_node twnodeb pkill -STOP -x sshd
t0=$(date +%s)
rc=0
lib=$(twc_a env TW_TIME_LIMIT_CAP_S=5 "$TWCTL" monitor) || rc=$?
took=$(( $(date +%s) - t0 ))
left=$(twc_a pgrep -a -x ssh || true)
twc_side "twnodeb's sshd frozen: twctl monitor (exit $rc, ${took} s)" "$lib" \
  "$(twc_node twnodeb ps -o pid=,stat=,comm= -C sshd)"
# The remote prune meets the same frozen sshd, without a cap: ssh's own
# connect limit (10 s, which covers the handshake) ends it.
t0=$(date +%s)
prc=0
plib=$(twc_a "$PROBE" prune-engine twnodeb) || prc=$?
ptook=$(( $(date +%s) - t0 ))
twc_side "twnodeb's sshd frozen: prune_ovirt_crash_dumps (exit $prc, ${ptook} s)" "$plib" \
  "$(twc_node twnodeb ls -A /var/log/ovirt-engine/dump)"
twc_node twnodeb pkill -CONT -x sshd
twc_check "the prune ends within 30 s" test "$ptook" -lt 30
twc_check "nothing is removed from the frozen node" test "$(twc_node twnodeb cat /var/log/ovirt-engine/dump/core.3)" = c
twc_check "twctl monitor returns within 30 s (probe limit capped at 5 s)" test "$took" -lt 30
twc_check "the probe's ssh is killed with it" test -z "$left"
twc_check "the DAV check is reported as not run" \
  grep -qx 'NOT CHECKED DAV volumes: the hosted-engine status command did not answer within its time limit' <<<"$lib"
twc_check "twctl monitor exits 3 (a check could not run)" test "$rc" -eq 3
twc_a rm -f /usr/sbin/hosted-engine
