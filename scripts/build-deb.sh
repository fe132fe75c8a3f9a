#!/usr/bin/env bash
# Builds the Debian packages from a finished build: libtidewall1 (the shared
# library), libtidewall-dev (headers, pkg-config file, CMake package) and
# tidewall-tools (twctl, manual page, completion, systemd units, alert rules),
# each stripped, with its debug symbols in a -dbgsym package.
#
#   scripts/build-deb.sh [OUTDIR]     (BUILD_DIR names the build; OUTDIR defaults to BUILD_DIR/deb)
#
# The packages are staged from the build's install components (lib, dev,
# tools) under /usr and put together with dpkg-deb, as debhelper would.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD_DIR:-$top/build}" && pwd)
out=${1:-$build/deb}
meta=$top/packaging/debian
fail() { echo "build-deb: $*" >&2; exit 1; }

[ -f "$build/packaging/deb.env" ] || fail "$build is not a configured build"
# shellcheck source=/dev/null
. "$build/packaging/deb.env"
[ -n "${TW_VERSION:-}" ] && [ -n "${TW_SOVERSION:-}" ] && [ -n "${TW_LIBDIR:-}" ] || fail "deb.env incomplete"
# The Debian version is the changelog's newest entry; its upstream part must be this build's.
version=$(sed -n '1s/^tidewall (\([^)]*\)).*/\1/p' "$meta/changelog")
[ "${version%-*}" = "$TW_VERSION" ] || fail "changelog says $version, the build is $TW_VERSION"
arch=$(dpkg --print-architecture)
libpkg=libtidewall$TW_SOVERSION

