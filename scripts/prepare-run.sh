#!/usr/bin/env bash
# Prepares the run directory: the freshly built program and, only when none is
# there yet, a sample zelk_config.txt. An existing configuration is never touched.
set -euo pipefail
build_dir=${1:-build}
run_dir=${2:-run}
here=$(cd "$(dirname "$0")/.." && pwd)

mkdir -p "$run_dir"
cp -f "$build_dir/acserver" "$run_dir/acserver"
if [ ! -e "$run_dir/zelk_config.txt" ]; then
  cp "$here/packaging/zelk_config.example.txt" "$run_dir/zelk_config.txt"
  echo "prepare-run: wrote a sample $run_dir/zelk_config.txt"
fi
