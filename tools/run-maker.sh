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
  # No screen to show a window on: run it on a virtual one and save a picture of it.
  echo "No X display (DISPLAY is not set): starting the maker on a virtual screen." >&2
  cmake --build --preset windows --target vxdriver
  exec python3 tools/maker_preview.py --maker "$maker"
fi
# The Japanese locale gives Wine the ANSI code page 932 that the maker's texts are in.
export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
export WINEDEBUG="${WINEDEBUG:--all}"
# A new Wine prefix would otherwise offer to download Mono and Gecko, which the maker does not use.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine has no "ＭＳ Ｐゴシック"; the proportional IPA Gothic stands in for it much better than
# Wine's own monospaced choice.
for face in "ＭＳ Ｐゴシック" "MS PGothic"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAPGothic /f >/dev/null 2>&1 || true
done
exec wine "$maker"
