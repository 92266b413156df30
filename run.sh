#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop application. Without
# a display it converts the bundled sample export with the command-line
# converter instead. Any arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-dependencies.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)" --target notara2inkvale notara2inkvale-cli

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/release/bin/notara2inkvale "$@"
fi

echo "No display found: converting the sample export with the command-line converter instead." >&2
output="build/sample-output/$(date +%Y%m%d-%H%M%S)"
build/release/bin/notara2inkvale-cli -o "$output" "${@:-examples/Sample Export}"
