#!/usr/bin/env bash
# Retakes packaging/screenshots/main-window.png, the metainfo's screenshot: the
# window on a virtual display, after converting the sample export.
# Usage: packaging/screenshot.sh [BUILD_DIR] [DISPLAY_NUMBER]   (build/release, 57)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
export DISPLAY=:${2:-57}
scratch=$(mktemp -d)
xvfb="" app=""
cleanup() {
  # The window first, so it quits (and cleans up) while its display is still there.
  for pid in $app $xvfb; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
# The pending export goes to a scratch TMPDIR and is removed when the window quits.
TMPDIR=$scratch XDG_RUNTIME_DIR=$scratch "$build/bin/notara2inkvale" "examples/Sample Export" &
app=$!
window=$(xdotool search --sync --onlyvisible --name '^Notara to Inkvale$' | head -n 1)
sleep 2  # the conversion and the repaint after it
import -window "$window" packaging/screenshots/main-window.png
echo "Wrote packaging/screenshots/main-window.png"
