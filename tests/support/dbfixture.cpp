#include "dbfixture.h"

#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace TestSupport {

namespace {

QString envOr(const char *name, const char *fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

QString randomHex(int length)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    for (int i = 0; i < length; ++i)
        text += QLatin1Char(digits[QRandomGenerator::global()->bounded(16)]);
    return text;
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

// The accounts are made for both names a loopback client may be seen under.
const char *const kClientHosts[] = {"127.0.0.1", "localhost"};

} // namespace

QString DbFixture::host() { return envOr("TESSARIN_TEST_DB_HOST", "127.0.0.1"); }
QString DbFixture::adminUser() { return envOr("TESSARIN_TEST_DB_ADMIN_USER", "tessarin_admin"); }
QString DbFixture::adminPassword() { return envOr("TESSARIN_TEST_DB_ADMIN_PASSWORD", "tessarin_admin_pw"); }

DbFixture::DbFixture()
{
    static std::atomic<int> serial{0};
    m_connection = QStringLiteral("tessarin_dbfixture_%1").arg(++serial);
    m_name = QStringLiteral("tsn_t_") + randomHex(12);
    m_password = randomHex(16);

    QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), m_connection);
    admin.setHostName(host());
    admin.setUserName(adminUser());
    admin.setPassword(adminPassword());
    if (!admin.open()) {
        m_failure = QStringLiteral(
                        "The test MariaDB server at %1 does not accept the admin account '%2': %3\n"
                        "Start it (and create the account) with: bash scripts/start-mariadb.sh")
                        .arg(host(), adminUser(), admin.lastError().text());
        return;
    }
    m_ready = run(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(m_name))
              && run(QStringLiteral("USE `%1`").arg(m_name))
              && createUser(m_name, m_password);
    if (!m_ready)
        m_failure = QStringLiteral("Could not prepare the test database %1: %2").arg(m_name, m_lastError);
}

DbFixture::~DbFixture()
{
    {
        QSqlDatabase admin = QSqlDatabase::database(m_connection, false);
        if (admin.isOpen())
            dropAll();
        admin.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

void DbFixture::dropAll()
{
    run(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(m_name));
    for (const QString &user : qAsConst(m_users)) {
        for (const char *client : kClientHosts)
            run(QStringLiteral("DROP USER IF EXISTS %1@%2").arg(quoted(user), quoted(QLatin1String(client))));
    }
}

QByteArray DbFixture::mysqlIni(const QString &host, const QString &database,
                               const QString &user, const QString &password)
{
    // Written as INI text; QSettings reads a value that needs no quoting as is.
    return QStringLiteral("[Mysql]\nHostName=%1\nDatabaseName=%2\nUserName=%3\nPassword=%4\n")
        .arg(host, database, user, password)
        .toUtf8();
}

QByteArray DbFixture::mysqlIni() const
{
    return mysqlIni(host(), m_name, m_name, m_password);
}

bool DbFixture::createUser(const QString &name, const QString &password)
{
    m_users.append(name);
    for (const char *client : kClientHosts) {
        const QString account = quoted(name) + QLatin1Char('@') + quoted(QLatin1String(client));
        const QString identified = password.isEmpty()
            ? QString()
            : QStringLiteral(" IDENTIFIED BY ") + quoted(password);
        if (!run(QStringLiteral("CREATE USER ") + account + identified)
            || !run(QStringLiteral("GRANT ALL PRIVILEGES ON `%1`.* TO %2").arg(m_name, account)))
            return false;
    }
    return true;
}

bool DbFixture::exec(const QString &sql)
{
    return run(sql);
}

bool DbFixture::run(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql)) {
        m_lastError.clear();
        return true;
    }
    m_lastError = query.lastError().text();
    return false;
}

QStringList DbFixture::column(const QString &sql)
{
    QStringList values;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(sql)) {
        m_lastError = query.lastError().text();
        return values;
    }
    m_lastError.clear();
    while (query.next())
        values.append(query.isNull(0) ? QStringLiteral("NULL") : query.value(0).toString());
    return values;
}

QStringList DbFixture::connectionIds(const QString &user)
{
    return column(QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE USER = %1 ORDER BY ID")
                      .arg(quoted(user)));
}

} // namespace TestSupport