work=$(mktemp -d /tmp/tw-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$work"

# dpkg-shlibdeps reads the packages being built from debian/control and finds
# their shlibs under debian/<package>/DEBIAN.
mkdir debian
printf 'Source: tidewall\n\nPackage: %s\nArchitecture: any\n\nPackage: tidewall-tools\nArchitecture: any\n' \
  "$libpkg" > debian/control

stage() {  # package component
  DESTDIR="$work/debian/$1" cmake --install "$build" --prefix /usr --component "$2" >/dev/null
  mkdir -p "debian/$1/DEBIAN"
}
stage "$libpkg" lib
stage libtidewall-dev dev
stage tidewall-tools tools
# An optional file that is absent leaves its directory behind.
find debian -type d -empty -not -name DEBIAN -delete
[ -f debian/tidewall-tools/usr/share/bash-completion/completions/twctl ] ||
  echo "build-deb: no bash completion in this source tree (tools/twctl/twctl.bash-completion)" >&2

# Stripped files keep a link to their debug file, which goes to the -dbgsym
# package under /usr/lib/debug/.build-id, as dh_strip does it.
split_debug() {  # package file strip-option
  local pkg=$1 file=$2 id dir
  id=$(readelf -n "$file" | sed -n 's/^ *Build ID: *//p')
  [ -n "$id" ] || fail "$file has no build id"
  dir="debian/$pkg-dbgsym/usr/lib/debug/.build-id/${id:0:2}"
  mkdir -p "$dir"
  objcopy --only-keep-debug --compress-debug-sections "$file" "$dir/${id:2}.debug"
  chmod 0644 "$dir/${id:2}.debug"
  strip --remove-section=.comment --remove-section=.note $3 "$file"
  objcopy --add-gnu-debuglink="$dir/${id:2}.debug" "$file"
  echo "$id" >> "debian/$pkg-dbgsym.ids"
}
lib=$(find "debian/$libpkg" -type f -name "libtidewall.so.$TW_SOVERSION.*")
[ -n "$lib" ] || fail "no libtidewall.so.$TW_SOVERSION.* staged"
split_debug "$libpkg" "$lib" --strip-unneeded
split_debug tidewall-tools debian/tidewall-tools/usr/bin/twctl ""

# Documents: every package has its copyright and changelog; the manual page is compressed.
gzip -9n < "$meta/changelog" > "$work/changelog.Debian.gz"
for pkg in "$libpkg" libtidewall-dev tidewall-tools; do
  doc="debian/$pkg/usr/share/doc/$pkg"
  mkdir -p "$doc"
  install -m 0644 "$meta/copyright" "$doc/copyright"
  install -m 0644 "$work/changelog.Debian.gz" "$doc/changelog.Debian.gz"
  mkdir -p "debian/$pkg/usr/share/lintian/overrides"
  sed "s/@PACKAGE@/$pkg/" "$meta/lintian-overrides" > "debian/$pkg/usr/share/lintian/overrides/$pkg"
  if [ -d "debian/$pkg-dbgsym" ]; then
    mkdir -p "debian/$pkg-dbgsym/usr/share/doc" "debian/$pkg-dbgsym/DEBIAN"
    ln -s "$pkg" "debian/$pkg-dbgsym/usr/share/doc/$pkg-dbgsym"
  fi
done
find debian/tidewall-tools/usr/share/man -type f -name '*.[0-9]' -exec gzip -9n {} +

# The library: its shlibs (the oldest version with this interface) and the
# ldconfig trigger instead of calling ldconfig.
echo "libtidewall $TW_SOVERSION $libpkg (>= $TW_VERSION)" > "debian/$libpkg/DEBIAN/shlibs"
install -m 0644 "$meta/$libpkg.triggers" "debian/$libpkg/DEBIAN/triggers"
for script in postinst prerm postrm; do
  install -m 0755 "$meta/tidewall-tools.$script" "debian/tidewall-tools/DEBIAN/$script"
done

# Ownership and modes as Debian wants them: root, 0755 directories and
# programs, 0644 for everything else (shared libraries included).
find debian -path '*/DEBIAN' -prune -o -type d -exec chmod 0755 {} +
find debian -path '*/DEBIAN' -prune -o -type f -exec chmod 0644 {} +
chmod 0755 debian/tidewall-tools/usr/bin/twctl

shlibdeps() {  # file
  dpkg-shlibdeps -O -e"$1" -l"$work/debian/$libpkg/usr/$TW_LIBDIR" | sed -n 's/^shlibs:Depends=//p'
}
libdeps=$(shlibdeps "$lib")
toolsdeps=$(shlibdeps debian/tidewall-tools/usr/bin/twctl)
[ -n "$libdeps" ] && [ -n "$toolsdeps" ] || fail "dpkg-shlibdeps found no dependencies"
grep -q "$libpkg (>= $TW_VERSION)" <<<"$toolsdeps" || fail "twctl does not depend on $libpkg: $toolsdeps"

assemble() {  # package control-template shlibs
  local pkg=$1 root="debian/$1" size
  (cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
     xargs -0r md5sum > DEBIAN/md5sums)
  [ -s "$root/DEBIAN/md5sums" ] || rm "$root/DEBIAN/md5sums"
  size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
  sed -e "s|@VERSION@|$version|g" -e "s|@ARCH@|$arch|g" -e "s|@SIZE@|$size|g" -e "s|@SHLIBS@|$3|g" \
      -e "s|@NODE_TOOLS@|$TW_NODE_TOOLS_DEB|g" -e "s|@PACKAGE@|${pkg%-dbgsym}|g" \
      -e "s|@BUILD_IDS@|$([ ! -f "debian/$pkg.ids" ] || tr '\n' ' ' < "debian/$pkg.ids" | sed 's/ $//')|g" \
      "$2" > "$root/DEBIAN/control"
  chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums" 2>/dev/null || true
  # Debug files are compressed already (objcopy): xz would spend half a minute for nothing.
  local z=-Zxz
  case $pkg in *-dbgsym) z="-Zgzip -z1" ;; esac
  # shellcheck disable=SC2086
  dpkg-deb --root-owner-group $z --build "$root" "$out/${pkg}_${version}_${arch}.deb" >/dev/null
  echo "$out/${pkg}_${version}_${arch}.deb"
}
assemble "$libpkg" "$meta/$libpkg.control" "$libdeps"
assemble libtidewall-dev "$meta/libtidewall-dev.control" ""
assemble tidewall-tools "$meta/tidewall-tools.control" "$toolsdeps"
assemble "$libpkg-dbgsym" "$meta/dbgsym.control" ""
assemble tidewall-tools-dbgsym "$meta/dbgsym.control" ""
