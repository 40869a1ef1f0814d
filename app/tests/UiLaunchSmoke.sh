#!/bin/sh
# Starts the lanyard program itself (offscreen, in a temporary home folder) and checks that it comes
# up, sets up its share list and keeps running until it is told to end.
# Usage: UiLaunchSmoke.sh <lanyard program>
set -eu
program=$1
home=$(mktemp -d /tmp/lanyard-launch-XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$home"
}
trap cleanup EXIT

HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home \
  QT_QPA_PLATFORM=offscreen DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/lanyard-test-bus \
  "$program" >"$home/output.txt" 2>&1 &
pid=$!

conf=$home/.config/Lanyard/Lanyard.conf
set_up() {
  [ -f "$home/Documents/useredit.db" ] && grep -q "key_userdbinit=1" "$conf" 2>/dev/null
}
for _ in $(seq 1 300); do
  if set_up; then break; fi
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "lanyard ended at start-up:"; cat "$home/output.txt"; exit 1
  fi
  sleep 0.1
done
set_up || { echo "no share list in $home/Documents or no first-run settings in $conf"; exit 1; }
[ -d "$(dirname "$program")/WebUploader.bundle" ] || { echo "no WebUploader.bundle beside $program"; exit 1; }
sleep 1
kill -0 "$pid" 2>/dev/null || { echo "lanyard ended by itself:"; cat "$home/output.txt"; exit 1; }
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
echo "lanyard started, set up its share list and ran until it was ended"
