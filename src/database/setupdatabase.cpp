#include "database/setupdatabase.h"

#include "setting/setupconfig.h"
#include "setting/singleton.h"

#include <QFile>
#include <QMutexLocker>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>


namespace {


QString scriptFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("执行脚本失败： ") + path + QLatin1Char('\n') + reason;
}

// Where the comment starting at i ends (just past its line end or "*/"),
// or -1 when no comment starts there.
int pastComment(const QString &script, int i)
{
    const QChar c = script.at(i);
    const QChar next = i + 1 < script.size() ? script.at(i + 1) : QChar();
    if (c == QLatin1Char('#') || (c == QLatin1Char('-') && next == QLatin1Char('-'))) {
        const int end = script.indexOf(QLatin1Char('\n'), i);
        return end < 0 ? script.size() : end + 1;
    }
    if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
        const int end = script.indexOf(QLatin1String("*/"), i + 2);
        return end < 0 ? script.size() : end + 2;
    }
    return -1;
}

// The first line of the script's statement number `index` (from 1), as the
// server splits a multi-statement text: at semicolons outside quotes and
// comments. Empty when the script has fewer statements.
QString statementHead(const QString &script, int index)
{
    int number = 1;
    int start = 0;
    QChar quote;
    const int n = script.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = script.at(i);
        if (!quote.isNull()) {
            if (c == QLatin1Char('\\') && quote != QLatin1Char('`'))
                ++i;
            else if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            quote = c;
        } else if (const int past = pastComment(script, i); past >= 0) {
            i = past - 1;
        } else if (c == QLatin1Char(';')) {
            if (number == index)
                break;
            ++number;
            start = i + 1;
        }
    }
    if (number != index)
        return QString();
    // Its first line of code, past blanks and comments.
    for (int i = start; i < n;) {
        if (script.at(i).isSpace()) {
            ++i;
        } else if (const int past = pastComment(script, i); past >= 0) {
            i = past;
        } else {
            const int end = script.indexOf(QLatin1Char('\n'), i);
            return script.mid(i, end < 0 ? -1 : end - i).trimmed().left(200);
        }
    }
    return QString();
}

// Offset of the first byte that does not belong to a well-formed UTF-8
// sequence (no overlong forms, surrogates or code points past U+10FFFF);
// -1 when all of it is UTF-8.
int firstInvalidUtf8(const QByteArray &bytes)
{
    const int size = bytes.size();
    for (int i = 0; i < size;) {
        const uchar lead = uchar(bytes.at(i));
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        uint code = 0;
        uint least = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else {
            return i;
        }
        if (i + length > size)
            return i;
        for (int k = 1; k < length; ++k) {
            const uchar next = uchar(bytes.at(i + k));
            if ((next & 0xC0) != 0x80)
                return i;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return i;
        i += length;
    }
    return -1;
}

} // namespace

SetupDatabase *SetupDatabase::instance()
{
    return Singleton<SetupDatabase>::instance();
}

QString SetupDatabase::openDatabase(const MysqlParam &settings)
{
    QMutexLocker locker(&mutex);
    const QString error = open(settings);
    connected = error.isEmpty();
    return error;
}

QString SetupDatabase::open(const MysqlParam &settings)
{
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
    // A database server that hangs (stopped, or a firewall that swallows
    // packets) fails the step instead of freezing the sequence for ever.
    const int timeout = current().timeoutSeconds;
    db.setConnectOptions(QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10;MYSQL_OPT_READ_TIMEOUT=%1;MYSQL_OPT_WRITE_TIMEOUT=%1")
                             .arg(timeout));
    if (db.open())
        return QString();
    return QStringLiteral("数据库打开失败： ") + db.lastError().text();
}

DatabaseSettings DatabaseSettings::fromConfig()
{
    const SetupConfig *config = SetupConfig::instance();
    DatabaseSettings s;
    s.mysql = config->mysqlParam();
    s.cleanSqlPath = config->cleanSqlPath();
    s.initSqlPath = config->initSqlPath();
    s.updateSqlPath = config->updateSqlPath();
    s.timeoutSeconds = config->dbTimeout();
    return s;
}

void SetupDatabase::useSettings(const DatabaseSettings &settings)
{
    QMutexLocker locker(&mutex);
    given = settings;
    settingsGiven = true;
}

DatabaseSettings SetupDatabase::current() const
{
    return settingsGiven ? given : DatabaseSettings::fromConfig();
}

QString SetupDatabase::execCleanScript()
{
    return execScript(current().cleanSqlPath);
}

