#!/usr/bin/env bash
# The demo behind `make run`: the server in RUN_DIR beside simulated peers.
#
#   gamesim      a game server's remote console with the status add-on; one
#                player without a client is there from the start, three more
#                join once their clients have registered
#   registrysim  the central registry, answering
#   clientsim x3 Alice sends a screenshot, Bob keeps alive, Mallory reports a
#                cheat once a supervision run has seen her player
#
# Within about a minute the console shows the registration, a supervision run
# kicking the player without a client, clients connecting and keeping alive, a
# screenshot saved under zelk_screens/, and a ban (kick and chat at the
# simulator, the record in zelk_bans.txt). Ctrl-C stops everything.
#
# The ports, the password and the client check value come from
# RUN_DIR/zelk_config.txt, which is never overwritten.
set -uo pipefail
build_dir=${1:-build}
run_dir=${2:-run}
here=$(cd "$(dirname "$0")/.." && pwd)
config="$run_dir/zelk_config.txt"

# The value of a "key" "value" line of the configuration (the last one wins).
setting() { sed -n "s/^\"$1\"[^\"]*\"\([^\"]*\)\".*/\1/p" "$config" | tail -n 1; }

rcon_port=$(setting rconport); rcon_port=${rcon_port:-0}
rcon_pass=$(setting rconpass)
check=$(setting cl_id)
registry=$(setting registry_host)
registry_port=${registry##*:}
[ "$registry_port" = "$registry" ] && registry_port=27015
channel_port=$((rcon_port + 1000))

demo="$run_dir/demo"
mkdir -p "$demo"
for tool in gamesim registrysim clientsim; do cp -f "$build_dir/$tool" "$demo/$tool"; done
cp -f "$here/tests/data/screen.jpg" "$demo/screen.jpg"
cat > "$demo/scenario.txt" <<SCENARIO
; written by scripts/demo.sh at every start
port $rcon_port
password "$rcon_pass"
hostname "acserver demo"
mark "de_dust2"
player "Stranger" "127.0.0.1:27099"
join 12 "Alice" "127.0.0.1:27005"
join 12 "Bob" "127.0.0.1:27006"
join 12 "Mallory" "127.0.0.1:27007"
SCENARIO

pids=()
stop() {
  trap - INT TERM EXIT
  [ ${#pids[@]} -gt 0 ] && kill -INT "${pids[@]}" 2>/dev/null
  wait
}
trap stop INT TERM EXIT

echo "demo: game server simulator on UDP $rcon_port, registry simulator on UDP $registry_port,"
echo "demo: acserver on TCP and UDP $channel_port; Ctrl-C stops everything"
"$demo/gamesim" "$demo/scenario.txt" & pids+=($!)
"$demo/registrysim" "$registry_port" & pids+=($!)
sleep 0.3
(cd "$run_dir" && exec ./acserver) & pids+=($!)

client() { "$demo/clientsim" --port "$channel_port" --check "$check" --start-delay-ms 5000 "$@" & pids+=($!); }
client --name Alice --id ALICE-0001 --updates -1 --interval-ms 5000 --screen "$demo/screen.jpg"
client --name Bob --id BOB-0002 --updates -1 --interval-ms 5000
client --name Mallory --id MALLORY-0003 --updates 9 --interval-ms 5000 --cheat wallhack

wait "${pids[2]}"
