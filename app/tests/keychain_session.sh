#!/bin/sh
# Runs the keychain test program against a private Secret Service: a D-Bus session of its own
# (dbus-run-session) with its own gnome-keyring-daemon, HOME and runtime folder in a temporary
# folder, so the user's real keyrings are never touched.
#   keychain_session.sh <test program> [arguments...]
set -eu
if [ -z "${LANYARD_IN_PRIVATE_BUS:-}" ]; then
    for tool in dbus-run-session gnome-keyring-daemon; do
        command -v "$tool" >/dev/null || { echo "keychain_session.sh: $tool is not installed" >&2; exit 1; }
    done
    export LANYARD_IN_PRIVATE_BUS=1
    exec timeout 120 dbus-run-session -- sh "$0" "$@"
fi

scratch=$(mktemp -d /tmp/lanyard-keyring-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch"
export XDG_RUNTIME_DIR="$scratch/run"
export XDG_DATA_HOME="$scratch/data"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY

gnome-keyring-daemon --foreground --components=secrets >"$scratch/daemon.log" 2>&1 &
daemon=$!
# Wait (at most 10 s) until the daemon owns the Secret Service name on this bus.
tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "keychain_session.sh: gnome-keyring-daemon did not start" >&2
        cat "$scratch/daemon.log" >&2
        kill "$daemon" 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
done

status=0
LANYARD_PRIVATE_KEYRING=1 "$@" || status=$?
kill "$daemon" 2>/dev/null || true
wait "$daemon" 2>/dev/null || true
exit "$status"
