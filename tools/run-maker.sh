#!/usr/bin/env bash
# Builds the Windows programs and starts the maker, VexorinMake.exe: under Wine on Linux,
# directly when run from a Windows shell (MSYS2, Git Bash). Arguments are not used.
set -euo pipefail
cd "$(dirname "$0")/.."

case "$(uname -s)" in
  MINGW* | MSYS* | CYGWIN*) on_windows=1 ;;
  *) on_windows=0 ;;
esac

[ "$on_windows" = 1 ] || bash tools/install-deps.sh
cmake --preset windows
cmake --build --preset windows

maker=build/windows/maker/gui/VexorinMake.exe
if [ "$on_windows" = 1 ]; then
  exec "$maker"
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "No X display (DISPLAY is not set): the maker is a window program." >&2
  echo "Start it from a desktop session, or under Xvfb: xvfb-run -a $0" >&2
  exit 1
fi
# The Japanese locale gives Wine the ANSI code page 932 that the maker's texts are in.
export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
export WINEDEBUG="${WINEDEBUG:--all}"
# A new Wine prefix would otherwise offer to download Mono and Gecko, which the maker does not use.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$maker"
