#!/usr/bin/env bash
# Builds the Windows programs and starts the maker, VexorinMake.exe: under Wine on Linux,
# directly when run from a Windows shell (MSYS2, Git Bash). Arguments are not used.
set -euo pipefail
cd "$(dirname "$0")/.."

case "$(uname -s)" in
  MINGW* | MSYS* | CYGWIN*) on_windows=1 ;;
  *) on_windows=0 ;;
esac

preset=windows
if [ "$on_windows" = 0 ]; then
  bash tools/install-deps.sh
  # The shipped maker is the i686 build; where this machine runs no 32-bit code, Wine can
  # only run the x86-64 build of the same sources (tests/support/wine_arch.py finds out).
  IFS=$'\t' read -r wine_arch wine_why < <(python3 tests/support/wine_arch.py)
  [ "$wine_arch" = x86-64 ] && preset=windows-x64
  echo "Wine runs the $wine_arch build of the maker ($wine_why)." >&2
fi
cmake --preset $preset
cmake --build --preset $preset

maker=build/$preset/maker/gui/VexorinMake.exe
if [ "$on_windows" = 1 ]; then
  exec "$maker"
fi

if [ -z "${DISPLAY:-}" ]; then
  # No screen to show a window on: on a virtual one, the maker builds a checker for a sample
  # folder, the checker checks it, and pictures of both are saved under build/.
  echo "No X display (DISPLAY is not set): the maker runs on a virtual screen." >&2
  export VX_WINE_ARCH=$wine_arch VX_WINE_WHY=$wine_why
  exec python3 tools/maker_preview.py --windows-build "build/$preset"
fi
# The Japanese locale gives Wine the ANSI code page 932 that the maker's texts are in.
export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
export WINEDEBUG="${WINEDEBUG:--all}"
# A new Wine prefix would otherwise offer to download Mono and Gecko, which the maker does not use.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "$wine_arch" = x86-64 ]; then
  # Debian's wine script would take the 32-bit loader; a 64-bit prefix of its own.
  export WINELOADER=/usr/lib/wine/wine64 WINEPREFIX="${WINEPREFIX:-$HOME/.wine-win64}"
  wine=$WINELOADER
else
  wine=wine
fi
# Wine has no "ＭＳ Ｐゴシック"; the proportional IPA Gothic stands in for it much better than
# Wine's own monospaced choice.
for face in "ＭＳ Ｐゴシック" "MS PGothic"; do
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAPGothic /f >/dev/null 2>&1 || true
done
# Wine draws the caption buttons with Marlett, which Debian's Wine 8 does not load from where
# fonts-wine puts it (tests/support/harness.py tells why): it loads the prefix's own Fonts folder.
fonts="${WINEPREFIX:-$HOME/.wine}/drive_c/windows/Fonts"
if [ -d "$fonts" ] && [ ! -e "$fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi
exec "$wine" "$maker"
