#!/bin/sh
# Takes the pictures of the windows under a virtual X server (xvfb-run), or on Qt's offscreen
# platform where xvfb-run is not installed. Usage: UiScreenshots.sh <screenshot program>
set -eu
program=$1
if command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1280x900x24" env LANYARD_QPA_PLATFORM=xcb "$program"
fi
echo "xvfb-run is not installed: the pictures are taken on the offscreen platform"
exec env LANYARD_QPA_PLATFORM=offscreen "$program"
