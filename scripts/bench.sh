#!/usr/bin/env bash
# bench.sh [assembly-bench options] : installs what is missing, builds the
# bench preset (optimized, no sanitizers) and runs the RTP frame reassembly
# benchmark. It records its packet sequences itself with GStreamer encoders
# (1080p H.264, 720p JPEG, 720p MPEG-4) and prints a table of MB/s and ns per
# packet for the assembler, memcpy and GStreamer's depayloaders, with ratios.
# Options, e.g.: --repeats 15 --frames 600 --format h264 --min-time 0.5
set -euo pipefail
cd "$(dirname "$0")/.."

# The benchmark's own build dependencies come on top of the usual ones.
bash scripts/bootstrap.sh pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev

bash scripts/build.sh bench
echo "== assembly-bench $*"
exec build/bench/bench/assembly/assembly-bench "$@"
