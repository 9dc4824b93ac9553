#!/usr/bin/env bash
# build-ffmpeg.sh ARCH [CACHE_DIR]
#   ARCH: x86_64 | i686. CACHE_DIR: default <repo>/.cache/ffmpeg.
#
# Cross-builds a static libavcodec + libavutil for mingw-w64 with only the
# h264 and mjpeg decoders, from Debian's `ffmpeg` source package, and installs
# it into CACHE_DIR/<source version>/<ARCH>/ (include/, lib/). Idempotent: when
# that prefix is complete the script does nothing but print it.
#
# The source comes through apt with a private configuration under
# CACHE_DIR/apt: its own sources list (deb-src lines derived at run time from
# the machine's own apt sources, so no mirror is named here), its own list and
# cache directories. The machine's apt state is never touched.
#
# The last line on standard output is the install prefix; progress goes to
# standard error. Needs: apt, dpkg-dev, make, nasm, the mingw-w64 compilers.
set -euo pipefail

arch=${1:-}
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${2:-$repo/.cache/ffmpeg}

case $arch in
  x86_64) triple=x86_64-w64-mingw32; ffarch=x86_64 ;;
  i686) triple=i686-w64-mingw32; ffarch=x86 ;;
  *) echo "usage: $0 x86_64|i686 [CACHE_DIR]" >&2; exit 2 ;;
esac

log() { echo "build-ffmpeg: $*" >&2; }

for tool in apt-get apt-cache dpkg-source make nasm "$triple-gcc-posix"; do
  command -v "$tool" >/dev/null || { log "$tool missing: run scripts/bootstrap.sh"; exit 2; }
done

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
aptdir=$cache/apt
mkdir -p "$aptdir/lists/partial" "$aptdir/cache/archives/partial" "$aptdir/sources.list.d"

# --- private apt configuration -------------------------------------------------

