#!/usr/bin/env bash
# bench-receive.sh [--seconds N] : installs what is missing, builds the bench
# preset (optimised rtsp-dump) and win64, and compares the CPU that clients
# spend on one real stream: our rtsp-dump, FFmpeg's and GStreamer's clients,
# and rtsp-dump.exe under wine64; then system calls per datagram (strace).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/bootstrap.sh pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev \
  gstreamer1.0-tools strace
bash scripts/build.sh win64
[ -f build/bench/build.ninja ] || cmake --preset bench >/dev/null
cmake --build build/bench --target rtsp-dump >/dev/null

prefix="$root/build/win64/wineprefix"
trap 'WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
bash scripts/wine-run.sh --prefix "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
/usr/bin/python3 bench/receive/cpu_bench.py --dump build/bench/tools/rtsp-dump/rtsp-dump \
  --dump-exe build/win64/tools/rtsp-dump/rtsp-dump.exe --wine-run scripts/wine-run.sh \
  --prefix "$prefix" "$@"
