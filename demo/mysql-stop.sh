#!/bin/sh
# Stops the private MariaDB instance of the tessarin demo folder, started by
# mysql-start.sh. A server it did not start (a system service) is left alone.
#
#   mysql-stop.sh [--purge]
#
# --purge also deletes the instance's folder (<demo>/mysql/: data, logs), so
# that the next mysql-start.sh creates it afresh.
set -u

DEMO_DIR=$(cd "$(dirname "$0")" && pwd -P)
. "$DEMO_DIR/mysql-common.sh"

PURGE=
for arg in "$@"; do
    case "$arg" in
        ''|stop) ;;
        --purge) PURGE=1 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) say "ignoring unknown argument: $arg" ;;
    esac
done

pid=$(private_pid)
if [ -z "$pid" ]; then
    say "私有 MariaDB 实例未运行 / the private MariaDB instance is not running"
else
    say "停止私有 MariaDB 实例 / stopping the private MariaDB instance (pid $pid)"
    kill -TERM "$pid" 2>/dev/null
    waited=0
    while kill -0 "$pid" 2>/dev/null; do
        if [ "$waited" -ge 60 ]; then
            say "MariaDB did not stop within 30 s; killing it"
            kill -KILL "$pid" 2>/dev/null
            sleep 1
            break
        fi
        sleep 0.5 2>/dev/null || sleep 1
        waited=$((waited + 1))
    done
    say "已停止 / stopped"
fi

if [ -n "$PURGE" ]; then
    rm -rf "$BASE_REAL"
    [ "$BASE" != "$BASE_REAL" ] && [ -L "$BASE" ] && rm -f "$BASE"
    say "已删除 / deleted $BASE_REAL"
fi
exit 0
