#!/usr/bin/env bash
# The demo behind `make run`: the server in RUN_DIR beside simulated peers.
#
#   gamesim      a stock game server's remote console: no status add-on, no
#                chat add-on (DEMO_ADDONS=both make run gives it both), so the
#                players come from the engine's status list; one player without
#                a client and a bot are there from the start, three more join
#                once their clients have registered
#   registrysim  the central registry, answering
#   clientsim x3 Alice sends a screenshot, Bob keeps alive, Mallory reports a
#                cheat once a supervision run has seen her player, and tries to
#                come back a few seconds after her ban
#
# Every line is "HH:MM:SS <process> <text>"; acserver's own lines follow
# unchanged, the clients print only their events. Each process's lines also go
# to RUN_DIR/demo/<process>.log. Ctrl-C stops the clients, then the server,
# then the simulators, prints a summary (kicks, bans, screenshots) and ends
# with the server's exit status (0 after an orderly stop).
#
# The ports, the password and the client check value come from
# RUN_DIR/zelk_config.txt, which is never overwritten. When a port the demo
# needs is taken already, it says so and stops before anything starts: the
# remote console password must not go to a real game server (or anything else)
# listening there.
set -uo pipefail
build_dir=${1:-build}
run_dir=${2:-run}
here=$(cd "$(dirname "$0")/.." && pwd)
config="$run_dir/zelk_config.txt"

# Ctrl-C on a terminal goes to the whole foreground process group, make
# included, and make ends on it with status 130 whatever the demo does. So when
# the demo runs in the terminal's foreground, it starts itself again as a job of
# its own (bash job control: a process group of its own that takes the
# terminal); Ctrl-C then reaches only the demo, and make ends with the demo's
# status.
in_foreground() {
  local stat fields
  read -r stat < "/proc/$$/stat" || return 1
  read -r -a fields <<< "${stat##*) }"  # state ppid pgrp session tty tpgid ...
  [ "${fields[2]}" = "${fields[5]}" ]
}
if [ -z "${ACSERVER_DEMO_JOB:-}" ] && [ -t 0 ] && [ -t 2 ] && in_foreground; then
  set -m
  ACSERVER_DEMO_JOB=1 bash "$0" "$@"
  exit $?
fi
# Each program in a process group of its own, so that a Ctrl-C reaches this
# script alone, which stops the programs in order.
set -m

