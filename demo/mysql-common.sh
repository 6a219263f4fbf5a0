# Shared by mysql-start.sh and mysql-stop.sh of the tessarin demo folder.
# Sourced, not run. POSIX sh. Expects DEMO_DIR (the demo folder) to be set.

INI="$DEMO_DIR/config/SetupConfig.ini"
BASE_REAL="$DEMO_DIR/mysql"     # the private instance: my.cnf, data/, run/, tmp/, logs
BASE=$BASE_REAL
# mariadb-install-db mishandles paths with blanks, and unix socket paths are
# limited to about 107 bytes: such a folder is reached through a short link.
case "$BASE_REAL" in
    *[!A-Za-z0-9_./-]*) BASE= ;;
esac
if [ -z "$BASE" ] || [ "${#BASE_REAL}" -gt 70 ]; then
    BASE="/tmp/tessarin-demo-mysql-$(printf '%s' "$BASE_REAL" | cksum | cut -d' ' -f1)"
fi
DATA="$BASE/data"
RUN="$BASE/run"
CNF="$BASE/my.cnf"
ERRLOG="$BASE/mariadbd.err"
PIDFILE="$RUN/mariadbd.pid"
SOCK="$RUN/mysqld.sock"

# Creates the instance folder (and its short link where one is used).
prepare_base() {
    mkdir -p "$BASE_REAL" || return 1
    [ "$BASE" = "$BASE_REAL" ] && return 0
    if [ -e "$BASE" ] && [ ! -L "$BASE" ]; then
        say "错误 / error: $BASE exists and is not a link; remove it"
        return 1
    fi
    ln -sfn "$BASE_REAL" "$BASE"
}

say() {
    # One line per write, straight to the launcher's console.
    printf '[mysql-demo] %s\n' "$*"
}

find_cmd() {
    for c in "$@"; do
        if command -v "$c" >/dev/null 2>&1; then
            command -v "$c"
            return 0
        fi
        for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
            if [ -x "$d/$c" ]; then
                printf '%s\n' "$d/$c"
                return 0
            fi
        done
    done
    return 1
}

MARIADBD=$(find_cmd mariadbd mysqld) || MARIADBD=
INSTALL_DB=$(find_cmd mariadb-install-db mysql_install_db) || INSTALL_DB=
ADMIN=$(find_cmd mariadb-admin mysqladmin) || ADMIN=
CLIENT=$(find_cmd mariadb mysql) || CLIENT=
CHECK=$(find_cmd mariadb-check mysqlcheck) || CHECK=

# Reads one value of the launcher's INI settings file (QSettings format):
# ini_value Section Key. Quoted values lose their quotes and escapes.
ini_value() {
    [ -r "$INI" ] || return 0
    awk -v section="[$1]" -v key="$2" '
        { sub(/\r$/, "") }
        /^[ \t]*\[/ { inside = ($0 == section); next }
        inside {
            i = index($0, "=")
            if (i == 0) next
            k = substr($0, 1, i - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
            if (k != key) next
            v = substr($0, i + 1); gsub(/^[ \t]+|[ \t]+$/, "", v)
            if (length(v) >= 2 && substr(v, 1, 1) == "\"" && substr(v, length(v), 1) == "\"") {
                v = substr(v, 2, length(v) - 2)
                out = ""
                for (j = 1; j <= length(v); j++) {
                    c = substr(v, j, 1)
                    if (c == "\\" && j < length(v)) { j++; c = substr(v, j, 1) }
                    out = out c
                }
                v = out
            }
            print v
            exit
        }' "$INI"
}

# Pid of the running private instance, or nothing.
private_pid() {
    [ -r "$PIDFILE" ] || return 0
    pid=$(cat "$PIDFILE" 2>/dev/null)
    case "$pid" in
        ''|*[!0-9]*) return 0 ;;
    esac
    if kill -0 "$pid" 2>/dev/null; then
        printf '%s\n' "$pid"
    fi
}

# The operating-system account that may administer the private instance
# through its socket: root when run as root, else the current user.
admin_user() {
    if [ "$(id -u)" -eq 0 ]; then echo root; else id -un; fi
}

private_sql() {
    "$CLIENT" --defaults-file="$CNF" --protocol=socket -u"$(admin_user)" "$@"
}

# A machine switched off while the instance ran can leave the Aria system
# tables with a damaged index; CREATE USER and GRANT then fail with "Index is
# corrupted". Checks them and rebuilds what is damaged; says what it repaired.
repair_system_tables() {
    [ -n "$CHECK" ] || return 0
    out=$("$CHECK" --defaults-file="$CNF" --protocol=socket -u"$(admin_user)" \
        --auto-repair --check --databases mysql 2>&1) || {
        say "警告 / warning: checking the MariaDB system tables failed:"
        printf '%s\n' "$out" | while IFS= read -r line; do say "    $line"; done
        return 1
    }
    if printf '%s\n' "$out" | grep -qi 'corrupt\|error'; then
        say "已修复损坏的系统表 / repaired damaged MariaDB system tables"
    fi
    return 0
}
