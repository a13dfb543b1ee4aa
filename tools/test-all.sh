#!/usr/bin/env bash
# Installs what is missing, builds the Windows programs and the native code, and runs every
# test: the native unit tests and the tests of the real programs (natively and under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

# Which Windows build Wine can run here, found once by running 32-bit code: the shipped i686
# build, or, on a machine that runs no 32-bit code (or with VX_TEST_WINE_X64=1), the x86-64
# build of the same sources under the 64-bit Wine.
IFS=$'\t' read -r wine_arch wine_why < <(python3 tests/support/wine_arch.py)
wine_says="Wine tests: the $wine_arch build ($wine_why)"
echo "$wine_says"
wine_args=(-DVEXORIN_WINE_ARCH="$wine_arch" -DVEXORIN_WINE_WHY="$wine_why")

# Both Windows builds, every time: the i686 one is what ships (and what the native tools
# embed), the x86-64 one must build without a warning too.
for preset in windows windows-x64; do
  cmake --preset $preset -DVEXORIN_WERROR=$werror
  cmake --build --preset $preset
done
cmake --preset linux -DVEXORIN_WERROR=$werror "${wine_args[@]}"
cmake --build --preset linux
ctest --preset linux "$@"

# The native code and its tests again, built by clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (build/linux-asan), with the fuzz targets. The Wine tests are left
# out there: what they run are the Windows programs, which the sanitizers do not see.
cmake --preset linux-asan -DVEXORIN_WERROR=$werror "${wine_args[@]}"
cmake --build --preset linux-asan
ctest --preset linux-asan "$@"

# The tests of the thread code (the concurrent digest and the build job fed by it), built by
# clang under ThreadSanitizer (build/linux-tsan): only the unit tests, and only those.
cmake --preset linux-tsan -DVEXORIN_WERROR=$werror
cmake --build --preset linux-tsan
ctest --preset linux-tsan "$@"

# The unit tests once under valgrind's memcheck; any error or leak fails the run. The file
# above 4 GiB is left out there: digesting it under valgrind would take many minutes. So is
# the cancel of four 4 GiB reads: valgrind runs one thread at a time and lets the busy jobs
# starve the thread that cancels (it runs natively and under the ASan and TSan presets).
valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  -q build/linux/tests/vx_unit_tests --gtest_brief=1 --gtest_filter='-HugeFiles.*:ConcurrentDigest.CancellingStopsEveryJobAndClosesEveryFile'

# A minute of fuzzing per target, from the committed seeds. New inputs go to a scratch folder;
# an input that fails is kept in build/linux-asan/fuzz/ to become a unit test.
for target in check_data settings zip; do
  scratch=$(mktemp -d)
  log=build/linux-asan/fuzz/$target.log
  if ! build/linux-asan/fuzz/vx_fuzz_$target -max_total_time=60 -timeout=10 -print_final_stats=1 \
      -artifact_prefix=build/linux-asan/fuzz/$target- "$scratch" fuzz/corpus/$target >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzzing $target found a failing input (see above and $log)"
    exit 1
  fi
  rm -rf "$scratch"
  echo "fuzzing $target: $(grep -E '^Done' "$log")"
done

echo "$wine_says"
