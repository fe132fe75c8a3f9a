#!/usr/bin/env bash
# twctl platform nics / controllers and twctl drive locate in the throw-away
# machine copy:
#  1. the real interfaces of this machine, listed from a network document that a
#     stand-in for the product's network script writes from what the machine
#     says (eth0 on virtio reports "Speed: Unknown!"); then a bond of eth0;
#  2. controllers: none on this machine; then Fibre Channel hosts from a fake
#     sysfs tree and a MegaRAID adapter from fake lspci and MegaCli64 printing
#     the outputs of real Dell servers;
#  3. drive locate refuses while drive operations are not supported; bad
#     arguments are refused.
set -euo pipefail
: "${TWCTL:?}" "${TW_FIXTURES_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
check() {
  python3 - "$1" "$2" <<'EOF' || fail "$3"
import json, sys
d = json.loads(sys.argv[1])
assert eval(sys.argv[2]), json.dumps(d, indent=1)
EOF
}

export TW_DEBUG_LEVEL=3
reg=/etc/TessalineRegistry/Tolvan/Instance001
logdir=$(mktemp -d)
mkdir -p $reg/EventManager $reg/Dockwright
printf 'dEVLOGDIR %s\n' "$logdir" > $reg/EventManager/registry.conf
log=$logdir/TSTidewall.log

# ---- 1. network interfaces --------------------------------------------------
home=$(mktemp -d)
printf 'dHOME %s\n' "$home" > $reg/Dockwright/registry.conf
cat > "$home/tsnwconfigmgr.py" <<'EOF'
# Stand-in for the product's network script: "get PATH" writes the document of
# this machine. Ports are the interfaces backed by a device; interfaces are all
# but the loopback, with their IPv4 address (empty when they have none). With
# TW_NWCONF_BOND set, eth0 is the member of bond0 instead.
import json, os, re, subprocess, sys

def sh(cmd):
    return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout

def facts(dev):
    bus = re.search(r'^bus-info: (.*)$', sh('ethtool -i ' + dev), re.M)
    speed = re.search(r'^\s*Speed: (.*)$', sh('ethtool ' + dev), re.M)
    return {'pci_bus_info': bus.group(1).strip() if bus else '',
            'hwaddr': open('/sys/class/net/%s/address' % dev).read().strip(),
            'speed': speed.group(1).strip() if speed else ''}

adapters, interfaces = [], []
for dev in sorted(os.listdir('/sys/class/net')):
    if dev == 'lo':
        continue
    f = facts(dev)
    if os.path.exists('/sys/class/net/%s/device' % dev):
        adapters.append({'pci_bus_info': f['pci_bus_info'], 'ports': {'0': dict(intfx=dev, **f)}})
    addr = re.search(r'inet (\S+)/', sh('ip -4 -o addr show dev ' + dev))
    intf = dict(device=dev, ipaddr=addr.group(1) if addr else '', **f)
    if os.environ.get('TW_NWCONF_BOND') and dev == 'eth0':
        intf = {'device': 'bond0', 'ipaddr': intf['ipaddr'], 'slave_devices': ['eth0']}
    interfaces.append(intf)
json.dump({'ethernet_adaptors': adapters, 'interfaces': interfaces}, open(sys.argv[2], 'w'), indent=1)
EOF

