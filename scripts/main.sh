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
cleanup() {
  if [ -n "$camera_pid" ]; then kill "$camera_pid" 2>/dev/null; wait "$camera_pid" 2>/dev/null; fi
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

# Warm wine up once, detached from our output.
bash scripts/wine-run.sh --prefix "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true

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
exit $status
