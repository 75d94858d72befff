#!/usr/bin/env bash
# Prepares the run directory for a fresh demo: what the previous run left there
# (logs/, zelk_bans.txt, zelk_screens/, the demo's own files) moves to
# RUN_DIR/previous/, replacing the run kept there before; then come the freshly
# built program and, only when none is there yet, a sample zelk_config.txt.
# The admin's zelk_config.txt and allow_connections.txt stay where they are.
set -euo pipefail
build_dir=${1:-build}
run_dir=${2:-run}
here=$(cd "$(dirname "$0")/.." && pwd)

say() { printf '%(%H:%M:%S)T %-14s %s\n' -1 prepare-run "$1"; }

mkdir -p "$run_dir"
shopt -s nullglob dotglob
left=()
for entry in "$run_dir"/*; do
  case ${entry##*/} in
    zelk_config.txt | allow_connections.txt | acserver | previous) ;;
    *) left+=("$entry") ;;
  esac
done
if [ ${#left[@]} -gt 0 ]; then
  rm -rf "$run_dir/previous"
  mkdir "$run_dir/previous"
  mv "${left[@]}" "$run_dir/previous/"
  say "moved the previous run's logs, bans and screenshots to $run_dir/previous/"
fi

cp -f "$build_dir/acserver" "$run_dir/acserver"
if [ ! -e "$run_dir/zelk_config.txt" ]; then
  # The example with the demo's own password (the example's placeholder stops
  # a server), its registry simulator, and the web console (on loopback it
  # needs no password).
  sed 's/^"rconpass" "CHANGE-ME"/"rconpass" "demo-rcon-pass"/' "$here/packaging/zelk_config.example.txt" \
    > "$run_dir/zelk_config.txt"
  printf '"registry_host" "127.0.0.1:27950"\r\n"web_listen" "127.0.0.1:28080"\r\n' >> "$run_dir/zelk_config.txt"
  chmod 600 "$run_dir/zelk_config.txt"
  say "wrote a sample $run_dir/zelk_config.txt"
fi
