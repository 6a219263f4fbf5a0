#include "database/setupdatabase.h"

#include "setting/setupconfig.h"

#include <QFile>
#include <QMutexLocker>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

std::atomic<SetupDatabase *> g_instance{nullptr};
QMutex g_instanceMutex;
std::unique_ptr<SetupDatabase> g_holder;

QString scriptFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("执行脚本失败： ") + path + QLatin1Char('\n') + reason;
}

} // namespace

SetupDatabase *SetupDatabase::instance()
{
    SetupDatabase *existing = g_instance.load(std::memory_order_acquire);
    if (existing)
        return existing;
    QMutexLocker locker(&g_instanceMutex);
    existing = g_instance.load(std::memory_order_relaxed);
    if (!existing) {
        g_holder.reset(new SetupDatabase);
        existing = g_holder.get();
        g_instance.store(existing, std::memory_order_release);
    }
    return existing;
}

QString SetupDatabase::openDatabase(const MysqlParam &settings)
{
    QMutexLocker locker(&mutex);
    // Replace the old connection ourselves: addDatabase() on a taken name
    // would drop the old driver without closing its socket.
    releaseConnection();
    db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"),
                                   QLatin1String(QSqlDatabase::defaultConnection));
    db.setHostName(settings.hostName);
    db.setDatabaseName(settings.databaseName);
    db.setUserName(settings.userName);
    if (!settings.password.isEmpty())
        db.setPassword(settings.password);
    if (db.open())
        return QString();
    return QStringLiteral("数据库打开失败： ") + db.lastError().text();
}

QString SetupDatabase::execCleanScript()
{
    return execScript(SetupConfig::instance()->cleanSqlPath());
}

QString SetupDatabase::execInitScript()
{
    return execScript(SetupConfig::instance()->initSqlPath());
}

QString SetupDatabase::execUpdateScript()
{
    return execScript(SetupConfig::instance()->updateSqlPath());
}

void SetupDatabase::closeDatabase()
{
    QMutexLocker locker(&mutex);
    if (db.isValid() && db.driver()->thread() != QThread::currentThread())
        return;
    releaseConnection();
}

QString SetupDatabase::execScript(const QString &path)
{
    QMutexLocker locker(&mutex);
    // Raw bytes, no text-mode translation: line ends reach the server as stored.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("打不开") + path;
    const QByteArray bytes = file.readAll();
    file.close();
    const int end = bytes.indexOf('\0');
    const QString text = QString::fromUtf8(end < 0 ? bytes : bytes.left(end));

    if (!ownsOpenConnection())
        return scriptFailure(path, QStringLiteral("数据库未连接"));
    // The server would reject an empty query text; an empty script simply
    // has nothing to do.
    if (text.trimmed().isEmpty())
        return QString();

    // The whole file goes to the server as one text; QMYSQL connects with
    // CLIENT_MULTI_STATEMENTS, so the server runs the statements in order and
    // stops at the first that fails. exec() reports only the first statement;
    // each later one reports through nextResult(), which also drains the
    // result sets of SELECTs so the connection stays in step.
    QSqlQuery query(db);
    if (!query.exec(text))
        return scriptFailure(path, query.lastError().text());
    while (query.nextResult()) {
    }
    if (query.lastError().isValid())
        return scriptFailure(path, query.lastError().text());
    return QString();
}

bool SetupDatabase::ownsOpenConnection() const
{
    return db.isOpen() && db.driver()->thread() == QThread::currentThread();
}

void SetupDatabase::releaseConnection()
{
    const QString name = db.connectionName();
    if (name.isEmpty())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}