# The lines of standard input as "HH:MM:SS name text", on standard output and
# appended to $log; a leading $strip (the program's own name tag) is dropped.
stamp() {
  trap '' INT TERM  # drains the program's last lines while it stops
  local name=$1 strip=$2 log=$3 line out
  exec {out}>>"$log"
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    [ -n "$strip" ] && line=${line#"$strip"}
    printf '%(%H:%M:%S)T %-14s %s\n' -1 "$name" "$line"
    printf '%(%H:%M:%S)T %-14s %s\n' -1 "$name" "$line" >&$out
  done
}
say() { printf '%s\n' "$@" | stamp demo "" "$demo/demo.log"; }

# The value of a "key" "value" line of the configuration (the last one wins).
setting() { sed -n "s/^\"$1\"[^\"]*\"\([^\"]*\)\".*/\1/p" "$config" | tail -n 1; }

rcon_port=$(setting rconport); rcon_port=${rcon_port:-0}
rcon_pass=$(setting rconpass)
check=$(setting cl_id)
registry=$(setting registry_host)
registry_port=${registry##*:}
[ "$registry_port" = "$registry" ] && registry_port=27015
# Without registry_host the server announces nothing: no registry simulator.
[ -z "$registry" ] && registry_port=
channel_port=$((rcon_port + 1000))

demo="$run_dir/demo"
mkdir -p "$demo"

# True when something listens on the port: udp|tcp PORT.
listening() { [ -n "$(ss -H -ln "--$1" "sport = :$2" 2>/dev/null)" ]; }
if command -v ss >/dev/null 2>&1; then
  for what in "udp $rcon_port the game server's" ${registry_port:+"udp $registry_port the registry's"} \
              "udp $channel_port acserver's" "tcp $channel_port acserver's"; do
    read -r proto port whose <<< "$what"
    if listening "$proto" "$port"; then
      say "${proto^^} port $port ($whose) is in use already: something on this machine listens there." \
          "The demo stops here, before sending anything (the remote console password included) to it." \
          "Stop that program, or give the demo other ports in $config (\"rconport\", \"registry_host\")."
      exit 1
    fi
  done
else
  say "ss (package iproute2) is missing: only the simulators' own start checks their ports."
fi

for tool in gamesim registrysim clientsim; do cp -f "$build_dir/$tool" "$demo/$tool"; done
cp -f "$here/tests/data/screen.jpg" "$demo/screen.jpg"
cat > "$demo/scenario.txt" <<SCENARIO
; written by scripts/demo.sh at every start
port $rcon_port
password "$rcon_pass"
hostname "acserver demo"
mark "de_dust2"
addons ${DEMO_ADDONS:-none}
player "Stranger" "127.0.0.1:27099"
bot "Bot Jo"
join 12 "Alice" "127.0.0.1:27005"
join 12 "Bob" "127.0.0.1:27006"
join 12 "Mallory" "127.0.0.1:27007"
SCENARIO

clients=()     # process ids, stopped first
server=""      # acserver, stopped next
simulators=()  # stopped last
stamps=()      # the stamp readers, which end with their program's output

# Starts a program with its output stamped: launch NAME STRIP COMMAND...; the
# process id is left in $started.
launch() {
  local name=$1 strip=$2 out
  shift 2
  exec {out}> >(stamp "$name" "$strip" "$demo/${name// /-}.log")
  stamps+=("$!")
  "$@" >&$out 2>&1 &
  started=$!
  exec {out}>&-
}

# Sends SIGINT to the processes and waits up to LIMIT seconds for them to end;
# whatever is left then is killed. end_processes LIMIT PID...
end_processes() {
  local limit=$1 tenths=0
  shift
  [ $# -gt 0 ] || return 0
  kill -INT "$@" 2>/dev/null
  while kill -0 "$@" 2>/dev/null && [ $tenths -lt $((limit * 10)) ]; do
    sleep 0.1
    tenths=$((tenths + 1))
  done
  kill -KILL "$@" 2>/dev/null && say "killed what did not stop within $limit s"
  return 0
}

summary() {
  local kicks bans screens line left id
  say "---- what happened ----"
  mapfile -t kicks < <(sed -n 's/^[0-9:]* gamesim *\(gamesim: \)\{0,1\}\(kick .*\)/\2/p' "$demo/gamesim.log" 2>/dev/null)
  say "kicks seen at the game server simulator: ${#kicks[@]}"
  for line in "${kicks[@]}"; do
    [ ${#line} -gt 100 ] && line="${line:0:97}..."
    say "  $line"
  done
  mapfile -t bans < <(sed -n 's/^"\([^"]*\)" "\([^"]*\)".*/\1 \2/p' "$run_dir/zelk_bans.txt" 2>/dev/null | tr -d '\r')
  say "bans in $run_dir/zelk_bans.txt: ${#bans[@]}"
  for line in "${bans[@]}"; do
    read -r left id <<< "$line"
    if [ "$left" = p ]; then say "  $id for ever"; else say "  $id for $left more minutes"; fi
  done
  mapfile -t screens < <(find "$run_dir/zelk_screens" -type f -name '*.jpg' 2>/dev/null | sort)
  say "screenshots under $run_dir/zelk_screens/: ${#screens[@]}"
  for line in "${screens[@]}"; do say "  $line ($(wc -c < "$line") bytes)"; done
  say "logs: $run_dir/logs/; every process's lines: $demo/*.log"
}

# Stops everything in order, prints the summary and exits: with the server's
# status when the demo was interrupted, else with 1 (the server ended by itself,
# or something failed before it started).
finish() {
  trap '' INT TERM
  local why=$1 status=1
  [ "$why" = interrupted ] && say "stopping: the clients, then acserver, then the simulators"
  end_processes 20 "${clients[@]}"
  if [ -n "$server" ]; then
    end_processes 10 "$server"
    wait "$server"
    status=$?
  fi
  end_processes 5 "${simulators[@]}"
  wait "${stamps[@]}" 2>/dev/null
  if [ -n "$server" ]; then
    summary
    if [ "$why" = interrupted ]; then
      say "acserver stopped with status $status"
    else
      say "acserver ended by itself with status $status"
      [ $status -eq 0 ] && status=1
    fi
  fi
  exit $status
}
trap 'finish interrupted' INT TERM

grace=$(setting startup_grace); grace=${grace:-60}
say "All on loopback: a game server simulator on UDP $rcon_port with one player, \"Stranger\", who has" \
    "no anti-cheat client (kicked once the startup grace of $grace s is over);" \
    "${registry_port:+a registry simulator on UDP $registry_port; }acserver on TCP and UDP $channel_port." \
    "In 5 s three clients connect: Alice sends a screenshot, Bob keeps alive, Mallory reports a" \
    "wallhack after 45 s, is banned, and tries to come back. Ctrl-C stops everything and sums up."
web=$(setting web_listen)
if [ -n "$web" ]; then
  say "The web console: open http://$web/ in a browser (players, clients, bans, screenshots, logs)."
else
  say "The web console is off: add \"web_listen\" \"127.0.0.1:28080\" to $config to see it."
fi

launch gamesim "gamesim: " "$demo/gamesim" "$demo/scenario.txt"; simulators+=("$started")
if [ -n "$registry_port" ]; then
  launch registrysim "registrysim: " "$demo/registrysim" "$registry_port"; simulators+=("$started")
fi
sleep 0.5
for pid in "${simulators[@]}"; do
  if ! kill -0 "$pid" 2>/dev/null; then
    say "a simulator could not start (its line above says why); the demo stops here"
    finish failed
  fi
done

launch acserver "" env -C "$run_dir" ./acserver; server=$started

client() {
  local name=$1
  shift
  launch "client $name" "" "$demo/clientsim" --events --port "$channel_port" --check "$check" \
    --start-delay-ms 5000 --interval-ms 5000 --name "$name" "$@"
  clients+=("$started")
}
client Alice --id ALICE-0001 --updates -1 --screen "$demo/screen.jpg"
client Bob --id BOB-0002 --updates -1
client Mallory --id MALLORY-0003 --updates 9 --cheat wallhack --reconnect-after-ms 5000

wait "$server"
finish ended
