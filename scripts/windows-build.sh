#!/usr/bin/env bash
# Cross-builds acserver for 64-bit Windows into a build directory (default
# build-windows): the Windows libraries first (scripts/windows-deps.sh, built
# once from Debian's source packages and cached), then the three programs and,
# with --tests, the suite that runs under wine. Used by `make windows`,
# `make windows-zip` and `make windows-test`.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-windows}
tests=OFF
[ "${2:-}" = "--tests" ] && tests=ON

deps=$(bash scripts/windows-deps.sh | tail -n 1)
[ -d "$deps/lib" ] || { echo "windows-build: no Windows libraries at '$deps'" >&2; exit 1; }

cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DACSERVER_WINDOWS_DEPS="$deps" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DACSERVER_TESTS=$tests -DACSERVER_BENCH=OFF >/dev/null
targets=(acserver acserver-unban acserver-bans)
[ "$tests" = ON ] && targets+=(acserver_tests)
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
# The DLLs the programs load (only libpq, of the shared PostgreSQL base; the
# other libraries are linked in) go beside them.
cp -f "$deps"/bin/*.dll "$dir"/ 2>/dev/null || true
echo "$dir"
