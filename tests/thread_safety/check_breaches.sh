#!/usr/bin/env bash
# Compiles tests/thread_safety/breaches.cpp once per breach with clang's thread
# safety analysis as errors: BREACH=0 must compile clean, and every other
# number must fail with the error its "#elif BREACH == n  // expects: ..." line
# names. Usage: check_breaches.sh [clang++]. Exit 0 when every breach is
# refused for its reason.
set -uo pipefail
cd "$(dirname "$0")/../.."
compiler=${1:-clang++}
source=tests/thread_safety/breaches.cpp
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Wthread-safety -Werror -Isrc)

failed=0
if ! output=$("$compiler" "${flags[@]}" -DBREACH=0 "$source" 2>&1); then
  echo "breach 0 (done right) does not compile:"
  echo "$output"
  failed=1
fi
while read -r n expected; do
  if output=$("$compiler" "${flags[@]}" -DBREACH="$n" "$source" 2>&1); then
    echo "breach $n compiled clean: the analysis does not see it"
    failed=1
  elif ! grep -qF -- "$expected" <<<"$output"; then
    echo "breach $n failed, but not with \"$expected\":"
    echo "$output"
    failed=1
  else
    echo "breach $n refused: $expected"
  fi
done < <(sed -n 's|^#elif BREACH == \([0-9]*\)  // expects: \(.*\)$|\1 \2|p' "$source")
exit "$failed"
