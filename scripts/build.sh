#!/usr/bin/env bash
# build.sh PRESET... : configure (once) and build each preset into build/PRESET.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in "$@"; do
  echo "== build $preset"
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >"build-$preset.configure.log" 2>&1 || {
      cat "build-$preset.configure.log" >&2; rm -f "build-$preset.configure.log"; exit 1; }
    rm -f "build-$preset.configure.log"
  fi
  cmake --build --preset "$preset" -- -j"$(nproc)" | grep -v -E '^\[[0-9]+/[0-9]+\] ' || true
  test "${PIPESTATUS[0]}" -eq 0
done
