#!/usr/bin/env bash
# Fuzzing: builds the targets under fuzz/ with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/ (a build of
# its own: the program's build never needs clang), then runs each target for
# FUZZ_SECONDS (default 30) from its committed seed corpus. Any finding (a
# crash, a sanitizer report, a leak, an input that takes over 10 s, more than
# 2 GB of memory) fails the run; the input that caused it is kept in
# build-fuzz/findings/ and can be replayed with build-fuzz/<target>_fuzz <file>.
# New corpus entries go to a scratch directory, never into fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)"

# The data directory of the targets (logs, ban base, screenshots) on tmpfs when
# there is one: the targets write files at every input.
scratch="$(mktemp -d /dev/shm/acserver-fuzz.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
findings="build-fuzz/findings"
mkdir -p "$findings"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=()
for binary in build-fuzz/*_fuzz; do
  name="$(basename "$binary" _fuzz)"
  mkdir -p "$scratch/$name/corpus" "$scratch/$name/home"
  seeds="fuzz/corpus/$name"
  mkdir -p "$seeds"
  # Standard output carries the program's console lines: closed (-close_fd_mask=1).
  if ACSERVER_HOME="$scratch/$name/home" "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$findings/$name-" \
       "$scratch/$name/corpus" "$seeds" 2>"$scratch/$name.log"; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$name.log")"
    echo "fuzz: $name: ${runs:-?} inputs in ${seconds} s, no finding"
  else
    echo "fuzz: $name: FINDING (input in $findings/)" >&2
    tail -n 60 "$scratch/$name.log" >&2
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