# The library runs the script as "python", which Debian has only with python-is-python3.
command -v python >/dev/null || fail "python missing (scripts/install-deps.sh)"
json=$("$TWCTL" platform nics --json) || fail "twctl platform nics failed"
mac=$(cat /sys/class/net/eth0/address)
bus=$(ethtool -i eth0 | sed -n 's/^bus-info: //p')
model=$(lspci -s "$bus" 2>/dev/null | cut -d ' ' -f 2- | cut -d ':' -f 2- | sed 's/^ *//; s/ *$//')
[ -n "$model" ] || fail "lspci does not describe $bus"
check "$json" "[n['device'] for n in d['nics']] == ['eth0']" "not exactly eth0 listed (lo has no port, ifb0 no address)"
check "$json" "d['nics'][0]['speed'] == '0Mb/s'" "eth0's Unknown! speed not shown as 0Mb/s"
check "$json" "d['nics'][0]['mac'] == '$mac' and d['nics'][0]['pci_address'] == '$bus'" "eth0 address facts wrong"
check "$json" "d['nics'][0]['model'] == '''$model'''" "eth0 model is not lspci's"
check "$json" "d['nics'][0]['link'] == 'yes' and d['nics'][0]['firmware'] == ''" "eth0 link or firmware wrong"
python3 - "$TW_SOURCE_DIR/docs/schemas/platform-nics.schema.json" "$json" <<'PY' || fail "platform nics: not as its schema says"
import json, sys, jsonschema
jsonschema.Draft202012Validator(json.load(open(sys.argv[1]))).validate(json.loads(sys.argv[2]))
PY
# A look leaves the monitoring service's interval alone.
grep -q "sLastMonitorTimeNW" $reg/Dockwright/registry.conf && fail "twctl platform nics wrote sLastMonitorTimeNW"
grep -q 'Interface \[lo\] is not configured. Not reporting it.' "$log" || fail "lo not logged as not configured"
grep -q 'Skipping device \[ifb0\] as IP Address is missing' "$log" || fail "ifb0 not skipped for its missing address"
grep -q "Generate NW config file with cmd - \[PYTHONPATH=$home python $home/tsnwconfigmgr.py get /var/lib/tidewall/nwconf.json\]" "$log" \
  || fail "network script not run as the library runs it"
text=$("$TWCTL" platform nics) || fail "twctl platform nics failed"
grep -q "^  eth0 .*speed 0Mb/s, mac $mac" <<<"$text" || fail "text listing lacks eth0: $text"

# eth0 as the member of a bond: reported from its port, the bond itself not.
json=$(TW_NWCONF_BOND=1 "$TWCTL" platform nics --json) || fail "twctl platform nics (bond) failed"
check "$json" "[(n['device'], n['mac'], n['speed']) for n in d['nics']] == [('eth0', '$mac', '0Mb/s')]" "bond member eth0 wrong"

# The script failing: the document it wrote last time still answers.
mv "$home/tsnwconfigmgr.py" "$home/gone.py"
json=$("$TWCTL" platform nics --json) || fail "twctl platform nics (no script) failed"
check "$json" "[n['device'] for n in d['nics']] == ['eth0']" "older document not read when the script fails"
grep -q 'executing cmd \[PYTHONPATH=.*\]. Continuing..' "$log" || fail "script failure not logged"

# ---- 2. controllers ---------------------------------------------------------
json=$("$TWCTL" platform controllers --json) || fail "twctl platform controllers failed"
check "$json" "d['sas'] == [] and d['fc'] == []" "controllers on a VM?"

# A sysfs of our own for the Fibre Channel hosts (the machine's is bound in).
mount -t tmpfs tw-fakesys /sys
trap 'umount /sys 2>/dev/null || true' EXIT
dev1=/sys/devices/pci0000:00/0000:00:03.0/0000:08:00.0/host1/fc_host/host1
dev2=/sys/devices/pci0000:80/0000:80:01.0/0000:81:00.1/host10/fc_host/host10
mkdir -p $dev1 $dev2 /sys/class/fc_host
printf '0x21000024ff3d4a10\n' > $dev1/port_name
printf 'QLE2692 FW:v8.08.204 DVR:v10.01.00.19-k\n' > $dev1/symbolic_name
printf 'Online\n' > $dev1/port_state
printf '0x10000090fa1b2c3d\n' > $dev2/port_name
printf '12.8.351.47\n' > $dev2/fw_version
printf 'Linkdown\n' > $dev2/port_state
ln -s ../../devices/pci0000:00/0000:00:03.0/0000:08:00.0/host1/fc_host/host1 /sys/class/fc_host/host1
ln -s ../../devices/pci0000:80/0000:80:01.0/0000:81:00.1/host10/fc_host/host10 /sys/class/fc_host/host10

