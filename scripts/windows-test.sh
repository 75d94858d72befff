#!/usr/bin/env bash
# The Windows build's tests, under wine: the cross-built suite (build-windows,
# one ctest entry), then the Windows acserver.exe on the whole road of a
# player (connect, supervision kick, screenshot, ban, refused reconnect),
# driven by the Linux suite's end-to-end test against the Linux simulators of
# the game server, the registry and the client on loopback. Needs the Linux
# test build (make build) for the second part. Used by `make windows-test`.
set -euo pipefail
cd "$(dirname "$0")/.."

linux_dir=${1:-build}
win_dir=${2:-build-windows}

bash scripts/install-deps.sh --windows
start=$(date +%s)
bash scripts/windows-build.sh "$win_dir" --tests >/dev/null
echo "windows-test: Windows build ready in $(( $(date +%s) - start )) s"

# One wine prefix for every run, made once (its first start takes a while).
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/acserver/wine}
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
fi
# DLLs beside the programs (libpq) are found through WINEPATH wherever a test
# copies a program to.
export WINEPATH=$(winepath -w "$(cd "$win_dir" && pwd)" 2>/dev/null)

start=$(date +%s)
(cd "$win_dir" && ctest --output-on-failure)
echo "windows-test: the suite under wine took $(( $(date +%s) - start )) s"

start=$(date +%s)
ACSERVER_WINDOWS_EXE="$(cd "$win_dir" && pwd)/acserver.exe" \
  "$linux_dir/acserver_tests" --gtest_filter='PlayerRoadEndToEnd.*'
echo "windows-test: the player's road through acserver.exe took $(( $(date +%s) - start )) s"
wineserver -k 2>/dev/null || true
