#!/usr/bin/env bash
# Renders each of the main window's four tabs to a PNG without a display (offscreen).
# Usage: scripts/screenshots.sh [OUTPUT_FOLDER]   (default: $BUILD_DIR/screenshots, BUILD_DIR defaulting to build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=${1:-$build/screenshots}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target quintaro_render_tabs
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$build"/tests/app/quintaro_render_tabs "$out"
