#!/usr/bin/env bash
# Makes the release of the checked-out commit in dist/:
#   Vexorin-<version>-windows-x86.zip     the i686 programs, readme.txt (Shift-JIS), LICENSE.txt
#   Vexorin-<version>-linux-<arch>.tar.gz  vexorin-build and vexorin-check, statically linked,
#                                         their manual pages, README and LICENSE
#   vexorin_<version>_<arch>.deb          the same tools and pages and the web page as a Debian
#                                         package (tools/release/deb.py), checked by lintian
#                                         where it is installed
#   vexorin-check.html                    the page that checks a folder in the browser (also in
#                                         the zip), for distributors to host beside their download
#   SHA256SUMS                            the digests of the four
# The same commit gives the same bytes in any checkout: the builds carry no time or path, and
# the archives take their entry times from the commit. A tree with uncommitted changes is
# named <version>-dirty, never the release. Nothing reaches dist/ unless every step succeeded.
# VEXORIN_JOBS sets the build's parallel jobs (2); VEXORIN_SOURCE_URL, where the source is
# published, goes into readme.txt beside the commit and into the package's Homepage;
# VEXORIN_MAINTAINER ("Name <address>") is the package's maintainer.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
export LC_ALL=C

say() { echo "make-release: $*" >&2; }

version=$(sed -n 's/^project(Vexorin VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { say "no project version in CMakeLists.txt"; exit 1; }
commit=$(git rev-parse HEAD)
epoch=$(git log -1 --format=%ct HEAD)
suffix=""
deb_suffix=""
source_text="${VEXORIN_SOURCE_URL:+$VEXORIN_SOURCE_URL, }commit $commit"
if [ -n "$(git status --porcelain)" ]; then
  git status --short >&2
  say "the tree has uncommitted changes (above): this is not the release of $version;"
  say "it is built and named $version-dirty"
  suffix=-dirty
  deb_suffix=+dirty  # a hyphen would make it a Debian revision
  source_text="$source_text, with uncommitted changes"
fi
full=$version$suffix
jobs=${VEXORIN_JOBS:-2}

# Both builds of their own, with only the programs that the release holds.
win=build/release/windows
lin=build/release/linux
cmake -S . -B $win -G Ninja --toolchain "$top/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVEXORIN_VERSION_SUFFIX="$suffix" >/dev/null
cmake --build $win --parallel "$jobs" --target $(cut -f1 $win/release-files.txt)
# The Linux tools are static-pie: static, so that they run on any Linux, and position-
# independent, as Debian builds its programs (lintian refuses a static one that is not).
cmake -S . -B $lin -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXORIN_VERSION_SUFFIX="$suffix" \
  -DVEXORIN_WINDOWS_BUILD_DIR="$top/$win" -DCMAKE_EXE_LINKER_FLAGS="-static-pie -s" \
  -DVEXORIN_TESTS=OFF >/dev/null
cmake --build $lin --parallel "$jobs" --target $(cut -f1 $lin/release-files.txt) vexorin-check-page
page=$lin/web/vexorin-check.html
[ -f "$page" ] || { say "$page was not built: it needs clang's WebAssembly target (tools/install-deps.sh)"; exit 1; }

# NAME=FILE arguments of the packer for the programs of one build.
programs() {
  while IFS=$'\t' read -r _ file; do
    printf '%s=%s\n' "$(basename "$file")" "$file"
  done <"$1/release-files.txt"
}
shown=$($lin/cli/vexorin-build --version)
[ "$shown" = "vexorin-build $full" ] || { say "vexorin-build shows \"$shown\", not $full"; exit 1; }

mkdir -p dist
rm -rf dist/.release.*  # what a killed run may have left
stage=$(mktemp -d dist/.release.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/files"
python3 tools/release/readme_txt.py docs/readme-ja.md "$stage/files/readme.txt" --version "$full" \
  --source-text "$source_text"
sed 's/$/\r/' LICENSE >"$stage/files/LICENSE.txt"
# The manual pages with the version and the commit's date.
day=$(date -u -d "@$epoch" +%Y-%m-%d)
for man_page in vexorin-build.1 vexorin-check.1; do
  sed -e "s/@VERSION@/$full/g" -e "s/@DATE@/$day/g" "docs/man/$man_page" >"$stage/files/$man_page"
done

zip=Vexorin-$full-windows-x86.zip
tarball=Vexorin-$full-linux-$(uname -m).tar.gz
mapfile -t win_programs < <(programs $win)
mapfile -t lin_programs < <(programs $lin)
python3 tools/release/pack.py zip "$stage/$zip" "Vexorin-$full" "$epoch" "${win_programs[@]}" \
  "vexorin-check.html=$page" "readme.txt=$stage/files/readme.txt" "LICENSE.txt=$stage/files/LICENSE.txt"
python3 tools/release/pack.py tar "$stage/$tarball" "Vexorin-$full" "$epoch" "${lin_programs[@]}" \
  "vexorin-build.1=$stage/files/vexorin-build.1" "vexorin-check.1=$stage/files/vexorin-check.1" \
  "README=tools/release/linux-readme.txt" "LICENSE=LICENSE"
arch=$(dpkg --print-architecture)
deb=vexorin_$version${deb_suffix}_$arch.deb
mapfile -t lin_program_files < <(cut -f2 $lin/release-files.txt)
python3 tools/release/deb.py "$stage/$deb" --version "$version$deb_suffix" --epoch "$epoch" --commit "$commit" \
  --arch "$arch" --program "${lin_program_files[@]}" --man "$stage/files/vexorin-build.1" \
  "$stage/files/vexorin-check.1" --page "$page" --license LICENSE \
  ${VEXORIN_MAINTAINER:+--maintainer "$VEXORIN_MAINTAINER"} ${VEXORIN_SOURCE_URL:+--source-url "$VEXORIN_SOURCE_URL"}
if command -v lintian >/dev/null; then
  lintian --fail-on error "$stage/$deb" >&2 || { say "lintian finds errors in $deb (above)"; exit 1; }
else
  say "lintian is not installed (tools/install-deps.sh installs it): $deb was not checked"
fi
cp "$page" "$stage/vexorin-check.html"
(cd "$stage" && sha256sum "$zip" "$tarball" "$deb" vexorin-check.html >SHA256SUMS)

# Into dist/ only now, the digests last; archives of earlier runs go, so that SHA256SUMS
# names everything dist/ holds.
mv -f "$stage/$zip" "$stage/$tarball" "$stage/$deb" "$stage/vexorin-check.html" dist/
mv -f "$stage/SHA256SUMS" dist/
for old in dist/Vexorin-*.zip dist/Vexorin-*.tar.gz dist/vexorin_*.deb; do
  if [ -e "$old" ] && [ "$old" != "dist/$zip" ] && [ "$old" != "dist/$tarball" ] && [ "$old" != "dist/$deb" ]; then
    rm -f "$old"
  fi
done
say "dist/$zip, dist/$tarball, dist/$deb, dist/vexorin-check.html and dist/SHA256SUMS for $full (commit $commit)"
cat dist/SHA256SUMS
