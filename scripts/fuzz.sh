#!/usr/bin/env bash
# fuzz.sh [SECONDS]: runs every libFuzzer target of the fuzz build for SECONDS
# (default 20) from its committed seed corpus, two at a time. Fails on any crash.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
dir=build/fuzz/tests/fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_one() {
  local t="$1"
  mkdir -p "$work/$t"
  cp -r "tests/fuzz/corpus/$t/." "$work/$t/" 2>/dev/null || true
  if "$dir/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$work/$t-" "$work/$t" >"$work/$t.log" 2>&1; then
    echo "fuzz ok   $t: $(grep -o 'Done [0-9]* runs.*' "$work/$t.log" | tail -n1)"
  else
    echo "fuzz FAIL $t"; tail -n 40 "$work/$t.log"; return 1
  fi
}

targets=$(ls tests/fuzz/*.cpp | xargs -n1 basename | sed 's/\.cpp$//')
status=0; pids=(); names=()
for t in $targets; do
  run_one "$t" & pids+=($!); names+=("$t")
  if ((${#pids[@]} == 2)); then
    for p in "${pids[@]}"; do wait "$p" || status=1; done; pids=()
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
