#!/usr/bin/env bash
# Starts the built gamesim with scenario.txt on a free loopback port, runs
# check.js (npm "rcon") against it, and stops gamesim. Installs the npm package
# into the work directory when it is not there yet. Exits 77 (a skip for ctest)
# when node, npm or the npm registry cannot be had.
#
#   run.sh <gamesim binary> <work directory for node_modules>
set -u
skip=77
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIP: node or npm is not installed"
  exit $skip
fi
here=$(cd "$(dirname "$0")" && pwd)
gamesim=$1
work=${2:-$(mktemp -d)}
mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$here/check.js" "$work/"
if [ ! -d "$work/node_modules/rcon" ]; then
  if ! (cd "$work" && timeout 180 npm install --no-audit --no-fund >npm-install.log 2>&1); then
    echo "SKIP: npm install failed (no registry?):"
    tail -n 5 "$work/npm-install.log"
    exit $skip
  fi
fi

log=$(mktemp)
"$gamesim" "$here/scenario.txt" >"$log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -f "$log"' EXIT
# gamesim prints the port it bound first; wait for that line at most 10 s.
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^gamesim: answering on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log")
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "gamesim did not start:"
  cat "$log"
  exit 1
fi

node "$work/check.js" "$port" secret
status=$?
echo "--- gamesim printed:"
cat "$log"
exit $status
