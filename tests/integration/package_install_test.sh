#!/usr/bin/env bash
# From the build: make the DEB, install it on the (throw-away) machine, and build
# and run the example consumer against the installed files only.
set -euo pipefail
: "${TW_BUILD_DIR:?}" "${TW_SOURCE_DIR:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }

pkgdir=$(mktemp -d /tmp/twpkg.XXXXXX)
cpack --config "$TW_BUILD_DIR/CPackConfig.cmake" -G DEB -B "$pkgdir" >/dev/null || fail "cpack"
deb=$(ls "$pkgdir"/tidewall_*.deb)
dpkg -i "$deb" >/dev/null || fail "dpkg -i $deb"
dpkg -L tidewall | grep '/usr/include/tidewall/tw_storage.h' >/dev/null || fail "headers not installed"
readlink /usr/lib/libtidewall.so | grep '^libtidewall.so.1$' >/dev/null || fail "SONAME link"
objdump -p /usr/lib/libtidewall.so.1 | grep 'SONAME *libtidewall.so.1' >/dev/null || fail "SONAME"

# The consumer is copied away from the source tree: it sees the installed package only.
cp -r "$TW_SOURCE_DIR/examples/consumer" /tmp/consumer
cmake -S /tmp/consumer -B /tmp/consumer/build -G Ninja >/dev/null || fail "consumer configure"
cmake --build /tmp/consumer/build >/dev/null || fail "consumer build"
out=$(/tmp/consumer/build/tidewall_consumer) || fail "consumer run"
grep -q '^ddb mount path: /tw/ddb (xfs, noatime,inode64,nofail)$' <<<"$out" || fail "consumer output: $out"
grep -q "^memory: total [1-9]" <<<"$out" || fail "consumer platform output: $out"
ldd /tmp/consumer/build/tidewall_consumer | grep -E '=> (/usr)?/lib/libtidewall.so.1 ' >/dev/null || fail "consumer not linked to the installed library"

# pkg-config and the CLI from the package.
c++ -std=c++17 -x c++ - -o /tmp/pc_consumer $(pkg-config --cflags --libs tidewall) <<'SRC' || fail "pkg-config build"
#include <tidewall/tw_storage.h>
int main() { tw_storage s; return s.is_sys_mnt_path("/boot") ? 0 : 1; }
SRC
/tmp/pc_consumer || fail "pkg-config consumer"
/usr/bin/twctl storage info >/dev/null || fail "installed twctl"
man -w twctl >/dev/null 2>&1 || test -f /usr/share/man/man1/twctl.1 || fail "man page"
# The metrics refresh: service and timer installed and sound, the timer not enabled.
for unit in tidewall-metrics.service tidewall-metrics.timer; do
  dpkg -L tidewall | grep -qx "/usr/lib/systemd/system/$unit" || fail "$unit not installed"
done
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /usr/lib/systemd/system/tidewall-metrics.timer /usr/lib/systemd/system/tidewall-metrics.service \
    || fail "systemd-analyze rejects the metrics units"
fi
[ ! -e /etc/systemd/system/timers.target.wants/tidewall-metrics.timer ] || fail "the package enabled the metrics timer"
echo "package installs and is consumable"
