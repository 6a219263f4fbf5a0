#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace TestSupport {

// A throw-away database on the test MariaDB server: a uniquely named database
// and a user of the same name with a random password and every right on it,
// both created through the admin account and dropped again at the end.
//
// The admin account comes from TESSARIN_TEST_DB_ADMIN_USER /
// TESSARIN_TEST_DB_ADMIN_PASSWORD (defaults tessarin_admin /
// tessarin_admin_pw, as scripts/start-mariadb.sh creates it); the server from
// TESSARIN_TEST_DB_HOST (default 127.0.0.1). When the server cannot be
// reached, isReady() is false and failure() says how to start it: callers
// QFAIL with it, in CI and elsewhere alike, never skip.
//
// The admin connection belongs to the thread that built the fixture.
class DbFixture
{
public:
    DbFixture();
    ~DbFixture();
    DbFixture(const DbFixture &) = delete;
    DbFixture &operator=(const DbFixture &) = delete;

    bool isReady() const { return m_ready; }
    QString failure() const { return m_failure; }

    static QString host();
    static QString adminUser();
    static QString adminPassword();
    QString database() const { return m_name; }
    QString user() const { return m_name; }
    QString password() const { return m_password; }

    // The /Mysql/* keys of a settings file pointing at the given account.
    static QByteArray mysqlIni(const QString &host, const QString &database,
                               const QString &user, const QString &password);
    // ... and at this fixture's database and user.
    QByteArray mysqlIni() const;

    // Another account with every right on this database (no password when
    // empty); dropped with the fixture.
    bool createUser(const QString &name, const QString &password);

    // Admin statements, run with this fixture's database as the default one.
    bool exec(const QString &sql);
    // First column of every row, as text (NULL as "NULL"); empty on failure.
    QStringList column(const QString &sql);
    // The ids of the server threads currently connected as this user.
    QStringList connectionIds(const QString &user);
    QString lastError() const { return m_lastError; }

private:
    bool run(const QString &sql);
    void dropAll();

    QString m_connection;
    QString m_name;
    QString m_password;
    QStringList m_users;
    QString m_lastError;
    QString m_failure;
    bool m_ready = false;
};

} // namespace TestSupport
