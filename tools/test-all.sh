#!/usr/bin/env bash
# Installs what is missing, builds the Windows programs and the native code, and runs every
# test: the native unit tests and the tests of the real programs (natively and under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

cmake --preset windows -DVEXORIN_WERROR=$werror
cmake --build --preset windows
cmake --preset linux -DVEXORIN_WERROR=$werror
cmake --build --preset linux
ctest --preset linux "$@"
