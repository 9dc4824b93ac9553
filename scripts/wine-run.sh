#!/usr/bin/env bash
# Runs a Windows x86_64 program under wine64 with the build's private prefix.
# Used as the ctest emulator of the win64 build:
#   wine-run.sh --prefix DIR PROGRAM [ARGS...]
#   wine-run.sh --prefix DIR --kill        (ends the prefix's wineserver)
# A test that needs a window sets CAMVUE_NEEDS_DISPLAY=1 (and the label
# "display", so scripts/test.sh starts Xvfb); every other test runs without
# DISPLAY, so it cannot come to depend on one.
# The prefix is created on first use (under a lock, since ctest runs tests in
# parallel); a persistent wineserver is started detached from our stdout so a
# test never waits for it to exit.
set -euo pipefail

prefix=""
kill_server=0
while (($#)); do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --kill) kill_server=1; shift ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix DIR is required" >&2; exit 2; }
((kill_server)) || (($#)) || { echo "wine-run.sh: no program given" >&2; exit 2; }

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || { echo "wine-run.sh: $wine missing: run scripts/bootstrap.sh" >&2; exit 2; }

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:-fixme-all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if ((kill_server)); then
  if [ -d "$prefix" ]; then "$wineserver" -k </dev/null >/dev/null 2>&1 || true; fi
  exit 0
fi

start_server() {
  # -p: persistent. wineserver daemonizes once ready; when a server is already
  # up for this prefix it exits at once. Never let it inherit our stdout.
  "$wineserver" -p </dev/null >/dev/null 2>&1 || true
}

if [ ! -f "$prefix/.camvue-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.camvue-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    start_server
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
    reg=$(cd "$(dirname "$0")/.." && pwd)/scripts/wine-prefix.reg
    "$wine" regedit /S "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
    touch "$prefix/.camvue-ready"
  fi
  flock -u 9
  exec 9>&-
fi

start_server

if [ "${CAMVUE_NEEDS_DISPLAY:-0}" = 1 ]; then
  if [ -z "${DISPLAY:-}" ]; then
    echo "wine-run.sh: this test needs a display; run it through scripts/test.sh" >&2
    exit 2
  fi
else
  unset DISPLAY
fi

# Without address-space randomization: now and then the loader found the
# fixed address of wine's shared user data already taken ("failed to map the
# shared user data") and the program never started. A fixed layout either
# always works or never does.
exec setarch "$(uname -m)" -R "$wine" "$@"
