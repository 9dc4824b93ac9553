#!/usr/bin/env bash
# bench-render.sh [render-bench options...]: the video path's benchmark.
# Builds render-bench.exe and h264.dll of the win64 preset, makes 720p and
# 1080p H.264 clips with Debian's ffmpeg (libx264 main profile, access unit
# delimiters, no B-pictures, as cameras send), prints FFmpeg's own decode time
# of each clip (native, one thread) as a reference, and runs bench/render
# under wine64 on a private Xvfb display and wine prefix: frame callback,
# ring, draw step, decode, surface copy and blit per picture into a 1280x720
# window, callback-to-Show latency, and the CPU of an idle stream core.
# Exit status of render-bench (3: a goal missed).
# Environment: CAMVUE_BENCH_BUILD (build tree, default build/win64),
# CAMVUE_BENCH_FRAMES (clip length, default 125).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${CAMVUE_BENCH_BUILD:-$root/build/win64}"
frames="${CAMVUE_BENCH_FRAMES:-125}"
for tool in ffmpeg Xvfb; do
  command -v "$tool" >/dev/null || { echo "bench-render.sh: $tool missing: run scripts/bootstrap.sh" >&2; exit 2; }
done

cd "$root"
cmake --preset win64 -B "$build" >/dev/null
cmake --build "$build" -j2 --target render-bench h264

# A prefix of its own: the tests' prefix may be in use with another display.
prefix="$build/wineprefix-render"
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [ -d "$prefix" ]; then WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

clips=()
for size in 1280x720 1920x1080; do
  clip="$work/clip_$size.h264"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$frames" \
    -c:v libx264 -preset medium -pix_fmt yuv420p -profile:v main -bf 0 \
    -x264-params aud=1:keyint=50:min-keyint=50:scenecut=0 -f h264 "$clip"
  clips+=(--clip "$size:$clip")
  utime=$(ffmpeg -nostdin -benchmark -threads 1 -f h264 -i "$clip" -f null - 2>&1 |
    sed -nE 's/.*bench: utime=([0-9.]+)s.*/\1/p')
  awk -v u="$utime" -v n="$frames" -v s="$size" 'BEGIN {
    printf "reference, %s: FFmpeg native (libavcodec, 1 thread) decode %.3f ms per picture (user CPU, whole run)\n", s, u * 1000 / n }'
done

source scripts/xvfb.sh
start_xvfb
[ "$DISPLAY" != ":" ] || { echo "bench-render.sh: Xvfb did not start" >&2; exit 2; }
export CAMVUE_NEEDS_DISPLAY=1
# Brings the prefix, its server and wine's desktop up before the timed run.
bash scripts/wine-run.sh --prefix "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true

status=0
bash scripts/wine-run.sh --prefix "$prefix" "$build/bench/render/render-bench.exe" \
  --codecs "$build/codecs" "${clips[@]}" "$@" || status=$?
exit "$status"