# lspci and MegaCli64 of a Dell PowerEdge with a PERC (real outputs).
bin=$(mktemp -d)
export FIX=$TW_FIXTURES_DIR
cat > "$bin/lspci" <<'EOF'
#!/usr/bin/env bash
perc=$FIX/lspci/k-excerpt-dell-r440-perc-megaraid_sas.txt
case "$*" in
  "") head -1 "$perc"
      echo "08:00.0 Fibre Channel: QLogic Corp. ISP2722-based 16/32Gb Fibre Channel to PCIe Adapter (rev 01)" ;;
  "-k -s 18:00.0") sed -n '1,4p' "$perc" ;;
  "-s 0000:08:00.0") echo "08:00.0 Fibre Channel: QLogic Corp. ISP2722-based 16/32Gb Fibre Channel to PCIe Adapter (rev 01)" ;;
  "-s 0000:81:00.1") ;;
  *) echo "fake lspci: unexpected $*" >&2; exit 2 ;;
esac
EOF
mkdir -p /opt/MegaRAID/MegaCli
cat > /opt/MegaRAID/MegaCli/MegaCli64 <<'EOF'
#!/usr/bin/env bash
case "$*" in
  adpcount) cat "$FIX/megacli/adpcount-1.txt" ;;
  "adpallinfo a0") cat "$FIX/megacli/adpallinfo-perc6i.txt" ;;
  "AdpGetPciInfo a0") cat "$FIX/megacli/adpgetpciinfo-bus3.txt" ;;
  *) echo "fake MegaCli64: unexpected $*" >&2; exit 2 ;;
esac
EOF
chmod +x "$bin/lspci" /opt/MegaRAID/MegaCli/MegaCli64
json=$(PATH=$bin:$PATH "$TWCTL" platform controllers --json) || fail "twctl platform controllers (fake) failed"
check "$json" "d['sas'] == [{'type': 'SAS', 'model': 'PERC 6/i Integrated', 'pci_address': '03:00.00', 'wwn': '', 'firmware': '1.11.52-0349', 'state': ''}]" \
  "MegaRAID adapter wrong"
check "$json" "[(c['type'], c['pci_address'], c['wwn'], c['firmware'], c['state']) for c in d['fc']] == [('FC', '0000:08:00.0', '0x21000024ff3d4a10', 'QLE2692 FW:v8.08.204 DVR:v10.01.00.19-k', 'Online'), ('FC', '0000:81:00.1', '0x10000090fa1b2c3d', '12.8.351.47', 'Linkdown')]" \
  "FC hosts wrong"
check "$json" "d['fc'][0]['model'] == 'QLogic Corp. ISP2722-based 16/32Gb Fibre Channel to PCIe Adapter (rev 01)' and d['fc'][1]['model'] == ''" \
  "FC models wrong"
# The node's metrics with the same fake tools and sysfs: promtool accepts them.
command -v promtool >/dev/null || fail "promtool missing (scripts/install-deps.sh)"
metrics=$(PATH=$bin:$PATH "$TWCTL" metrics) || fail "twctl metrics failed with the fake tools"
promtool check metrics <<<"$metrics" || fail "promtool rejects twctl metrics with the fake tools"
umount /sys
trap - EXIT

# ---- 3. drive locate --------------------------------------------------------
set +e
out=$("$TWCTL" drive locate /tw/disk1 2>&1); rc=$?
set -e
[ $rc -eq 1 ] || fail "drive locate: exit $rc, not 1"
grep -q 'drive operations are not supported on this system' <<<"$out" || fail "drive locate gave no reason: $out"
set +e
"$TWCTL" drive locate tw/disk1 >/dev/null 2>&1; rc=$?
set -e
[ $rc -eq 2 ] || fail "drive locate of a relative path: exit $rc, not 2"
for bad in "--minutes" "--minutes abc" "--minutes 0" "--minutes -5" "--minutes 99999999999" "--bogus"; do
  set +e
  # shellcheck disable=SC2086
  "$TWCTL" platform cpu-usage $bad >/dev/null 2>&1; rc=$?
  set -e
  [ $rc -eq 2 ] || fail "cpu-usage $bad: exit $rc, not 2"
done
echo "platform devices: ok"
