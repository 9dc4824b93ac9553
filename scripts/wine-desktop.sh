# Sourced by the scripts that run wine programs on an Xvfb screen.
# hold_wine_desktop RUNNER PREFIX starts wine's desktop process on $DISPLAY and
# keeps it alive until the caller exits (or calls release_wine_desktop).
#
# Wine's desktop process (explorer) is started by the first program that needs
# the desktop window and ends a few seconds after the last program using the
# desktop has gone. Left to itself it would come and go between tests: started
# by a test that runs without DISPLAY it has no screen and every later window
# fails ("Failed to create a window"), and started by any test it inherits that
# test's output pipe and holds it open. So one process (cmd waiting on a pipe)
# holds the desktop for the whole run, and one rundll32 call (wine's rundll32
# makes a hidden window) brings explorer up on the display while it is held.
# Any server of the prefix is ended first: a desktop process that something
# else started (a build's test discovery, without a screen) must not be the
# one that is held.
hold_wine_desktop() {
  local runner="$1" prefix="$2"
  bash "$runner" --prefix "$prefix" --kill || true
  exec {wine_desktop_fd}> >(CAMVUE_NEEDS_DISPLAY=1 bash "$runner" --prefix "$prefix" \
    cmd /c "set /p x=" >/dev/null 2>&1)
  CAMVUE_NEEDS_DISPLAY=1 bash "$runner" --prefix "$prefix" rundll32.exe user32.dll,GetDesktopWindow \
    </dev/null >/dev/null 2>&1 || true
}

# Lets the holder go; the caller still ends the prefix's wineserver.
release_wine_desktop() {
  if [ -n "${wine_desktop_fd:-}" ]; then
    exec {wine_desktop_fd}>&-
    wine_desktop_fd=""
  fi
}
