#!/bin/sh
# The MySQL command of the tessarin demo folder (the counterpart of
# "net start mysql" on Windows): makes sure a MariaDB server answers on
# 127.0.0.1:<port> and that the database, user and password of the demo
# settings (config/SetupConfig.ini, section Mysql) exist in it, then returns.
#
#   mysql-start.sh [start] [--port=N]
#
# - If a MariaDB/MySQL server already listens on the port (a system service,
#   say), it is used: the demo database and user are created there when this
#   command has the rights to (root through the server's unix socket);
#   otherwise it says what to do.
# - Otherwise a private MariaDB instance is started: its own data folder
#   under <demo>/mysql/ (created on first use), loopback only, detached into
#   its own session so that killing this command does not stop it. Stop it
#   with mysql-stop.sh.
# The port is 3306 because the launcher connects on the MySQL driver's default
# port (its settings hold no port); --port or TESSARIN_DEMO_MYSQL_PORT change
# it for tests only. Running it again while the server runs changes nothing.
# Progress goes to stdout (UTF-8), one line at a time; exit code 0 on success.
set -u

DEMO_DIR=$(cd "$(dirname "$0")" && pwd -P)
. "$DEMO_DIR/mysql-common.sh"

PORT=${TESSARIN_DEMO_MYSQL_PORT:-3306}
for arg in "$@"; do
    case "$arg" in
        ''|start) ;;   # the launcher passes its argument text split at blanks
        --port=*) PORT=${arg#--port=} ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) say "忽略未知参数 / ignoring unknown argument: $arg" ;;
    esac
done
case "$PORT" in
    ''|*[!0-9]*) say "错误 / error: invalid port '$PORT'"; exit 2 ;;
esac

HOST=$(ini_value Mysql HostName)
DB=$(ini_value Mysql DatabaseName)
DBUSER=$(ini_value Mysql UserName)
DBPASS=$(ini_value Mysql Password)
: "${HOST:=127.0.0.1}" "${DB:=tessarin_demo}" "${DBUSER:=tessarin_demo}" "${DBPASS:=tessarin_demo_pw}"

case "$HOST" in
    127.0.0.1|localhost|::1) ;;
    *)
        say "设置中的数据库主机是 $HOST, 不是本机 / the settings point at host $HOST, not this machine."
        say "本命令只管理本机的 MariaDB / this command manages the local MariaDB only: nothing to do."
        exit 1 ;;
esac
case "$DB$DBUSER" in
    *[!A-Za-z0-9_]*)
        say "错误 / error: database and user names must be letters, digits and '_' (got '$DB', '$DBUSER')"
        exit 2 ;;
esac
case "$DBPASS" in
    *\'*|*\\*)
        say "错误 / error: the password in config/SetupConfig.ini must not contain ' or \\"
        exit 2 ;;
esac

if [ -z "$CLIENT" ] || [ -z "$ADMIN" ]; then
    say "错误 / error: MariaDB client programs not found. Install them (as root): apt-get install mariadb-client mariadb-server"
    exit 1
fi

