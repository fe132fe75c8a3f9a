#!/usr/bin/env bash
# twctl tune in the throw-away machine copy, on a GlusterFS node with one
# 10 Gb/s and one 1 Gb/s interface, with fake ethtool, ifconfig, sysctl,
# systemctl, tuned-adm, multipath, gluster and python on PATH that record their
# arguments (ethtool keeps the ring sizes it was given; gluster prints real XML):
#  1. a run from version 0 stops at version 5, whose gluster step fails once;
#     the record says 4;
#  2. the next run resumes at version 5 and ends at 7; the edited files are
#     checked byte for byte;
#  3. a run at 7 changes nothing; a run of every version again from 0 leaves
#     every file as it was;
#  4. without the multipath tool a run from 0 reaches 7, and after a simulated
#     reboot (the /proc value reset, sysctl.conf applied) the inotify limit holds.
set -euo pipefail
: "${TWCTL:?}" "${TW_FIXTURES_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_file() {  # PATH EXPECTED-TEXT
  printf '%s' "$2" > /tmp/expected
  cmp -s /tmp/expected "$1" || { diff -u /tmp/expected "$1" >&2 || true; fail "$1 is not as expected"; }
}

export TW_DEBUG_LEVEL=2
logdir=$(mktemp -d)
regroot=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$regroot/EventManager" "$regroot/Dockwright"
printf 'dEVLOGDIR %s\n' "$logdir" > "$regroot/EventManager/registry.conf"
printf 'sArrowfieldApplianceType RM-110\n' > "$regroot/Dockwright/registry.conf"
reg() { awk -v k="$1" '$1 == k { sub(/^[^ ]* /, ""); print; exit }' "$regroot/Dockwright/registry.conf"; }
log=$logdir/TSTidewall.log

# ---- the machine ------------------------------------------------------------
# Interfaces: a sysfs of our own over /sys/class/net (the host's stays untouched).
mount -t tmpfs tw-sandbox /sys/class/net
mkdir /sys/class/net/em1 /sys/class/net/em2
echo 10000 > /sys/class/net/em1/speed; echo 00:1b:21:3a:4c:5e > /sys/class/net/em1/address
echo 1000 > /sys/class/net/em2/speed;  echo 00:1b:21:3a:4c:5f > /sys/class/net/em2/address
# No EFI here, whatever the host boots with.
[ -d /sys/firmware/efi ] && mount -t tmpfs tw-sandbox /sys/firmware
# The inotify limit is the host kernel's: a file of our own stands in for it.
echo 8192 > /tmp/max_user_watches
mount --bind /tmp/max_user_watches /proc/sys/fs/inotify/max_user_watches

grep -q '^apache:' /etc/passwd || echo 'apache:x:48:48:Apache:/usr/share/httpd:/sbin/nologin' >> /etc/passwd
grep -q '^apache:' /etc/group || echo 'apache:x:48:' >> /etc/group
rm -rf /var/www/my_flask_prod
printf '# sysctl settings are defined through files in\n# /usr/lib/sysctl.d/, /run/sysctl.d/, and /etc/sysctl.d/.\nkernel.sem = 250 32000 32 128\n' \
  > /etc/sysctl.conf
mkdir -p /etc/lvm /etc/modprobe.d /etc/sysconfig/network-scripts /etc/abrt
printf 'activation {\n\t# thin_pool_autoextend_threshold = 70\n\tthin_pool_autoextend_threshold = 100\n\tthin_pool_autoextend_percent = 20\n}\n' \
  > /etc/lvm/lvm.conf
