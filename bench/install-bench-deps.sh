#!/usr/bin/env bash
# Installs what the benchmarks need on top of tools/install-deps.sh, on a Debian 12 machine:
# Google Benchmark and OpenSSL's libcrypto (the MD5 we compare against) for x86-64 and for
# i686, the 32-bit compiler, and the tools that the end-to-end script times and watches
# with (md5deep from hashdeep and openssl's md5 are its multi-threaded and one-file yardsticks). The programs never link OpenSSL; only the benchmark does. Safe to run again.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

pkgs=(
  libbenchmark-dev libssl-dev
  time coreutils findutils xvfb xauth xdotool
  hashdeep openssl
)
# The i686 benchmark's own needs, installed apart: on a mirror whose i386 and amd64 lists are
# at different versions of a library they cannot be installed, and that must not keep the
# rest from being installed (the i686 benchmark is then not built, and says so).
pkgs_i386=(g++-multilib libbenchmark-dev:i386 libssl-dev:i386)

missing() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

mapfile -t want < <(missing "${pkgs[@]}")
mapfile -t want_i386 < <(missing "${pkgs_i386[@]}")
if [ ${#want[@]} -gt 0 ] || [ ${#want_i386[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -q || echo "apt-get update failed for some lists; installing from those it read"
fi
if [ ${#want[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${want[@]}"
fi
if [ ${#want_i386[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${want_i386[@]}" ||
    echo "install-bench-deps: the i686 benchmark's packages could not be installed: no i686 MD5 benchmark"
fi
