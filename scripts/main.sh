#!/usr/bin/env bash
# The main job, from a fresh machine: installs what is missing, builds the
# native, win64 and win32 presets, encodes short clips with Debian's ffmpeg and
# prints the picture size our configuration parsers read from each clip's
# parameter sets (natively and as the Windows build under wine64) next to the
# size ffprobe reports. Exits non-zero on any disagreement.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/bootstrap.sh || exit 1
bash scripts/build.sh native win64 win32 || exit 1

work=$(mktemp -d)
prefix="$root/build/win64/wineprefix"
cleanup() {
  rm -rf "$work"
  if [ -d "$prefix" ]; then WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT

native_probe="$root/build/native/tools/config-probe/config-probe"
win_probe="$root/build/win64/tools/config-probe/config-probe.exe"

# name | ffmpeg video options | extension
clips=(
  "h264 baseline 352x288|-s 352x288 -c:v libx264 -profile:v baseline|h264"
  "h264 main 1280x720|-s 1280x720 -c:v libx264 -profile:v main|h264"
  "h264 high 1920x1080|-s 1920x1080 -c:v libx264 -profile:v high|h264"
  "h264 interlaced 720x576|-s 720x576 -c:v libx264 -flags +ildct -x264-params interlaced=1|h264"
  "h264 high 4:2:2 640x360|-s 640x360 -c:v libx264 -pix_fmt yuv422p -profile:v high422|h264"
  "mpeg4 640x480|-s 640x480 -c:v mpeg4|m4v"
  "mpeg4 176x144 30000/1001|-s 176x144 -r 30000/1001 -c:v mpeg4|m4v"
)

printf '%-28s %-12s %-12s %-12s %s\n' clip ffprobe native win64 result
status=0
i=0
for entry in "${clips[@]}"; do
  IFS='|' read -r name opts ext <<<"$entry"
  i=$((i + 1))
  clip="$work/clip$i.$ext"
  # shellcheck disable=SC2086
  if ! ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=rate=25 -frames:v 5 $opts -an "$clip"; then
    echo "ffmpeg could not encode: $name"; status=1; continue
  fi
  ref=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$clip")
  nat=$("$native_probe" "$clip" 2>&1 | sed -E 's/width=([0-9]+) height=([0-9]+)/\1x\2/')
  win=$(bash scripts/wine-run.sh --prefix "$prefix" "$win_probe" "$clip" 2>&1 | tr -d '\r' |
        sed -E 's/width=([0-9]+) height=([0-9]+)/\1x\2/')
  result=ok
  if [ "$nat" != "$ref" ] || [ "$win" != "$ref" ]; then result=MISMATCH; status=1; fi
  printf '%-28s %-12s %-12s %-12s %s\n' "$name" "$ref" "$nat" "$win" "$result"
done
exit $status