printf 'blacklist nouveau\n' > /etc/modprobe.d/blacklist.conf
rm -f /etc/modprobe.d/tsbf.conf /etc/modprobe.d/tsfsf.conf /etc/sysconfig/network-scripts/*
printf 'TYPE=Ethernet\nBOOTPROTO=none\nNAME=em1\nDEVICE=em1\nONBOOT=yes\nHWADDR=00:1B:21:3A:4C:5E\n' \
  > /etc/sysconfig/network-scripts/ifcfg-em1
printf 'TYPE=Ethernet\nDEVICE=em2\nHWADDR=00:1B:21:3A:4C:5F\n' > /etc/sysconfig/network-scripts/ifcfg-em2
printf '# Will ProcessUnpackaged\nOpenGPGCheck = yes\nProcessUnpackaged = no\n' \
  > /etc/abrt/abrt-action-save-package-data.conf
printf 'defaults {\n    user_friendly_names yes\n    no_path_retry fail\n}\n\nblacklist {\n    devnode "^sda$"\n}\n' \
  > /etc/multipath.conf
printf '/dev/sda2 / xfs defaults 1 1\nUUID=6f1c1d2e-0b55-4d2c-9a53-0e7d2a2c4a11 /tw/dav_he xfs noatime,inode64 0 0\n' \
  > /etc/fstab
chmod 0600 /etc/multipath.conf

# ---- the fake tools -----------------------------------------------------------
bin=$(mktemp -d)
export CALLS=/tmp/calls FIX=$TW_FIXTURES_DIR RINGS=/tmp/rings FAIL_ONCE=/tmp/fail-heal-window
: > "$CALLS"
printf 'em1 1024 512\n' > "$RINGS"
for tool in ifconfig ethtool sysctl systemctl tuned-adm multipath gluster python; do
  cat > "$bin/$tool" <<'EOF'
#!/usr/bin/env bash
echo "$(basename "$0") $*" >> "$CALLS"
EOF
done
cat >> "$bin/ifconfig" <<'EOF'
printf 'Iface      MTU    RX-OK RX-ERR RX-DRP RX-OVR    TX-OK TX-ERR TX-DRP TX-OVR Flg\n'
printf 'bond0     1500        0      0      0 0             0      0      0      0 BMmRU\n'
printf 'em1       1500   983422      0      0 0        412893      0      0      0 BMRU\n'
printf 'em2       1500    48211      0      0 0         30102      0      0      0 BMRU\n'
printf 'lo       65536       82      0      0 0            82      0      0      0 LRU\n'
EOF
cat >> "$bin/ethtool" <<'EOF'
# ethtool 6's ring listing of a real NIC with the sizes this node has now.
read -r _ rx tx < "$RINGS"
case "$1" in
  -g) [ "$2" = em1 ] || { echo "netlink error: no device matches name"; exit 1; }
      sed -e "0,/^RX:\t\t1024/s//RX:\t\t$rx/" -e "s/^TX:\t\t512/TX:\t\t$tx/" "$FIX/ethtool/g-ethtool6-extra-fields-insights.txt" ;;
  -G) [ "$3" = rx ] && rx=$4; [ "$3" = tx ] && tx=$4; echo "em1 $rx $tx" > "$RINGS" ;;
esac
EOF
cat >> "$bin/sysctl" <<'EOF'
[ "$1" = -p ] && grep -v '^#' /etc/sysctl.conf | sed 's/=/ = /'
EOF
cat >> "$bin/systemctl" <<'EOF'
case "$*" in
  "disable --now tendrl-node-agent.service") echo "Failed to disable unit: Unit file tendrl-node-agent.service does not exist." >&2; exit 1 ;;
  "stop lldpad") echo "Failed to stop lldpad.service: Unit lldpad.service not loaded." >&2; exit 5 ;;
esac
exit 0
EOF
cat >> "$bin/gluster" <<'EOF'
ok='<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<cliOutput>
  <opRet>0</opRet>
  <opErrno>0</opErrno>
  <opErrstr/>
</cliOutput>'
case "$*" in
  "--mode=script volume list --xml") cat "$FIX/gluster/volume-list-xml-exporter.txt" ;;
  "--mode=script volume set "*" disperse.self-heal-window-size 8 --xml")
    if [ -e "$FAIL_ONCE" ]; then
      rm -f "$FAIL_ONCE"
      echo '<cliOutput><opRet>-1</opRet><opErrno>30800</opErrno><opErrstr>Another transaction is in progress. Please try again after some time.</opErrstr></cliOutput>'
      exit 1
    fi
    echo "$ok" ;;
  "--mode=script volume set "*" --xml") echo "$ok" ;;
  *) echo "fake gluster: unexpected $*" >&2; exit 1 ;;
esac
EOF
chmod +x "$bin"/*
export PATH=$bin:$PATH

min_free=$(( $(awk '/^MemTotal:/ {print $2}' /proc/meminfo) / 50 ))
status() { "$TWCTL" tune --status --json | python3 -c "import json,sys; d=json.load(sys.stdin); print(d['version'], d['pending'])"; }

# ---- 1. a run from version 0 that stops at version 5 --------------------------
[ "$(status)" = "0 [1, 2, 3, 4, 5, 6, 7]" ] || fail "status of a fresh node: $(status)"
text=$("$TWCTL" tune --status)
grep -q '^Recorded tuning version: none' <<<"$text" && grep -q '^  7  multipath no_path_retry 4' <<<"$text" \
  || fail "status text: $text"
rc=0; "$TWCTL" tune --json >/dev/null 2>&1 || rc=$?; [ $rc = 2 ] || fail "tune --json without --status: exit $rc"
rc=0; "$TWCTL" tune --now >/dev/null 2>&1 || rc=$?; [ $rc = 2 ] || fail "tune --now: exit $rc"
[ ! -s "$CALLS" ] || fail "status or usage errors ran commands: $(cat "$CALLS")"
touch "$FAIL_ONCE"
if "$TWCTL" tune > /tmp/out 2> /tmp/err; then fail "run with a failing version 5 succeeded"; fi
grep -q 'version 5 failed with status 1; the node stays at version 4' /tmp/err || fail "no reason given: $(cat /tmp/err)"
[ "$(reg nPerfParamsVersion)" = 4 ] || fail "record after the failed run: $(reg nPerfParamsVersion)"
grep -q 'configuring perf params version V5 failed' "$log" || fail "failure not logged"

expected_run1="ifconfig -a -s
sysctl -p
ethtool -g em1
ethtool -G em1 rx 4096
ethtool -g em1
ethtool -G em1 tx 4096
systemctl start fstrim
systemctl enable fstrim
systemctl start fstrim.timer
systemctl enable fstrim.timer
tuned-adm profile throughput-performance
sysctl -p
$(for v in gv_cluster gv_test; do
    for o in "features.cache-invalidation on" "features.cache-invalidation-timeout 600" "performance.stat-prefetch on" \
             "performance.cache-invalidation on" "performance.md-cache-timeout 600" "network.inode-lru-limit 200000" \
             "performance.readdir-ahead on" "performance.parallel-readdir on"; do
      echo "gluster --mode=script volume set $v $o --xml"; done; done)
systemctl disable --now tendrl-node-agent.service
gluster --mode=script volume set gv_cluster disperse.self-heal-window-size 8 --xml"
# Volume listings come with every storage manager built; they say nothing here.
grep -v 'volume list' "$CALLS" > /tmp/calls1 || true
[ "$(cat /tmp/calls1)" = "$expected_run1" ] || { diff <(echo "$expected_run1") /tmp/calls1 >&2 || true; fail "commands of run 1"; }
[ "$(cat /proc/sys/fs/inotify/max_user_watches)" = 524288 ] || fail "inotify watches not raised"
[ "$(stat -c %U:%G /var/www/my_flask_prod/static/js)" = apache:apache ] || fail "web folders not apache's"
[ "$(stat -c %a /var/www/my_flask_prod/templates)" = 775 ] || fail "templates not 775"

# ---- 2. the next run resumes at version 5 -------------------------------------
: > "$CALLS"
"$TWCTL" tune > /tmp/out || fail "resumed run failed: $(cat /tmp/out)"
grep -q 'Applied tuning versions 5 to 7' /tmp/out || fail "resumed run says: $(cat /tmp/out)"
expected_run2="gluster --mode=script volume set gv_cluster disperse.self-heal-window-size 8 --xml
gluster --mode=script volume set gv_test disperse.self-heal-window-size 8 --xml
systemctl stop lldpad
systemctl disable lldpad
multipath 
python /opt/tessaline/Dockwright/tsavahi.py backup_network_to_alldata"
grep -v 'volume list' "$CALLS" > /tmp/calls2 || true
[ "$(cat /tmp/calls2)" = "$expected_run2" ] || { diff <(echo "$expected_run2") /tmp/calls2 >&2 || true; fail "commands of run 2"; }
[ "$(reg nPerfParamsVersion)" = 7 ] || fail "record after the resumed run"
[ "$(status)" = "7 []" ] || fail "status at 7: $(status)"
text=$("$TWCTL" tune --status) || fail "tune --status failed at 7"
grep -q '^Up to date: nothing would run' <<<"$text" || fail "status text at 7: $text"

expect_file /etc/sysctl.conf "# sysctl settings are defined through files in
# /usr/lib/sysctl.d/, /run/sysctl.d/, and /etc/sysctl.d/.
kernel.sem=6000 768000 6000 128
vm.min_free_kbytes=$min_free
fs.inotify.max_user_watches=524288
"
expect_file /etc/lvm/lvm.conf "activation {
	# thin_pool_autoextend_threshold = 70
	thin_pool_autoextend_threshold = 50
	thin_pool_autoextend_percent = 20
}
"
expect_file /etc/modprobe.d/blacklist.conf "blacklist nouveau
blacklist tsbf
blacklist tsfsf
"
expect_file /etc/modprobe.d/tsbf.conf "install tsbf /bin/true
"
expect_file /etc/modprobe.d/tsfsf.conf "install tsfsf /bin/true
"
expect_file /etc/sysconfig/network-scripts/ifcfg-em1 'TYPE=Ethernet
BOOTPROTO=none
NAME=em1
DEVICE=em1
ONBOOT=yes
HWADDR=00:1B:21:3A:4C:5E
ETHTOOL_OPTS="-G em1 tx 4096 rx 4096"
'
expect_file /etc/sysconfig/network-scripts/ifcfg-em2 'TYPE=Ethernet
DEVICE=em2
HWADDR=00:1B:21:3A:4C:5F
'
expect_file /etc/multipath.conf 'defaults {
    no_path_retry 4
    user_friendly_names yes
}
blacklist {
    devnode "^sda$"
}
'
[ "$(stat -c %a /etc/multipath.conf)" = 600 ] || fail "multipath.conf lost its mode"
expect_file /etc/abrt/abrt-action-save-package-data.conf "# Will ProcessUnpackaged
OpenGPGCheck = yes
ProcessUnpackaged = yes
"
expect_file /etc/fstab "#
#/etc/fstab
#Created by Tessaline Tidewall Storage
#
#Accessible filesystems, by reference, are maintained under '/dev/disk'
#See man pages fstab(5), findfs(8), mount(8) and/or blkid(8) for more info
#
/dev/sda2      /      xfs      defaults      1   1
UUID=6f1c1d2e-0b55-4d2c-9a53-0e7d2a2c4a11      /tw/dav_he      xfs      noatime,inode64,nofail      0   0
"
expect_file /var/lib/tidewall/sysctl.conf.bak "# sysctl settings are defined through files in
# /usr/lib/sysctl.d/, /run/sysctl.d/, and /etc/sysctl.d/.
kernel.sem=6000 768000 6000 128
vm.min_free_kbytes=$min_free
"
for k in nBufFileRdrReadSizeKB:256 DataMoverLookAheadLinkReaderSlots:128 DataMoverUseLookAheadLinkReader:1 \
         SIDBCommitThreshold:32768 MaxSFileContainerItems:1024 nEnableCoreDump:true; do
  [ "$(reg "${k%%:*}")" = "${k#*:}" ] || fail "registry ${k%%:*} is '$(reg "${k%%:*}")'"
done
cmp -s /etc/hosts /var/lib/tidewall/network-backup/etc_hosts || fail "network files not backed up"

# ---- 3. nothing more to do; every version again changes no file ---------------
files="/etc/sysctl.conf /etc/lvm/lvm.conf /etc/modprobe.d/blacklist.conf /etc/modprobe.d/tsbf.conf
  /etc/modprobe.d/tsfsf.conf /etc/sysconfig/network-scripts/ifcfg-em1 /etc/sysconfig/network-scripts/ifcfg-em2
  /etc/multipath.conf /etc/abrt/abrt-action-save-package-data.conf /etc/fstab"
sums=$(sha256sum $files)
: > "$CALLS"
"$TWCTL" tune > /tmp/out || fail "run at 7 failed"
grep -q 'Nothing to do: tuning version 7 is recorded' /tmp/out || fail "run at 7 says: $(cat /tmp/out)"
[ ! -s "$CALLS" ] || fail "a run at 7 ran: $(cat "$CALLS")"

sed -i 's/^nPerfParamsVersion .*/nPerfParamsVersion 0/' "$regroot/Dockwright/registry.conf"
"$TWCTL" tune > /tmp/out || fail "second full run failed"
[ "$(sha256sum $files)" = "$sums" ] || fail "a second full run changed files: $(sha256sum $files | diff <(echo "$sums") - || true)"
grep -q 'ethtool -G' "$CALLS" && fail "rings set again though they hold 4096"
[ "$(reg nPerfParamsVersion)" = 7 ] || fail "record after the second full run"
# ---- 4. a node without the multipath tool, then a reboot ------------------------
# Version 7 has nothing to reload there: a run from 0 goes through to 7.
rm -f "$bin/multipath"
for p in $(type -aP multipath); do rm -f "$p"; done  # the sandbox's copy of the machine only
echo 8192 > /proc/sys/fs/inotify/max_user_watches
sed -i 's/^nPerfParamsVersion .*/nPerfParamsVersion 0/' "$regroot/Dockwright/registry.conf"
"$TWCTL" tune > /tmp/out 2> /tmp/err || fail "run 0 to 7 without multipath failed: $(cat /tmp/out /tmp/err)"
grep -q 'Applied tuning versions 1 to 7' /tmp/out || fail "run without multipath says: $(cat /tmp/out)"
[ "$(reg nPerfParamsVersion)" = 7 ] || fail "record after the run without multipath: $(reg nPerfParamsVersion)"
grep -q 'multipath is not installed; \[/etc/multipath.conf\] written, nothing to reload' "$log" || fail "no note of the missing tool"
expect_file /etc/multipath.conf 'defaults {
    no_path_retry 4
    user_friendly_names yes
}
blacklist {
    devnode "^sda$"
}
'
[ "$(cat /proc/sys/fs/inotify/max_user_watches)" = 524288 ] || fail "inotify watches not raised without multipath"
# The reboot: the kernel starts from its default, then the boot applies
# sysctl.conf (the real sysctl reads the line version 4 wrote; only that line,
# so that no other setting reaches the host kernel).
echo 8192 > /proc/sys/fs/inotify/max_user_watches
grep '^fs.inotify.max_user_watches' /etc/sysctl.conf > /tmp/boot-sysctl.conf || fail "inotify limit not in /etc/sysctl.conf"
/usr/sbin/sysctl -q -p /tmp/boot-sysctl.conf || fail "sysctl cannot read the persisted line"
[ "$(cat /proc/sys/fs/inotify/max_user_watches)" = 524288 ] || fail "inotify limit lost at the reboot"
"$TWCTL" tune > /tmp/out || fail "run after the reboot failed"
grep -q 'Nothing to do: tuning version 7 is recorded' /tmp/out || fail "run after the reboot says: $(cat /tmp/out)"
echo "tuning checks passed"
