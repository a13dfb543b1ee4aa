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
  g++-multilib libbenchmark-dev:i386 libssl-dev:i386
  time coreutils findutils xvfb xauth xdotool
  hashdeep openssl
)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -q || echo "apt-get update failed for some lists; installing from those it read"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
