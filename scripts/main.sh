#!/usr/bin/env bash
# The main job, from a fresh machine: installs what is missing, builds the
# native, win64 and win32 presets, starts the local test camera (GStreamer's
# RTSP server with H.264, JPEG and MPEG-4 mounts, Digest authentication) and
# plays each mount with rtsp-dump: natively, and as the Windows build under
# wine64; then installs the plug-in with the win64 setup into a fresh wine
# prefix and shows a page with two of its cameras through the installed
# plug-in in page-host, the browser stand-in, saves a picture of the page and
# prints each element's picture size and frame count. Exits non-zero when any run did not
# play.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/wine-desktop.sh

bash scripts/bootstrap.sh || exit 1
bash scripts/build.sh native win64 win32 || exit 1

prefix="$root/build/win64/wineprefix"
camera_pid=""
camera_out=$(mktemp)
xvfb_pid=""
cleanup() {
  release_wine_desktop
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

# An Xvfb screen for the plug-in's windows, and wine's desktop process held
# on it for the whole job (scripts/wine-desktop.sh).
source scripts/xvfb.sh
start_xvfb
hold_wine_desktop scripts/wine-run.sh "$prefix"

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

# A camera that allows RTP over TCP only (UDP is refused with 461), reached
# by host name: the client falls back to RTP interleaved on the RTSP
# connection.
tcp_out=$(mktemp)
/usr/bin/python3 tests/peers/camera.py --port 0 --protocols tcp >"$tcp_out" 2>/dev/null &
tcp_camera_pid=$!
for _ in $(seq 150); do grep -q '^listening ' "$tcp_out" && break; sleep 0.1; done
tcp_port=$(sed -n 's/^listening rtsp:\/\/[^:]*:\([0-9]*\).*/\1/p' "$tcp_out" | head -n1)
if [ -n "$tcp_port" ]; then
  url="rtsp://localhost:$tcp_port/h264"
  echo
  echo "== native rtsp-dump $url --seconds $seconds (camera: RTP over TCP only)"
  build/native/tools/rtsp-dump/rtsp-dump "$url" --seconds "$seconds" || status=1
  echo
  echo "== win64 rtsp-dump.exe (wine64) $url --seconds $seconds"
  bash scripts/wine-run.sh --prefix "$prefix" build/win64/tools/rtsp-dump/rtsp-dump.exe "$url" \
    --seconds "$seconds" </dev/null | tr -d '\r' || status=1
else
  echo "main: the TCP-only camera did not start" >&2; status=1
fi
kill "$tcp_camera_pid" 2>/dev/null; wait "$tcp_camera_pid" 2>/dev/null; rm -f "$tcp_out"

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

# The plug-in as a user gets it: setup-rtsp-plugin-x64.exe installs it into
# a fresh wine prefix (its message box read and answered by
# message-box-answer.exe), then page-host, finding it only through the
# registry and the page's MIME type, shows a page with two cameras, H.264 and
# JPEG, lets them play, saves the page and each element as PNG and reports
# what each element shows.
release_wine_desktop
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
demo="$root/build/win64/page-host-demo"
rm -rf "$demo"
mkdir -p "$demo"
prefix="$demo/prefix"
echo
echo "== win64 setup-rtsp-plugin-x64.exe into a fresh wine prefix ($prefix)"
hold_wine_desktop scripts/wine-run.sh "$prefix"
mkdir -p "$prefix/drive_c/setup"
cp build/win64/setup/setup-rtsp-plugin-x64.exe "$prefix/drive_c/setup/"
CAMVUE_NEEDS_DISPLAY=1 bash scripts/wine-run.sh --prefix "$prefix" \
  build/win64/tests/unit/setup/message-box-answer.exe </dev/null >"$demo/answer.txt" 2>/dev/null &
answer_pid=$!
CAMVUE_NEEDS_DISPLAY=1 bash scripts/wine-run.sh --prefix "$prefix" 'C:\setup\setup-rtsp-plugin-x64.exe' \
  </dev/null >/dev/null 2>&1
echo "setup exit code: $?"
wait "$answer_pid"
tr -d '\r' <"$demo/answer.txt" | grep -E '^(caption|text):'
grep -q 'text: Browser RTSP plugin was installed successfully.' "$demo/answer.txt" || status=1
find "$prefix/drive_c/Program Files/Corvina Browser Plugins" -type f | sed "s|$prefix/drive_c/|C:/|"

echo
echo "== win64 page-host (wine64, Xvfb): tests/fixtures/pages/two_cameras.html, $seconds s"
mkdir -p "$demo/page"
sed "s/@CAMERA@/viewer:secret@$base/g" tests/fixtures/pages/two_cameras.html >"$demo/page/page.html"
printf 'wait %d\nsave pictures\nstats\nquit\n' $((seconds * 1000)) >"$demo/page/steps.txt"
(cd "$demo/page" && CAMVUE_NEEDS_DISPLAY=1 bash "$root/scripts/wine-run.sh" --prefix "$prefix" \
  "$root/build/win64/tools/page-host/page-host.exe" --steps steps.txt page.html \
  </dev/null 2>&1 | tr -d '\r' | grep -v -E '^[0-9a-f]{4}:err:ole') >"$demo/output.txt"
cat "$demo/output.txt"
stats=$(grep '^ok stats -> ' "$demo/output.txt" | sed 's/^ok stats -> //')
echo "page picture: $demo/page/pictures/page.png"
shown=0
while IFS= read -r part; do
  if [[ "$part" =~ ^([^ ]+)\ picture\ ([0-9]+x[0-9]+)\ frames\ ([0-9]+)$ ]]; then
    echo "element ${BASH_REMATCH[1]}: picture ${BASH_REMATCH[2]}, ${BASH_REMATCH[3]} frames"
    [ "${BASH_REMATCH[3]}" -gt 0 ] && [ "${BASH_REMATCH[2]}" != 0x0 ] && shown=$((shown + 1))
  fi
done < <(tr ';' '\n' <<<"$stats" | sed 's/^ *//')
if [ "$shown" -ne 2 ] || [ ! -s "$demo/page/pictures/page.png" ]; then
  echo "main: page-host did not show both cameras" >&2
  status=1
fi
exit $status
