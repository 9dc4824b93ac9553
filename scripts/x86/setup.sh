#!/usr/bin/env bash
# x86/setup.sh [CACHE_DIR]
#
# Makes this amd64 machine able to run the win32 build: 32-bit wine inside an
# i386 Debian tree, executed by qemu-i386 user-mode emulation through
# binfmt_misc, with a preload library (qemu-fixes.c) that works around the
# emulator's defects that 32-bit wine trips over.
#
# Idempotent and cached: the tree lives in CACHE_DIR (default <repo>/.cache/
# i386-wine, beside the FFmpeg cache) and is built once (about 4 minutes and
# 1.4 GB); later runs only check the binfmt entry and rebuild the preload
# library when its source changed. Needs root (mount, binfmt, chroot).
# The last line on standard output is the tree's path; progress goes to stderr.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
cache=${1:-$repo/.cache/i386-wine}
tree=$cache/tree
# What goes into the tree: wine, the C library headers the preload library is
# built against, and OpenGL (software) for wine's DirectDraw.
tree_packages="wine wine32 libc6-dev libgl1 libgl1-mesa-dri"

log() { echo "x86/setup: $*" >&2; }

[ "$(id -u)" -eq 0 ] || { log "must run as root (binfmt_misc, chroot)"; exit 2; }
for tool in qemu-i386-static debootstrap gcc unshare chroot; do
  command -v "$tool" >/dev/null || { log "$tool missing: run scripts/bootstrap.sh"; exit 2; }
done
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
tree=$cache/tree

# --- binfmt_misc: i386 ELF executables go to qemu-i386 ----------------------
# Flags: O (qemu gets an open descriptor, so unreadable binaries work too),
# P (argv[0] is kept: Debian's qemu does that when its own name ends in
# "-binfmt-P"), F (the interpreter is opened now, so it need not exist
# inside the tree).
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt"
fi
interp=$cache/qemu-i386-binfmt-P
ln -sfn "$(command -v qemu-i386-static)" "$interp"
if [ ! -e "$binfmt/camvue-i386" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':camvue-i386:M::%s:%s:%s:OPF' "$magic" "$mask" "$interp" >"$binfmt/register"
  log "registered i386 ELF for $interp"
fi
[ "$(head -n1 "$binfmt/camvue-i386")" = enabled ] || echo 1 >"$binfmt/camvue-i386"

# --- the i386 tree ------------------------------------------------------------
# The mirror is the one the machine's own apt sources name (one-line or
# deb822 format), read now: no host name is written into the repository.
mirror() {
  local uri
  uri=$(sed -n -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+bookworm[[:space:]].*/\2/p' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n1)
  if [ -z "$uri" ]; then
    uri=$(awk '
      /^Types:/ { deb = ($0 ~ /[[:space:]]deb([[:space:]]|$)/) }
      /^URIs:/ { u = $2 }
      /^Suites:/ { if (deb && $0 ~ /[[:space:]]bookworm([[:space:]]|$)/ && u != "") { print u; exit } }
      /^$/ { deb = 0; u = "" }' /etc/apt/sources.list.d/*.sources 2>/dev/null)
  fi
  [ -n "$uri" ] || { log "no bookworm mirror in the apt sources"; return 1; }
  echo "$uri"
}

if [ ! -f "$tree/.camvue-base" ]; then
  url=$(mirror)
  log "building the i386 tree from $url (a few minutes)"
  rm -rf "$tree"
  debootstrap --arch=i386 --variant=minbase bookworm "$tree" "$url" >"$cache/debootstrap.log" 2>&1 ||
    { log "debootstrap failed, see $cache/debootstrap.log"; tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
  cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
  touch "$tree/.camvue-base"
fi
if [ "$(cat "$tree/.camvue-stamp" 2>/dev/null)" != "$tree_packages" ]; then
  log "installing $tree_packages in the tree"
  unshare -m --propagation private bash -c '
    set -e
    tree=$1; shift
    mount -t proc proc "$tree/proc"
    mount --bind /dev "$tree/dev"
    export DEBIAN_FRONTEND=noninteractive
    chroot "$tree" apt-get update -q
    chroot "$tree" apt-get install -y -q --no-install-recommends "$@"
    chroot "$tree" apt-get clean' _ "$tree" $tree_packages >"$cache/apt.log" 2>&1 ||
    { log "installing into the tree failed, see $cache/apt.log"; tail -n 20 "$cache/apt.log" >&2; exit 1; }
  echo "$tree_packages" >"$tree/.camvue-stamp"
fi

# The tree's resolver reads the tree's own /etc/hosts, which debootstrap does
# not write: without it "localhost" does not resolve for 32-bit programs.
if [ ! -s "$tree/etc/hosts" ]; then
  printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$tree/etc/hosts"
  log "wrote $tree/etc/hosts"
fi

# --- the preload library ------------------------------------------------------
# Built on the host as 32-bit code against the tree's own C library headers and
# libc.so.6; no host 32-bit libraries are needed.
src=$repo/scripts/x86/qemu-fixes.c
lib=$tree/usr/local/lib/camvue-qemu-fixes.so
if [ ! -f "$lib" ] || [ "$src" -nt "$lib" ]; then
  gccinc=$(gcc -print-file-name=include)
  mkdir -p "$(dirname "$lib")"
  gcc -m32 -O2 -fPIC -shared -nostdlib -nostdinc -fno-stack-protector -fcf-protection=none \
    -Wall -Wextra -Werror \
    -isystem "$gccinc" -isystem "$tree/usr/include/i386-linux-gnu" -isystem "$tree/usr/include" \
    -o "$lib.tmp" "$src" "$tree/lib/i386-linux-gnu/libc.so.6" -Wl,--no-as-needed
  mv "$lib.tmp" "$lib"
  log "built $lib"
fi

echo "$tree"
