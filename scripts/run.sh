#!/usr/bin/env bash
# Installs what is missing, builds the launcher and starts it from the demo
# installation build/demo/ (README command 1): the launcher beside its config/
# tree, with settings that point at our stand-in media and SIP servers, a
# private (or the local) MariaDB and a foreground Redis, so every button does
# real work. The product's own ready folder is build/launcher/.
#
# With a reachable display ($DISPLAY) the launcher simply opens there. Without
# one (a headless machine, a container, an ssh session) it is started on a
# private Xvfb display; once its window is up a screenshot is saved to the
# path printed below, and the launcher keeps running until Ctrl+C, which
# stops it and the Xvfb server.
#
# Environment: BUILD_DIR (default build), JOBS (parallel build jobs),
# SCREEN (Xvfb screen, default 1280x720x24), SHOT (screenshot path, default
# $BUILD_DIR/launcher-screenshot.png).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
SCREEN=${SCREEN:-1280x720x24}
SHOT=${SHOT:-$BUILD_DIR/launcher-screenshot.png}
LAUNCHER=$BUILD_DIR/demo/tessarin

bash scripts/deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" --target demo ${JOBS:+-j "$JOBS"}

# The update start opens the database at once, without waiting for the MySQL
# command it has just run; have the demo database up before the first press.
"$BUILD_DIR/demo/mysql-start.sh" || echo "The demo database is not ready; see the lines above." >&2

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Starting $LAUNCHER on display $DISPLAY"
    exec "$LAUNCHER"
fi

echo "No reachable display: starting the launcher on a private Xvfb display."
work=$(mktemp -d)
xvfb_pid=
launcher_pid=
stop() {
    trap - EXIT INT TERM
    if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
        kill "$launcher_pid" 2>/dev/null || true
        wait "$launcher_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap stop EXIT
trap 'echo; echo "Stopping the launcher and Xvfb."; exit 0' INT TERM

# -displayfd makes the server take the first free display number and write it
# to the given descriptor once it accepts clients; -noreset keeps it up when
# its last client goes.
# Ctrl+C on the terminal reaches the whole foreground process group; the
# children run in sessions of their own so that the trap can stop the
# launcher first and its display after it.
setsid Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "$SCREEN" 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 300); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start." >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not report its display." >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
echo "Xvfb is running on display $DISPLAY."

QT_QPA_PLATFORM=xcb setsid "$LAUNCHER" &
launcher_pid=$!

window=
for _ in $(seq 1 300); do
    kill -0 "$launcher_pid" 2>/dev/null || { echo "The launcher ended before its window appeared." >&2; exit 1; }
    window=$(xdotool search --all --onlyvisible --pid "$launcher_pid" --name 'Orvane' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    # A copy that finds another one running shows only its refusal box.
    box=$(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null | head -n 1 || true)
    if [ -n "$box" ] && [ "$(xdotool getwindowname "$box" 2>/dev/null)" = "提示" ]; then
        echo "A launcher is already running on this machine; only one copy may run." >&2
        xdotool windowfocus "$box" key Return 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
done
[ -n "$window" ] || { echo "The launcher window did not appear." >&2; exit 1; }

# The launcher asks to be shown maximised; a bare Xvfb has no window manager
# to carry that out, so do it here before taking the picture.
xdotool windowmove "$window" 0 0 windowsize "$window" 100% 100%
sleep 1 # let the launcher repaint at its new size
mkdir -p "$(dirname "$SHOT")"
import -window root "$SHOT"
echo "Screenshot of the launcher: $(realpath "$SHOT")"
echo "The launcher keeps running on $DISPLAY (pid $launcher_pid). Press Ctrl+C to stop it."

wait "$launcher_pid" || true
launcher_pid=
echo "The launcher has ended."
