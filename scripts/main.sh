#!/usr/bin/env bash
# The main job, from a fresh machine: installs what is missing, builds the
# native, win64 and win32 presets, starts the local test camera (GStreamer's
# RTSP server with H.264, JPEG and MPEG-4 mounts, Digest authentication) and
# plays each mount with rtsp-dump: natively, and as the Windows build under
# wine64. Exits non-zero when any run did not play.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/bootstrap.sh || exit 1
bash scripts/build.sh native win64 win32 || exit 1

prefix="$root/build/win64/wineprefix"
camera_pid=""
camera_out=$(mktemp)
xvfb_pid=""
cleanup() {
  if [ -n "$camera_pid" ]; then kill "$camera_pid" 2>/dev/null; wait "$camera_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; fi
  rm -f "$camera_out"
  if [ -d "$prefix" ]; then WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT

seconds="${CAMVUE_MAIN_SECONDS:-5}"
/usr/bin/python3 tests/peers/camera.py --port 0 --auth digest --user viewer --password secret \
  >"$camera_out" 2>/dev/null &
camera_pid=$!
for _ in $(seq 150); do grep -q '^listening ' "$camera_out" && break; sleep 0.1; done
base=$(sed -n 's/^listening rtsp:\/\///p' "$camera_out" | head -n1)
[ -n "$base" ] || { echo "main: the test camera did not start" >&2; exit 1; }
echo "== test camera at rtsp://$base (Digest, user viewer)"

# An Xvfb screen for the plug-in's windows, then wine warmed up once on it,
# detached from our output.
source scripts/xvfb.sh
start_xvfb
CAMVUE_NEEDS_DISPLAY=1 bash scripts/wine-run.sh --prefix "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true

status=0
for mount in h264 mjpeg mpeg4; do
  url="rtsp://viewer:secret@$base/$mount"
  echo
  echo "== native rtsp-dump $url --seconds $seconds"
  build/native/tools/rtsp-dump/rtsp-dump "$url" --seconds "$seconds" || status=1
  echo
  echo "== win64 rtsp-dump.exe (wine64) $url --seconds $seconds"
  bash scripts/wine-run.sh --prefix "$prefix" build/win64/tools/rtsp-dump/rtsp-dump.exe "$url" \
    --seconds "$seconds" </dev/null | tr -d '\r' || status=1
done

# The plug-in's video path: a stream core plays the test camera (its own
# instance, with scrolling colour bars) into windows under wine64; the
# pictures are read back from the screen.
echo
echo "== win64 stream core into a window (wine64, Xvfb): H.264 and JPEG"
(cd tests/integration &&
  CAMVUE_CORE_TESTS="$root/build/win64/tests/unit/render/core_camera_tests.exe" \
  CAMVUE_EMULATOR="bash|$root/scripts/wine-run.sh|--prefix|$prefix" \
  CAMVUE_CORE_FILTER='Mounts/*' /usr/bin/python3 -m unittest core_camera_test 2>&1 |
  grep -v -E '^[0-9a-f]{4}:err:ole') || status=1
exit $status
