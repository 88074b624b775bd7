# The spy tool's part of scripts/demo, on the emulated machine that runs under
# $WN_SYSTEM_ROOT: with a display and a terminal it opens orvanespy and waits
# until its window is closed; otherwise it renders its pages with a stream
# running and says where they are.

wn_demo_spy() {
  echo
  echo "== The spy tool (orvanespy) =="
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -t 0 ]; then
    echo "Opening the spy tool on your display; close its window (File > Exit) to go on."
    build/spy/orvanespy || true
  else
    echo "No display here: rendering the spy tool's pages instead."
    local output="$PWD/build/screenshots"
    mkdir -p "$output"
    QT_QPA_PLATFORM=offscreen build/tests/spy_screenshots "$output" | sed 's/^/  /'
    echo "The pictures are in $output (the main window: $output/orvanespy-main.png)."
  fi
}
