#!/bin/sh
# Smoke tests of the demo folder, run by CTest:
#   test-demo.sh standins <demo folder>   the stand-in servers
#   test-demo.sh mysql <demo folder>      mysql-start.sh / mysql-stop.sh on a
#                                         private instance in a scratch folder
# Exit code 0: passed, 77: skipped (no MariaDB server programs), else failed.
set -u
what=${1:-}
DEMO=${2:-}
[ -d "$DEMO" ] || { echo "usage: $0 standins|mysql <demo folder>"; exit 2; }
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-demo-test.XXXXXX") || exit 1
trap 'rm -rf "$SCRATCH"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

check_standin() {
    name=$1
    shift
    "$DEMO/$name" --interval-ms=300 "$@" >"$SCRATCH/$name.out" 2>"$SCRATCH/$name.err" &
    pid=$!
    sleep 2
    kill -0 "$pid" 2>/dev/null || fail "$name ended by itself"
    kill -TERM "$pid"
    wait "$pid"
    rc=$?
    [ "$rc" -eq 0 ] || fail "$name: exit code $rc after SIGTERM"
    grep -q 'stand-in' "$SCRATCH/$name.out" || fail "$name: no stand-in notice"
    grep -q 'received SIGTERM' "$SCRATCH/$name.out" || fail "$name: SIGTERM not reported"
    tail -n 1 "$SCRATCH/$name.out" | grep -q 'bye$' || fail "$name: no goodbye line"
    [ "$(grep -c '\[status\]' "$SCRATCH/$name.out")" -ge 3 ] || fail "$name: fewer than 3 status lines"
    grep -q 'ignoring unknown' "$SCRATCH/$name.err" || fail "$name: no warning on stderr"
    echo "ok: $name ($(wc -l <"$SCRATCH/$name.out") lines on stdout)"
}

case "$what" in
standins)
    check_standin standin-mediaserver --http-port=8080 --bogus
    check_standin standin-sipserver --mysql=127.0.0.1:1 --redis=none --bogus
    grep -q 'MySQL at 127.0.0.1:1 not reachable' "$SCRATCH/standin-sipserver.err" \
        || fail "standin-sipserver: unreachable MySQL not reported"
    "$DEMO/standin-mediaserver" --interval-ms=200 --exit-after=1 >/dev/null 2>&1 \
        || fail "standin-mediaserver --exit-after: non-zero exit"
    ;;
mysql)
    command -v mariadbd >/dev/null 2>&1 || [ -x /usr/sbin/mariadbd ] || { echo "skipped: no mariadbd"; exit 77; }
    PORT=${TESSARIN_DEMO_TEST_MYSQL_PORT:-3327}
    if mariadb-admin --no-defaults --protocol=tcp -h127.0.0.1 -P"$PORT" --connect-timeout=2 ping >/dev/null 2>&1; then
        echo "skipped: port $PORT is in use"
        exit 77
    fi
    folder="$SCRATCH/demo folder"   # a blank in the path on purpose
    mkdir -p "$folder/config"
    cp "$DEMO/mysql-start.sh" "$DEMO/mysql-stop.sh" "$DEMO/mysql-common.sh" "$folder/"
    cp "$DEMO/config/SetupConfig.ini" "$folder/config/"
    [ "$(id -u)" -eq 0 ] && chmod 755 "$SCRATCH"
    export TESSARIN_DEMO_MYSQL_PORT=$PORT
    # Started in its own session, like the launcher's process group; the
    # group is killed afterwards and the server must survive.
    setsid "$folder/mysql-start.sh" start >"$SCRATCH/start1.out" 2>&1
    rc=$?
    cat "$SCRATCH/start1.out"
    [ "$rc" -eq 0 ] || fail "first start: exit code $rc"
    grep -q 'first use' "$SCRATCH/start1.out" || fail "first start did not create the data folder"
    "$folder/mysql-start.sh" start >"$SCRATCH/start2.out" 2>&1 || { cat "$SCRATCH/start2.out"; "$folder/mysql-stop.sh" --purge; fail "second start failed"; }
    grep -q 'already running' "$SCRATCH/start2.out" || { "$folder/mysql-stop.sh" --purge; fail "second start was not idempotent"; }
    user=$(awk -F= '/^UserName=/ { gsub(/"/, "", $2); print $2 }' "$folder/config/SetupConfig.ini")
    pass=$(awk -F= '/^Password=/ { gsub(/"/, "", $2); print $2 }' "$folder/config/SetupConfig.ini")
    db=$(awk -F= '/^DatabaseName=/ { gsub(/"/, "", $2); print $2 }' "$folder/config/SetupConfig.ini")
    MYSQL_PWD=$pass mariadb --no-defaults --protocol=tcp -h127.0.0.1 -P"$PORT" -u"$user" -N \
        -e 'CREATE TABLE t (i INT); DROP TABLE t; SELECT @@bind_address' "$db" >"$SCRATCH/login.out" 2>&1 \
        || { cat "$SCRATCH/login.out"; "$folder/mysql-stop.sh" --purge; fail "demo account cannot use its database"; }
    grep -qx '127.0.0.1' "$SCRATCH/login.out" || { "$folder/mysql-stop.sh" --purge; fail "server not bound to loopback only"; }
    "$folder/mysql-stop.sh" --purge || fail "stop failed"
    ! mariadb-admin --no-defaults --protocol=tcp -h127.0.0.1 -P"$PORT" --connect-timeout=2 ping >/dev/null 2>&1 \
        || fail "server still answers after mysql-stop.sh"
    echo "ok: private instance created, reused, used by the demo account, stopped"
    ;;
*)
    echo "usage: $0 standins|mysql <demo folder>"
    exit 2 ;;
esac
exit 0
