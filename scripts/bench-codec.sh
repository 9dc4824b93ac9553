#!/usr/bin/env bash
# bench-codec.sh [codec-bench options...]: the codec binding's benchmark.
# Builds codec-bench.exe and h264.dll of the win64 preset, makes a 1080p H.264
# clip with Debian's ffmpeg (libx264, access unit delimiters, no B-pictures,
# as cameras send) and runs bench/codec under wine64: decode time per picture
# through the binding against h264.dll's dec_decode called directly (budget:
# 5 % more), and memory per decoder. Exit status of codec-bench (3: over
# budget).
# Environment: CAMVUE_BENCH_BUILD (build tree, default build/win64),
# CAMVUE_BENCH_FRAMES (clip length, default 60).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${CAMVUE_BENCH_BUILD:-$root/build/win64}"
frames="${CAMVUE_BENCH_FRAMES:-60}"
command -v ffmpeg >/dev/null || { echo "bench-codec.sh: ffmpeg missing: run scripts/bootstrap.sh" >&2; exit 2; }

cd "$root"
cmake --preset win64 -B "$build" >/dev/null
cmake --build "$build" -j2 --target codec-bench h264

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/clip_1920x1080.h264"
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
  -c:v libx264 -preset medium -pix_fmt yuv420p -profile:v high -bf 0 \
  -x264-params aud=1:keyint=25:min-keyint=25:scenecut=0 -f h264 "$clip"

exec "$root/scripts/wine-run.sh" --prefix "$build/wineprefix" \
  "$build/bench/codec/codec-bench.exe" --clip "$clip" --library "$build/codecs/h264.dll" "$@"
