#!/usr/bin/env bash
# Installs the build into a staging prefix, builds the example consumer against
# the installed files only, runs it, and checks the exported symbol list, its
# version node and the files consumers read. With --packages it also builds
# the Debian packages (lintian must find nothing), compares the ABI with the
# last release's and builds the RPM (rpmlint).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$top/build}" && pwd)
stage=$(mktemp -d /tmp/tw-stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }
"$top/scripts/check-exports.sh" "$build/libtidewall.so"

# Every exported symbol of the library belongs to the version node TIDEWALL_1.
unversioned=$(objdump -T "$build/libtidewall.so" | grep -E ' D[FO] ' | grep -v '\*UND\*' | grep -v ' TIDEWALL_1 ' || true)
[ -z "$unversioned" ] || fail "symbols outside TIDEWALL_1: $(head -n 5 <<<"$unversioned")"

cmake --install "$build" --prefix "$stage/usr" >/dev/null
test -L "$stage/usr/lib/libtidewall.so" -o -L "$stage/usr/lib/x86_64-linux-gnu/libtidewall.so"
cmake -S "$top/examples/consumer" -B "$stage/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$stage/usr" >/dev/null
cmake --build "$stage/consumer" >/dev/null
libdir=$(dirname "$(find "$stage/usr" -name 'libtidewall.so.1' -print -quit)")
LD_LIBRARY_PATH="$libdir" "$stage/consumer/tidewall_consumer"
# The CMake target hands C++17 on to its consumers.
grep -q 'INTERFACE_COMPILE_FEATURES "cxx_std_17"' "$libdir/cmake/tidewall/tidewallTargets.cmake" ||
  fail "tidewall::tidewall does not require cxx_std_17"
# pkg-config names the prefix the files were installed under, not the configured one.
[ "$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --variable=prefix tidewall)" = "$stage/usr" ] ||
  fail "tidewall.pc names $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --variable=prefix tidewall), installed under $stage/usr"
PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --libs tidewall | grep -- "-L$libdir -ltidewall" >/dev/null

if [ "${1:-}" = "--packages" ]; then
  debs=$(BUILD_DIR="$build" "$top/scripts/build-deb.sh" "$stage/deb")
  echo "$debs"
  # lintian: no error, no warning (informational tags are printed, not fatal).
  # shellcheck disable=SC2086
  lintian --fail-on error,warning --tag-display-limit 0 $debs || fail "lintian"

  # The ABI against the last release's, kept as an abidw dump in packaging/abi/:
  # an incompatible change (abidiff bit 8) fails; an addition is reported.
  xz -dc "$top/packaging/abi/libtidewall.so.1.abi.xz" > "$stage/baseline.abi"
  rc=0
  abidiff --headers-dir2 "$top/include/tidewall" --drop-private-types \
    "$stage/baseline.abi" "$build/libtidewall.so" > "$stage/abidiff.txt" || rc=$?
  if [ $((rc & 8)) -ne 0 ] || [ $((rc & 3)) -ne 0 ]; then
    cat "$stage/abidiff.txt" >&2
    fail "abidiff: incompatible ABI change or error (status $rc)"
  fi
  [ $((rc & 4)) -eq 0 ] || { echo "ABI grew compatibly:"; head -n 20 "$stage/abidiff.txt"; }
  echo "ABI compatible with packaging/abi/libtidewall.so.1.abi.xz"

  (cd "$build" && cpack -G RPM -B "$stage/rpm" >/dev/null) || fail "cpack RPM"
  rpms=$(ls "$stage"/rpm/tidewall-*.rpm)
  echo "$rpms"
  # shellcheck disable=SC2086
  rpmlint --ignore-unused-rpmlintrc -c "$top/packaging/rpm/rpmlint.toml" -r "$top/packaging/rpm/rpmlintrc" $rpms ||
    fail "rpmlint"
fi
echo "package check passed"
