#!/usr/bin/env bash
# Makes sure a MariaDB server answers on this machine and that the account the
# database tests use to create their own databases and users exists.
set -euo pipefail

ADMIN_USER=${TESSARIN_TEST_DB_ADMIN_USER:-tessarin_admin}
ADMIN_PASSWORD=${TESSARIN_TEST_DB_ADMIN_PASSWORD:-tessarin_admin_pw}

if ! mysqladmin --protocol=socket -uroot status >/dev/null 2>&1; then
    service mariadb start >/dev/null 2>&1 || service mysql start >/dev/null 2>&1 || true
    for _ in $(seq 1 60); do
        mysqladmin --protocol=socket -uroot status >/dev/null 2>&1 && break
        sleep 1
    done
fi
mysqladmin --protocol=socket -uroot status >/dev/null

# A machine switched off while the server ran can leave the Aria system tables
# (mysql.db above all) with a damaged index: the server still starts, but every
# CREATE USER or GRANT then fails with "Index is corrupted". Rebuild them first.
if ! mysqlcheck --protocol=socket -uroot --auto-repair --check --databases mysql >/tmp/tessarin-mysqlcheck.log 2>&1; then
    cat /tmp/tessarin-mysqlcheck.log >&2
    echo "The MariaDB system tables could not be checked or repaired (see above)." >&2
    exit 1
fi
if grep -qi 'corrupt\|error' /tmp/tessarin-mysqlcheck.log; then
    echo "Repaired damaged MariaDB system tables:"
    grep -i 'corrupt\|error\|repair' /tmp/tessarin-mysqlcheck.log | sed 's/^/  /'
fi

mysql --protocol=socket -uroot <<SQL
CREATE USER IF NOT EXISTS '${ADMIN_USER}'@'127.0.0.1' IDENTIFIED BY '${ADMIN_PASSWORD}';
CREATE USER IF NOT EXISTS '${ADMIN_USER}'@'localhost' IDENTIFIED BY '${ADMIN_PASSWORD}';
GRANT ALL PRIVILEGES ON *.* TO '${ADMIN_USER}'@'127.0.0.1' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '${ADMIN_USER}'@'localhost' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
echo "MariaDB is up; test admin account '${ADMIN_USER}' ready."
