#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what is missing, builds
# the native, win64, win32 and fuzz presets, runs the native tests (ASan+UBSan),
# the win64 tests under wine64, the win32 tests under 32-bit wine on qemu-i386
# (scripts/x86/), and each fuzz target for a bounded time. Prints one count line
# per build and a total; the win32 line counts GoogleTest cases.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/wine-desktop.sh

bash scripts/bootstrap.sh || exit 1
# The win32 runner's i386 tree (cached; minutes from scratch, mostly download
# and unpacking) is made while the builds run.
mkdir -p .cache
bash scripts/x86/setup.sh >.cache/x86-setup.log 2>&1 &
x86_setup_pid=$!
bash scripts/build.sh native win64 win32 fuzz || exit 1

declare -A passed failed skipped
status=0
xvfb_pid=""
prefix="$root/build/win64/wineprefix"
prefix32="$root/build/win32/wineprefix"

cleanup() {
  release_wine_desktop
  if [ -d "$prefix" ]; then WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
  if [ -d "$prefix32" ]; then bash scripts/x86/wine-run.sh --prefix "$prefix32" --kill || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

run_ctest() {
  local build="$1"; shift
  local log="build/$build/ctest.log"
  echo "== tests: $build"
  ctest --test-dir "build/$build" --output-on-failure -j2 "$@" 2>&1 | tee "$log" |
    grep -E '(Failed|\*\*\*|tests passed|Total Test time|Test +#.*(Failed|Timeout|Exception))' || true
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$log"; then
      echo "$build: no tests were found"; status=1
    else
      echo "$build: ctest did not finish"; status=1
    fi
    passed[$build]=0; failed[$build]=0; skipped[$build]=0; return
  fi
  local total fails
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  local skips
  skips=$(grep -cE 'Test +#[0-9]+: .*\*\*\*Skipped' "$log" || true)
  passed[$build]=$((total - fails - skips)); failed[$build]=$fails; skipped[$build]=$skips
  ((fails == 0)) || status=1
}

run_ctest native

# win64: one Xvfb display for the tests that need a window (labelled
# "display"; wine-run.sh hides it from every other test), then wine's desktop
# process brought up on it and held for the whole run (scripts/wine-desktop.sh),
# so that no test starts it or the wineserver: either would inherit the test's
# output pipe and hold the test open until it exits.
source scripts/xvfb.sh
start_xvfb
hold_wine_desktop scripts/wine-run.sh "$prefix"
run_ctest win64
release_wine_desktop
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true

# win32: the i386 tree (cached), then the desktop held as for win64 (which
# also keeps process starts short: under a second while another wine process
# lives, several seconds otherwise), then the tests; the count is of
# GoogleTest cases.
echo "== win32 runner"
if wait "$x86_setup_pid"; then
  hold_wine_desktop scripts/x86/wine-run.sh "$prefix32"
  rm -rf build/win32/gtest-results && mkdir -p build/win32/gtest-results
  run_ctest win32
  read -r p f s < <(python3 scripts/gtest-tally.py build/win32/ctest.log build/win32/gtest-results)
  passed[win32]=$p; failed[win32]=$f; skipped[win32]=$s
  ((f == 0)) || status=1
else
  echo "win32: the runner could not be set up:"; tail -n 20 .cache/x86-setup.log; status=1
  passed[win32]=0; failed[win32]=1; skipped[win32]=0
fi

echo "== fuzz"
if bash scripts/fuzz.sh "${CAMVUE_FUZZ_SECONDS:-20}"; then fuzz_ok=1; else fuzz_ok=0; status=1; fi
nfuzz=$(ls tests/fuzz/*.cpp | wc -l)

echo "== summary"
tp=0; tf=0
for b in native win64 win32; do
  echo "$b: ${passed[$b]} passed, ${failed[$b]} failed, ${skipped[$b]} skipped"
  tp=$((tp + passed[$b])); tf=$((tf + failed[$b]))
done
if ((fuzz_ok)); then
  echo "fuzz: $nfuzz passed, 0 failed"; tp=$((tp + nfuzz))
else
  echo "fuzz: see the FAIL lines above"; tf=$((tf + 1))
fi
echo "total: $tp passed, $tf failed"
exit $status