QString SetupDatabase::execInitScript()
{
    return execScript(current().initSqlPath);
}

QString SetupDatabase::execUpdateScript()
{
    return execScript(current().updateSqlPath);
}

void SetupDatabase::closeDatabase()
{
    QMutexLocker locker(&mutex);
    if (db.isValid() && db.driver()->thread() != QThread::currentThread())
        return;
    releaseConnection();
    connected = false;
}

QString SetupDatabase::execScript(const QString &path)
{
    QMutexLocker locker(&mutex);
    // Raw bytes, no text-mode translation: line ends reach the server as stored.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("打不开") + path;
    // A script larger than the server takes is refused before it is read:
    // a 50 MB one would cost several times that in memory first.
    qint64 packetLimit = 0;
    if (connected && ownsConnection()) {
        const QString dead = makeLive(path, &packetLimit);
        if (!dead.isEmpty())
            return dead;
        if (file.size() + 1 > packetLimit) {
            return scriptFailure(path, QStringLiteral("脚本有 %1 字节，超过服务器一次可接收的 max_allowed_packet（%2 字节）")
                                           .arg(file.size())
                                           .arg(packetLimit));
        }
    }
    const QByteArray bytes = file.readAll();
    file.close();
    const int end = bytes.indexOf('\0');
    const QByteArray script = end < 0 ? bytes : bytes.left(end);

    // A script that is not UTF-8 (a GBK export, say) would reach the server
    // as replacement characters; refuse it whole instead.
    const int invalid = firstInvalidUtf8(script);
    if (invalid >= 0) {
        return scriptFailure(path, QStringLiteral("不是 UTF-8 文本：偏移 %1 处的字节 0x%2 无效")
                                       .arg(invalid)
                                       .arg(uchar(script.at(invalid)), 2, 16, QLatin1Char('0')));
    }
    const QString text = QString::fromUtf8(script);

    if (!connected || !ownsConnection())
        return scriptFailure(path, QStringLiteral("数据库未连接"));
    // The server would reject an empty query text; an empty script simply
    // has nothing to do.
    if (text.trimmed().isEmpty())
        return QString();

    // The server drops the connection on a packet over its limit, with no
    // more than "gone away" to say why; the query packet is the text plus
    // one command byte.
    if (script.size() + 1 > packetLimit) {
        return scriptFailure(path, QStringLiteral("脚本有 %1 字节，超过服务器一次可接收的 max_allowed_packet（%2 字节）")
                                       .arg(script.size())
                                       .arg(packetLimit));
    }

    // The whole file goes to the server as one text; QMYSQL connects with
    // CLIENT_MULTI_STATEMENTS, so the server runs the statements in order and
    // stops at the first that fails. exec() reports only the first statement;
    // each later one reports through nextResult(), which also drains the
    // result sets of SELECTs so the connection stays in step.
    // A failure names the statement (the server has run those before it:
    // the retry of an unchanged script may fail on what they made).
    QSqlQuery query(db);
    const auto failedAt = [&](int ran) {
        QString where = QStringLiteral("第 %1 条语句失败（此前 %2 条已执行）").arg(ran + 1).arg(ran);
        const QString head = statementHead(text, ran + 1);
        if (!head.isEmpty())
            where += QStringLiteral("： ") + head;
        return scriptFailure(path, where + QLatin1Char('\n') + query.lastError().text());
    };
    if (!query.exec(text))
        return failedAt(0);
    int ran = 1;
    while (query.nextResult())
        ++ran;
    if (query.lastError().isValid())
        return failedAt(ran);
    return QString();
}

bool SetupDatabase::ownsConnection() const
{
    return db.isValid() && db.driver()->thread() == QThread::currentThread();
}

QString SetupDatabase::makeLive(const QString &path, qint64 *packetLimit)
{
    // A connection the server has killed, or dropped after its idle timeout
    // or a restart, still looks open here. Asking for the packet limit shows
    // whether it answers; if not, it is opened again once, with the settings
    // as they are now, before anything of the script is sent.
    const auto probe = [this, packetLimit](QString *error) {
        QSqlQuery query(db);
        if (db.isOpen() && query.exec(QStringLiteral("SELECT @@max_allowed_packet")) && query.next()) {
            *packetLimit = query.value(0).toLongLong();
            return true;
        }
        *error = query.lastError().text();
        return false;
    };
    QString error;
    if (probe(&error))
        return QString();
    const QString reopened = open(current().mysql);
    if (!reopened.isEmpty())
        return reopened;
    if (probe(&error))
        return QString();
    return scriptFailure(path, error);
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