ACCOUNT_SQL="CREATE DATABASE IF NOT EXISTS \`$DB\` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE USER IF NOT EXISTS '$DBUSER'@'127.0.0.1' IDENTIFIED BY '$DBPASS';
CREATE USER IF NOT EXISTS '$DBUSER'@'localhost' IDENTIFIED BY '$DBPASS';
ALTER USER '$DBUSER'@'127.0.0.1' IDENTIFIED BY '$DBPASS';
ALTER USER '$DBUSER'@'localhost' IDENTIFIED BY '$DBPASS';
GRANT ALL PRIVILEGES ON \`$DB\`.* TO '$DBUSER'@'127.0.0.1';
GRANT ALL PRIVILEGES ON \`$DB\`.* TO '$DBUSER'@'localhost';
FLUSH PRIVILEGES;"

# Can the launcher's account log in over TCP, into its database?
demo_login_ok() {
    MYSQL_PWD="$DBPASS" "$CLIENT" --no-defaults --protocol=tcp -h127.0.0.1 -P"$PORT" \
        --connect-timeout=3 -u"$DBUSER" -N -e 'SELECT 1' "$DB" >/dev/null 2>&1
}

server_answers() {
    "$ADMIN" --no-defaults --protocol=tcp -h127.0.0.1 -P"$PORT" --connect-timeout=2 ping >/dev/null 2>&1
}

what_to_do() {
    say "请以数据库管理员身份执行以下 SQL / run this SQL as a database administrator of the server on port $PORT"
    say "(for example: sudo mariadb -uroot), then press 启动 again:"
    printf '%s\n' "$ACCOUNT_SQL" | while IFS= read -r line; do say "    $line"; done
    say "或者停止该端口上的服务器, 本命令将启动私有实例 / or stop the server on port $PORT and this command starts a private instance."
}

report_ok() {
    say "数据库就绪 / database ready: $DBUSER@127.0.0.1:$PORT/$DB"
    exit 0
}

# 1. The private instance runs already.
pid=$(private_pid)
if [ -n "$pid" ]; then
    running_port=$(awk '/^\[/ { inside = ($0 == "[mysqld]"); next } inside && $1 == "port" { print $3; exit }' "$CNF" 2>/dev/null)
    if [ -n "$running_port" ] && [ "$running_port" != "$PORT" ]; then
        say "错误 / error: the private MariaDB instance (pid $pid) runs on port $running_port, not $PORT."
        say "Stop it with $DEMO_DIR/mysql-stop.sh, then start again."
        exit 1
    fi
    say "私有 MariaDB 实例已在运行 / the private MariaDB instance is already running (pid $pid, port $PORT)"
    if ! demo_login_ok; then
        say "创建演示数据库和用户 / creating the demo database and user"
        private_sql -e "$ACCOUNT_SQL" || { say "错误 / error: could not create them; see $ERRLOG"; exit 1; }
    fi
    demo_login_ok && report_ok
    say "错误 / error: login as $DBUSER failed on port $PORT"
    exit 1
fi

# 2. Another MariaDB/MySQL server answers on the port: use it.
if server_answers; then
    say "端口 $PORT 上已有 MariaDB/MySQL 服务器在运行, 演示将使用它 / a MariaDB/MySQL server already listens on 127.0.0.1:$PORT; the demo uses it"
    if demo_login_ok; then
        say "演示数据库和用户已存在 / the demo database and user exist"
        report_ok
    fi
    if [ "$DBUSER" = root ]; then
        say "错误 / error: login as root failed, and this command does not change root's password."
        say "Set /Mysql/UserName and /Mysql/Password in config/SetupConfig.ini to an account of that server."
        exit 1
    fi
    # Administrator access through the server's own unix socket (root).
    if "$CLIENT" --protocol=socket -uroot -N -e 'SELECT @@port' 2>/dev/null | grep -qx "$PORT"; then
        say "以 root 身份创建演示数据库和用户 / creating the demo database and user as root"
        if "$CLIENT" --protocol=socket -uroot -e "$ACCOUNT_SQL" && demo_login_ok; then
            report_ok
        fi
        say "错误 / error: creating the demo database and user failed."
        what_to_do
        exit 1
    fi
    say "错误 / error: the demo account '$DBUSER' cannot log in and this command has no administrator access to that server."
    what_to_do
    exit 1
fi

# 3. Nothing answers: start the private instance.
if [ -z "$MARIADBD" ] || [ -z "$INSTALL_DB" ]; then
    say "错误 / error: mariadbd not found. Install it (as root): apt-get install mariadb-server"
    exit 1
fi
umask 022
prepare_base && mkdir -p "$DATA" "$RUN" "$BASE/tmp" && touch "$ERRLOG" \
    || { say "错误 / error: cannot create $BASE_REAL"; exit 1; }
rm -f "$PIDFILE"

# mariadbd refuses to run as root unless told which user to be. As root it
# runs as "mysql" when that account can use the folder, else as root.
RUN_AS=
if [ "$(id -u)" -eq 0 ]; then
    RUN_AS=root
    if id mysql >/dev/null 2>&1 && chown -R mysql:mysql "$BASE_REAL" 2>/dev/null \
        && runuser -u mysql -- sh -c 'test -w "$1" && test -w "$2" && test -r "$3"' sh "$DATA" "$RUN" "$BASE" 2>/dev/null; then
        RUN_AS=mysql
    fi
fi

cat >"$CNF" <<EOF
# Private MariaDB instance of the tessarin demo folder (written by mysql-start.sh).
[client]
socket = "$SOCK"
port = $PORT

[mysqld]
datadir = "$DATA"
socket = "$SOCK"
pid-file = "$PIDFILE"
log-error = "$ERRLOG"
# Not the caller's TMPDIR, which the server's account may not be allowed to use.
tmpdir = "$BASE/tmp"
port = $PORT
bind-address = 127.0.0.1
character-set-server = utf8mb4
collation-server = utf8mb4_unicode_ci
innodb_buffer_pool_size = 64M
max_connections = 50
EOF
[ "$RUN_AS" = mysql ] && chown mysql:mysql "$CNF"

if [ ! -f "$DATA/mysql/user.frm" ]; then
    say "首次使用: 初始化数据目录 / first use: creating the data folder $BASE_REAL/data"
    # A folder left half-made by an interrupted first use is made again.
    rm -rf "$DATA" && mkdir -p "$DATA" && { [ "$RUN_AS" != mysql ] || chown mysql:mysql "$DATA"; }
    set -- --defaults-file="$CNF" --auth-root-authentication-method=socket \
        --auth-root-socket-user="$(admin_user)" --skip-test-db
    [ -n "$RUN_AS" ] && set -- "$@" --user="$RUN_AS"
    if ! "$INSTALL_DB" "$@" >"$BASE/install.log" 2>&1 || [ ! -f "$DATA/mysql/user.frm" ]; then
        say "错误 / error: initialising the data folder failed; last lines of $ERRLOG:"
        tail -n 10 "$ERRLOG" | while IFS= read -r line; do say "    $line"; done
        say "(details in $BASE_REAL/install.log)"
        rm -rf "$DATA"
        exit 1
    fi
    say "数据目录已创建 / data folder created"
fi

say "启动私有 MariaDB 实例 / starting the private MariaDB instance on 127.0.0.1:$PORT (run as ${RUN_AS:-$(id -un)})"
set -- --defaults-file="$CNF"
[ -n "$RUN_AS" ] && set -- "$@" --user="$RUN_AS"
# Own session and process group, no terminal, no pipes to the launcher.
if command -v setsid >/dev/null 2>&1; then
    setsid "$MARIADBD" "$@" </dev/null >>"$ERRLOG" 2>&1 &
else
    nohup "$MARIADBD" "$@" </dev/null >>"$ERRLOG" 2>&1 &
fi
child=$!

waited=0
while :; do
    if "$ADMIN" --defaults-file="$CNF" --protocol=socket -u"$(admin_user)" --connect-timeout=2 ping >/dev/null 2>&1; then
        break
    fi
    if ! kill -0 "$child" 2>/dev/null; then
        say "错误 / error: MariaDB stopped while starting; last lines of $ERRLOG:"
        tail -n 15 "$ERRLOG" | while IFS= read -r line; do say "    $line"; done
        exit 1
    fi
    if [ "$waited" -ge 60 ]; then
        say "错误 / error: MariaDB did not answer within 60 s; see $ERRLOG"
        exit 1
    fi
    sleep 1
    waited=$((waited + 1))
    [ $((waited % 5)) -eq 0 ] && say "等待 MariaDB 应答 / waiting for MariaDB to answer ($waited s)"
done

say "MariaDB 已启动 / MariaDB is up: pid $(cat "$PIDFILE" 2>/dev/null || echo "$child"), 127.0.0.1:$PORT, data $BASE_REAL/data"
repair_system_tables
if ! demo_login_ok; then
    private_sql -e "$ACCOUNT_SQL" || { say "错误 / error: creating the demo database and user failed; see $ERRLOG"; exit 1; }
fi
demo_login_ok && report_ok
say "错误 / error: login as $DBUSER failed on port $PORT"
exit 1