# One "deb-src" line per (URI, suite) of every enabled binary source the
# machine uses, from the one-line and the deb822 formats.
derive_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n -E 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush() {
        if (types ~ /(^|[[:space:]])deb([[:space:]]|$)/ && tolower(enabled) != "no" && uris != "") {
          n = split(uris, u, /[[:space:]]+/); m = split(suites, s, /[[:space:]]+/)
          opt = (signed ~ /^\//) ? "[signed-by=" signed "] " : ""
          for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
            if (u[i] != "" && s[j] != "") print "deb-src " opt u[i] " " s[j] " " comps
        }
        types = uris = suites = comps = signed = enabled = ""; key = ""
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      /^[[:space:]]/ { next }   # continuation lines (an inline key block)
      {
        key = tolower($1); sub(/:$/, "", key)
        val = $0; sub(/^[^:]*:[[:space:]]*/, "", val); sub(/[[:space:]]+$/, "", val)
        if (key == "types") types = val
        else if (key == "uris") uris = val
        else if (key == "suites") suites = val
        else if (key == "components") comps = val
        else if (key == "signed-by") signed = val
        else if (key == "enabled") enabled = val
      }
      END { flush() }
    ' "$f"
  done
}

sources=$aptdir/sources.list
derive_sources | sort -u >"$sources.new"
if [ ! -s "$sources.new" ]; then
  log "no deb sources found in /etc/apt"; rm -f "$sources.new"; exit 1
fi
mv "$sources.new" "$sources"

apt_opts=(
  -o "Dir::Etc::SourceList=$sources"
  -o "Dir::Etc::SourceParts=$aptdir/sources.list.d"
  -o "Dir::State::Lists=$aptdir/lists"
  -o "Dir::Cache=$aptdir/cache"
  -o "Dir::Cache::pkgcache="
  -o "Dir::Cache::srcpkgcache="
)
# As root apt fetches as the sandbox user, which cannot write our directories.
[ "$(id -u)" -ne 0 ] || apt_opts+=(-o APT::Sandbox::User=root)

# The apt steps and the source extraction are shared by both arches: one at a time.
exec 8>"$cache/apt.lock"
flock 8

newest_version() {
  apt-cache "${apt_opts[@]}" showsrc ffmpeg 2>/dev/null |
    awk '/^Package: /{p=$2} /^Version: /{ if (p == "ffmpeg") print $2 }' |
    {
      best=""
      while read -r v; do
        if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
      done
      echo "$best"
    }
}

update_lists() {
  log "apt-get update (private lists in $aptdir)"
  apt-get "${apt_opts[@]}" -q update >&2
}

version=""
[ -z "$(ls -A "$aptdir/lists" 2>/dev/null | grep -v -E '^(partial|lock)$')" ] || version=$(newest_version)
if [ -z "$version" ]; then
  update_lists
  version=$(newest_version)
fi
[ -n "$version" ] || { log "no ffmpeg source package in the configured sources"; exit 1; }

plain=${version#*:}   # without the epoch: a directory name
prefix=$cache/$plain/$arch
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"; exit 0
fi

src=$cache/$plain/src
if [ ! -f "$src/.complete" ]; then
  dl=$cache/$plain/dl
  mkdir -p "$dl"
  if ! (cd "$dl" && apt-get "${apt_opts[@]}" -q source --download-only "ffmpeg=$version" >&2); then
    # The lists may be stale (a version superseded on the mirror): refresh once.
    update_lists
    version=$(newest_version); plain=${version#*:}
    prefix=$cache/$plain/$arch; src=$cache/$plain/src; dl=$cache/$plain/dl
    if [ -f "$prefix/.complete" ]; then echo "$prefix"; exit 0; fi
    mkdir -p "$dl"
    (cd "$dl" && apt-get "${apt_opts[@]}" -q source --download-only "ffmpeg=$version" >&2)
  fi
  if [ ! -f "$src/.complete" ]; then
    rm -rf "$src"
    log "unpacking ffmpeg $version"
    dpkg-source -x "$dl/ffmpeg_${plain}.dsc" "$src" >&2
    touch "$src/.complete"
    # The unpacked tree is all that is needed from here on (dpkg-source also
    # leaves a copy of the upstream tarball beside it).
    rm -rf "$dl" "$cache/$plain"/ffmpeg_*.orig.tar.*
  fi
fi
flock -u 8

# --- the cross build, one per arch at a time ------------------------------------

exec 9>"$cache/$plain/$arch.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"; exit 0
fi

build=$cache/$plain/build-$arch
stage=$cache/$plain/$arch.stage
rm -rf "$build" "$stage"
mkdir -p "$build"
log "configuring ffmpeg $version for $triple"
start=$(date +%s)
(
  cd "$build"
  "$src/configure" \
    --prefix="$stage" \
    --enable-cross-compile --cross-prefix="$triple-" --arch="$ffarch" --target-os=mingw32 \
    --cc="$triple-gcc-posix" --cxx="$triple-g++-posix" \
    --pkg-config=false \
    --disable-everything --disable-autodetect --disable-programs --disable-doc \
    --disable-network --disable-debug \
    --disable-avformat --disable-avfilter --disable-avdevice --disable-swresample \
    --disable-postproc --disable-swscale \
    --enable-decoder=h264,mjpeg \
    --enable-w32threads --disable-pthreads \
    --enable-static --disable-shared
) >"$build/configure.log" 2>&1 || { tail -n 30 "$build/configure.log" >&2; log "configure failed"; exit 1; }
log "building (log: $build/make.log)"
jobs=${FFMPEG_JOBS:-$(nproc)}
if ! make -C "$build" -j"$jobs" >"$build/make.log" 2>&1 ||
   ! make -C "$build" install >>"$build/make.log" 2>&1; then
  tail -n 30 "$build/make.log" >&2; log "build failed"; exit 1
fi
rm -rf "$stage/share"
rm -rf "$prefix"
mv "$stage" "$prefix"
echo "ffmpeg $version $triple built in $(( $(date +%s) - start )) s" >"$prefix/.complete"
rm -rf "$build"
log "$(cat "$prefix/.complete")"
echo "$prefix"
