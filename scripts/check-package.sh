#!/usr/bin/env bash
# Installs the build into a staging prefix, builds the example consumer against
# the installed files only, runs it, and checks the exported symbol list. With
# --packages it also builds the DEB and RPM.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
stage=$(mktemp -d /tmp/tw-stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
"$top/scripts/check-exports.sh" "$build/libtidewall.so"
cmake --install "$build" --prefix "$stage/usr" >/dev/null
test -L "$stage/usr/lib/libtidewall.so" -o -L "$stage/usr/lib/x86_64-linux-gnu/libtidewall.so"
cmake -S "$top/examples/consumer" -B "$stage/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$stage/consumer" >/dev/null
libdir=$(dirname "$(find "$stage/usr" -name 'libtidewall.so.1' -print -quit)")
LD_LIBRARY_PATH="$libdir" "$stage/consumer/tidewall_consumer"
# pkg-config consumers get the same library.
PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --define-prefix --libs tidewall | grep -- '-ltidewall' >/dev/null
if [ "${1:-}" = "--packages" ]; then
  (cd "$build" && cpack -G DEB >/dev/null && cpack -G RPM >/dev/null)
  ls "$build"/tidewall*.deb "$build"/tidewall*.rpm
fi
echo "package check passed"
