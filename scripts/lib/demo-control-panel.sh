# The control panel's part of scripts/demo, on the emulated machine that runs
# under $WN_SYSTEM_ROOT: with a display and a terminal it opens orvanecpl and
# waits until its window is closed; otherwise it renders the screenshots of
# its pages and says where they are.

wn_demo_control_panel() {
  echo
  echo "== The control panel (orvanecpl) =="
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -t 0 ]; then
    echo "Opening the control panel on your display; close its window (File > Exit) to go on."
    build/control-panel/orvanecpl -notray || true
  else
    echo "No display here: rendering the control panel's pages instead."
    local output="$PWD/build/screenshots"
    mkdir -p "$output"
    QT_QPA_PLATFORM=offscreen build/tests/cpl_screenshots "$output" | sed 's/^/  /'
    echo "The pictures are in $output (the main window: $output/orvanecpl-status-info.png)."
  fi
}
