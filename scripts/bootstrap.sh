#!/usr/bin/env bash
# Installs whatever the build and the tests need, from Debian's packages only,
# plus any package names given as arguments (for tools with extra needs).
# Idempotent: a second run on a ready machine installs nothing and takes a second.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth libgl1-mesa-dri
  googletest
  # PNG writing for page-host's saved pictures (header-only)
  libstb-dev
  clang libclang-rt-14-dev
  python3 ffmpeg
  # the codec libraries: FFmpeg from Debian's source package, cross-built
  nasm dpkg-dev make xz-utils
  # the test camera (GStreamer's RTSP server through Python) and its network
  python3-gi gir1.2-gst-rtsp-server-1.0 gir1.2-gstreamer-1.0 gir1.2-gst-plugins-base-1.0
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  gstreamer1.0-libav iproute2 procps tcpdump
  # a second, different RTSP server
  vlc-bin vlc-plugin-base
  # the win32 build's runner: 32-bit wine in an i386 tree under qemu-i386
  qemu-user-static debootstrap
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q >/dev/null
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
