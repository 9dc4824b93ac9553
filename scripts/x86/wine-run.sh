#!/usr/bin/env bash
# Runs a Windows i686 program under 32-bit wine inside the i386 tree that
# scripts/x86/setup.sh made (qemu-i386 through binfmt_misc). Used as the ctest
# emulator of the win32 build:
#   x86/wine-run.sh --prefix DIR PROGRAM [ARGS...]
#   x86/wine-run.sh --prefix DIR --kill        (ends the prefix's wineserver)
# Each call enters a private mount namespace, binds the repository (build and
# source trees, at their own paths), /tmp (the X socket, the tests' scratch
# files, the wineserver socket), /dev and a fresh /proc into the tree, and
# runs wine there with the preload library of qemu-fixes.c. Nothing stays
# mounted on the host.
# As with the win64 runner, a test that needs a window sets
# CAMVUE_NEEDS_DISPLAY=1; every other test runs without DISPLAY.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
tree=${CAMVUE_I386_TREE:-$repo/.cache/i386-wine/tree}
prefix=""
kill_server=0
while (($#)); do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --kill) kill_server=1; shift ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "x86/wine-run.sh: --prefix DIR is required" >&2; exit 2; }
((kill_server)) || (($#)) || { echo "x86/wine-run.sh: no program given" >&2; exit 2; }
[ -f "$tree/.camvue-stamp" ] || { echo "x86/wine-run.sh: no i386 tree at $tree: run scripts/x86/setup.sh" >&2; exit 2; }
case "$prefix" in /*) ;; *) prefix=$(pwd)/$prefix ;; esac

if [ "${CAMVUE_NEEDS_DISPLAY:-0}" = 1 ]; then
  [ -n "${DISPLAY:-}" ] || { echo "x86/wine-run.sh: this test needs a display; run it through scripts/test.sh" >&2; exit 2; }
else
  unset DISPLAY
fi

# Runs "$@" as root inside the tree, in its own mount namespace.
in_tree() {
  local cwd=/
  case "$(pwd)/" in "$repo"/* | /tmp/*) cwd=$(pwd) ;; esac
  unshare -m --propagation private -- /bin/bash -c '
    set -e
    tree=$1 repo=$2 cwd=$3; shift 3
    mount -t proc proc "$tree/proc"
    mount --rbind /dev "$tree/dev"
    mount --rbind /tmp "$tree/tmp"
    mkdir -p "$tree$repo"
    mount --rbind "$repo" "$tree$repo"
    cd "$tree$cwd" 2>/dev/null || cd "$tree"
    exec chroot "$tree" /usr/bin/env LD_PRELOAD=/usr/local/lib/camvue-qemu-fixes.so PATH=/usr/bin:/bin \
      /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$cwd" "$@"
  ' _ "$tree" "$repo" "$cwd" "$@"
}

export WINEPREFIX="$prefix"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:-fixme-all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver32

if ((kill_server)); then
  in_tree "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  exit 0
fi

start_server() {
  # -p: persistent; never let it inherit our stdout.
  in_tree "$wineserver" -p </dev/null >/dev/null 2>&1 || true
}

if [ ! -f "$prefix/.camvue-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.camvue-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    start_server
    in_tree "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
    reg=$repo/scripts/wine-prefix.reg
    in_tree "$wine" regedit /S "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
    touch "$prefix/.camvue-ready"
  fi
  flock -u 9
  exec 9>&-
fi

start_server
in_tree "$wine" "$@"
