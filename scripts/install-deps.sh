#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, fuzz and benchmark.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  clang-format clang-tidy  # scripts/format.sh (checked in CI) and scripts/tidy.sh
  libboost-dev libblkid-dev libpugixml-dev
  libcli11-dev  # twctl's argument parser: one table for --help, usage errors and completion
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev  # the JSON benchmark compares against it; nothing else uses it
  rapidjson-dev  # the JSON benchmark's upper reference; nothing else uses it
  xfsprogs lvm2 attr util-linux fdisk sysstat faketime
  fio  # the block-device I/O benchmark compares against it
  procps psmisc rpm dpkg-dev binutils
  lintian  # the Debian packages must pass it without errors or warnings (scripts/check-package.sh)
  abigail-tools xz-utils  # abidiff compares the library's ABI with the last release's (packaging/abi/)
  rpmlint  # checks the RPM
  init-system-helpers  # deb-systemd-helper, run by the tools package's maintainer scripts
  python3 python-is-python3  # the network script runs as "python"; tests stand one in for it
  python3-fusepy fuse3  # the integration tier's failing disk (tests/integration/lib/faulty_disk.py)
  python3-jsonschema  # twctl's JSON documents are checked against their schemas (docs/schemas)
  strace  # the integration tier traces which files the library creates
  dmidecode ipmitool smartmontools ethtool pciutils
  glusterfs-server glusterfs-client
  prometheus prometheus-node-exporter  # promtool checks the metrics output; node_exporter scrapes it in a test
  openssh-server openssh-client sshpass  # the cluster tier's nodes reach each other over ssh
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
