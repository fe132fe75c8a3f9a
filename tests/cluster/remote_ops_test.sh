# Remote operations from twnodea to twnodeb's sshd: the library makes its key
# pair and installs the public key with root's password (never on a command
# line), then prunes the hosted engine's crash dumps on twnodeb over ssh with
# the key. With twnodeb cut off, the same call ends within the ssh connect
# limit and removes nothing. Sourced by cluster.sh.

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
