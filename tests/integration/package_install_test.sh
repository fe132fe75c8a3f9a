#!/usr/bin/env bash
# From the build: make the Debian packages, install them on the (throw-away)
# machine with dpkg, build and run consumers against the installed files only
# (CMake and pkg-config), check what each package holds, that the metrics unit
# is installed disabled and sandboxed, and that removal and purge take away
# only what the package brought.
set -euo pipefail
: "${TW_BUILD_DIR:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

pkgdir=$(mktemp -d /tmp/twpkg.XXXXXX)
BUILD_DIR="$TW_BUILD_DIR" "$TW_SOURCE_DIR/scripts/build-deb.sh" "$pkgdir" >/dev/null || fail "build-deb.sh"
deb() { ls "$pkgdir/$1"_*.deb; }
# Written before the install: the purge below must leave node_exporter's other files.
mkdir -p /var/lib/prometheus/node-exporter
echo 'other_metric 1' > /var/lib/prometheus/node-exporter/other.prom
dpkg -i "$(deb libtidewall1)" "$(deb libtidewall-dev)" "$(deb tidewall-tools)" \
  "$(deb libtidewall1-dbgsym)" "$(deb tidewall-tools-dbgsym)" >/dev/null || fail "dpkg -i"

# Each file in its package, the library in Debian's multiarch directory.
ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
while read -r file pkg; do
  file=${file//@MA@/$ma}
  owner=$(dpkg -S "$file" 2>/dev/null | cut -d: -f1)
  [ "$owner" = "$pkg" ] || fail "$file belongs to '${owner:-no package}', not $pkg"
done <<'EOF'
/usr/lib/@MA@/libtidewall.so.1.0.0 libtidewall1
/usr/lib/@MA@/libtidewall.so.1 libtidewall1
/usr/lib/@MA@/libtidewall.so libtidewall-dev
/usr/include/tidewall/tw_storage.h libtidewall-dev
/usr/lib/@MA@/pkgconfig/tidewall.pc libtidewall-dev
/usr/lib/@MA@/cmake/tidewall/tidewallConfig.cmake libtidewall-dev
/usr/bin/twctl tidewall-tools
/usr/share/man/man1/twctl.1.gz tidewall-tools
/usr/share/tidewall/prometheus/tidewall.rules.yml tidewall-tools
/usr/share/tidewall/grafana/tidewall-node.json tidewall-tools
/usr/lib/systemd/system/tidewall-metrics.service tidewall-tools
/usr/lib/systemd/system/tidewall-metrics.timer tidewall-tools
/usr/share/doc/tidewall-tools/copyright tidewall-tools
/usr/share/doc/libtidewall1/changelog.Debian.gz libtidewall1
EOF
lib=/usr/lib/$ma/libtidewall.so.1
objdump -p "$lib" | grep 'SONAME *libtidewall.so.1' >/dev/null || fail "SONAME"
# The trigger ran ldconfig: the loader's cache knows the library.
grep -qE "libtidewall.so.1 .*=> (/usr)?/lib/$ma/libtidewall.so.1\$" <<<"$(ldconfig -p)" || fail "ldconfig trigger did not run"
# Stripped, with the debug information in the -dbgsym package, found by build id.
# (Outputs go to grep whole: "cmd | grep -q" fails under pipefail when grep stops early.)
for elf in "$lib" /usr/bin/twctl; do
  ! grep -q '\.debug_info' <<<"$(readelf -S "$elf")" || fail "$elf is not stripped"
  id=$(readelf -n "$elf" | sed -n 's/^ *Build ID: *//p')
  dbg=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  grep -q '\.debug_info' <<<"$(readelf -S "$dbg")" || fail "no debug information for $elf in $dbg"
done
grep -q 'TIDEWALL_1 *tw_storage::tw_storage()' <<<"$(objdump -TC "$lib")" || fail "no TIDEWALL_1 node"

# The consumer is copied away from the source tree: it sees the installed package only.
cp -r "$TW_SOURCE_DIR/examples/consumer" /tmp/consumer
cmake -S /tmp/consumer -B /tmp/consumer/build -G Ninja >/dev/null || fail "consumer configure"
cmake --build /tmp/consumer/build >/dev/null || fail "consumer build"
out=$(/tmp/consumer/build/tidewall_consumer) || fail "consumer run"
grep -q '^ddb mount path: /tw/ddb (xfs, noatime,inode64,nofail)$' <<<"$out" || fail "consumer output: $out"
grep -q "^memory: total [1-9]" <<<"$out" || fail "consumer platform output: $out"
ldd /tmp/consumer/build/tidewall_consumer | grep -E "=> (/usr)?/lib/$ma/libtidewall.so.1 " >/dev/null || fail "consumer not linked to the installed library"
grep -q 'TIDEWALL_1' <<<"$(objdump -T /tmp/consumer/build/tidewall_consumer)" || fail "consumer does not bind to TIDEWALL_1"

# pkg-config names /usr, where the package put the files.
[ "$(pkg-config --variable=prefix tidewall)" = /usr ] || fail "tidewall.pc prefix $(pkg-config --variable=prefix tidewall)"
c++ -std=c++17 -x c++ - -o /tmp/pc_consumer $(pkg-config --cflags --libs tidewall) <<'SRC' || fail "pkg-config build"
#include <tidewall/tw_storage.h>
int main() { tw_storage s; return s.is_sys_mnt_path("/boot") ? 0 : 1; }
SRC
/tmp/pc_consumer || fail "pkg-config consumer"
/usr/bin/twctl storage info >/dev/null || fail "installed twctl"
promtool check rules /usr/share/tidewall/prometheus/tidewall.rules.yml >/dev/null || fail "installed rules"

# The metrics refresh: service and timer sound, sandboxed, the timer not enabled.
units=(/usr/lib/systemd/system/tidewall-metrics.timer /usr/lib/systemd/system/tidewall-metrics.service)
systemd-analyze verify "${units[@]}" || fail "systemd-analyze rejects the metrics units"
exposure=$(systemd-analyze security --offline=yes /usr/lib/systemd/system/tidewall-metrics.service 2>/dev/null |
  sed -n 's/^→ Overall exposure level for tidewall-metrics.service: \([0-9.]*\) .*/\1/p')
[ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' || fail "exposure ${exposure:-unknown} above 4.0"
[ ! -e /etc/systemd/system/timers.target.wants/tidewall-metrics.timer ] || fail "the package enabled the metrics timer"
# systemd cannot run here: the collectors run with the unit's capability
# bounding set and no_new_privs and must succeed exactly as without them.
caps=$(sed -n 's/^CapabilityBoundingSet=//p' /usr/lib/systemd/system/tidewall-metrics.service |
  tr 'A-Z' 'a-z' | sed 's/cap_/+/g; s/ /,/g')
collectors() { grep '^tidewall_collector_success' | sort; }
free=$(/usr/bin/twctl metrics | collectors)
bound=$(setpriv --bounding-set=-all,"$caps" --inh-caps=-all --no-new-privs /usr/bin/twctl metrics | collectors)
[ -n "$free" ] && [ "$free" = "$bound" ] || fail "collectors differ under the unit's capabilities: $(diff <(echo "$free") <(echo "$bound"))"
# ... and with the file system read-only but for the unit's ReadWritePaths, as
# ProtectSystem=strict leaves it, writing the textfile as the service does.
rw=$(sed -n 's/^ReadWritePaths=//p' /usr/lib/systemd/system/tidewall-metrics.service | tr ' ' '\n' | sed 's/^-//')
# systemd makes the unit's RuntimeDirectory, writable, before the run.
for d in $(sed -n 's/^RuntimeDirectory=//p' /usr/lib/systemd/system/tidewall-metrics.service); do
  mkdir -p -m 0700 "/run/$d"
  rw="$rw /run/$d"
done
strict=$(unshare -m --propagation private bash -c '
  for d in $1; do [ ! -d "$d" ] || mount --bind "$d" "$d"; done
  mount -o remount,bind,ro / && mount -o remount,bind,ro /run
  ! touch /etc/tidewall-probe 2>/dev/null || exit 9
  exec setpriv --bounding-set=-all,"$2" --inh-caps=-all --no-new-privs \
    /usr/bin/twctl metrics --textfile /var/lib/prometheus/node-exporter' _ "$rw" "$caps" &&
  collectors < /var/lib/prometheus/node-exporter/tidewall.prom) || fail "metrics on a read-only system"
[ "$free" = "$strict" ] || fail "collectors differ on a read-only system: $(diff <(echo "$free") <(echo "$strict"))"

# Removal and purge: the package's files and its metrics file go, the rest stays.
echo 'tidewall_collector_success{collector="node"} 1' > /var/lib/prometheus/node-exporter/tidewall.prom
dpkg -r tidewall-tools-dbgsym tidewall-tools >/dev/null || fail "dpkg -r"
[ ! -e /usr/bin/twctl ] && [ ! -e "${units[1]}" ] || fail "removal left the tools"
[ -e /var/lib/prometheus/node-exporter/tidewall.prom ] || fail "removal (not purge) dropped the metrics file"
dpkg -P tidewall-tools >/dev/null || fail "dpkg -P"
[ ! -e /var/lib/prometheus/node-exporter/tidewall.prom ] || fail "purge left tidewall.prom"
[ "$(cat /var/lib/prometheus/node-exporter/other.prom)" = 'other_metric 1' ] || fail "purge touched other.prom"
[ -e "$lib" ] || fail "removing the tools took the library"
echo "packages install, are consumable and remove cleanly"
