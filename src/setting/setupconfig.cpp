#include "setting/setupconfig.h"

#include "setting/inifile.h"
#include "setting/platformdefaults.h"
#include "setting/singleton.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {


// One row of the key table: the key and the member it mirrors. The table
// order is the order in which the file is completed and read.
struct KeyEntry
{
    const char *key;
    QString *text = nullptr;
    int *number = nullptr;
    bool *flag = nullptr;

    QString stored() const
    {
        if (text)
            return *text;
        if (number)
            return QString::number(*number);
        return *flag ? QStringLiteral("true") : QStringLiteral("false");
    }

    // Strings as they stand; numbers and switches as QSettings converts
    // them: "abc" is 0, and only "", "0" and "false" in any case are false.
    void assign(const QString &v) const
    {
        const QString trimmed = v.trimmed();
        if (text)
            *text = v;
        else if (number)
            *number = trimmed.toInt();
        else
            *flag = !(trimmed.isEmpty() || trimmed == QLatin1String("0")
                      || trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0);
    }
};

} // namespace

SetupConfig *SetupConfig::instance()
{
    return Singleton<SetupConfig>::instance();
}

SetupConfig::SetupConfig()
{
    setDefaults();
}

void SetupConfig::setDefaults()
{
    appDir.clear();
    mediaServer = {PlatformDefaults::mediaServerProgram(), QString(), QString(), 10000};
    sipServer = {PlatformDefaults::sipServerProgram(), QString(), PlatformDefaults::sipServerParam(), 10000};
    m_fontSize = 12;
    initScript = QStringLiteral("init.sql");
    updateScript = QStringLiteral("update.sql");
    cleanScript = QStringLiteral("clean.sql");
    m_waitProcess = 4;
    m_sipReadyPort = 0;
    m_sipReadyPattern.clear();
    // TCP to the loopback address on every platform: "localhost" would make
    // the MySQL client library try a Unix socket on Linux.
    mysql = {QStringLiteral("127.0.0.1"), QStringLiteral("wvp"), QStringLiteral("root"), QStringLiteral("749261")};
    mysqlSetup = {true, PlatformDefaults::mysqlCmdPath(), PlatformDefaults::mysqlWorkDir(), PlatformDefaults::mysqlCmdStr()};
    redisSetup = {true, PlatformDefaults::redisPath(), PlatformDefaults::redisWorkDir(), PlatformDefaults::redisParameter()};
    m_stopGrace = 5;
    m_dbTimeout = 300;
    mediaFlags = ServerFlags();
    sipFlags = ServerFlags();
}

void SetupConfig::initialize(const QString &path)
{
    setDefaults();
    appDir = path;
    load();
}

QString SetupConfig::configDir() const
{
    return appDir + QStringLiteral("/config");
}

QString SetupConfig::configFilePath() const
{
    return configDir() + QStringLiteral("/SetupConfig.ini");
}

QString SetupConfig::scriptPath(const QString &name) const
{
    return configDir() + QStringLiteral("/mysql/") + name;
}

QString SetupConfig::initSqlPath() const { return scriptPath(initScript); }
QString SetupConfig::updateSqlPath() const { return scriptPath(updateScript); }
QString SetupConfig::cleanSqlPath() const { return scriptPath(cleanScript); }

void SetupConfig::load()
{
    for (const QString &dir : {appDir, configDir()}) {
        if (!QDir(dir).exists())
            QDir().mkpath(dir);
    }

    const KeyEntry keys[] = {
        {"/MediaServer/ProgramPath", &mediaServer.programPath},
        {"/MediaServer/WorkPath", &mediaServer.workPath},
        {"/MediaServer/Param", &mediaServer.param},
        {"/MediaServer/RecordCount", nullptr, &mediaServer.recordCount},
        {"/SipServer/ProgramPath", &sipServer.programPath},
        {"/SipServer/WorkPath", &sipServer.workPath},
        {"/SipServer/Param", &sipServer.param},
        {"/SipServer/RecordCount", nullptr, &sipServer.recordCount},
        {"/Font/Size", nullptr, &m_fontSize},
        {"/Mysql/Init", &initScript},
        {"/Mysql/Update", &updateScript},
        {"/Mysql/Clean", &cleanScript},
        {"/Time/WaitProcess", nullptr, &m_waitProcess},
        {"/Mysql/HostName", &mysql.hostName},
        {"/Mysql/DatabaseName", &mysql.databaseName},
        {"/Mysql/UserName", &mysql.userName},
        {"/Mysql/Password", &mysql.password},
        {"/SetupMysql/State", nullptr, nullptr, &mysqlSetup.state},
        {"/SetupMysql/CmdPath", &mysqlSetup.cmdPath},
        {"/SetupMysql/MysqlPath", &mysqlSetup.mysqlPath},
        {"/SetupMysql/CmdStr", &mysqlSetup.cmdStr},
        {"/SetupRedisParam/State", nullptr, nullptr, &redisSetup.state},
        {"/SetupRedisParam/Path", &redisSetup.path},
        {"/SetupRedisParam/WorkDir", &redisSetup.workDir},
        {"/SetupRedisParam/Parameter", &redisSetup.parameter},
    };

    // A missing or unwritable file leaves the defaults in effect.
    IniFile store(configFilePath());
    if (QFileInfo::exists(configFilePath())) {
        for (const KeyEntry &entry : keys) {
            const QString key = QLatin1String(entry.key);
            if (!store.contains(key))
                store.setValue(key, entry.stored());
        }
        for (const KeyEntry &entry : keys)
            entry.assign(store.value(QLatin1String(entry.key), entry.stored()));
    } else {
        for (const KeyEntry &entry : keys)
            store.setValue(QLatin1String(entry.key), entry.stored());
    }
    // Keys the file holds only when the operator added them: the completion
    // pass above leaves them out.
    const int port = store.value(QStringLiteral("/SipServer/ReadyPort"), QStringLiteral("0")).trimmed().toInt();
    m_sipReadyPort = port > 0 && port < 65536 ? port : 0;
    m_sipReadyPattern = store.value(QStringLiteral("/SipServer/ReadyPattern"), QString());
    store.save();

    // Settings added later are read when present, never written by the
    // completion pass: an operator who never sets them keeps the file as it was.
    // Beyond ten minutes a hidden launcher would hold its servers (and the
    // single-instance guard) for ever after "退出"; milliseconds of larger
    // values would overflow.
    // A value present but not a number in range leaves the default and is
    // returned (null when absent or taken).
    const auto readSeconds = [&store](const char *key, int low, int high, int *seconds) {
        const QString k = QLatin1String(key);
        if (!store.contains(k))
            return QString();
        const QString raw = store.value(k, QString());
        bool ok = false;
        const int value = raw.trimmed().toInt(&ok);
        if (!ok || value < low || value > high)
            return raw.isNull() ? QStringLiteral("") : raw;
        *seconds = value;
        return QString();
    };
    m_stopGraceIgnored = readSeconds("/Time/StopGrace", 0, 600, &m_stopGrace);
    readSeconds("/Time/DbTimeout", 1, 86400, &m_dbTimeout);
    const KeyEntry optional[] = {
        {"/MediaServer/AutoRestart", nullptr, nullptr, &mediaFlags.autoRestart},
        {"/SipServer/AutoRestart", nullptr, nullptr, &sipFlags.autoRestart},
        {"/MediaServer/StartWithLauncher", nullptr, nullptr, &mediaFlags.startWithLauncher},
        {"/SipServer/StartWithLauncher", nullptr, nullptr, &sipFlags.startWithLauncher},
    };
    for (const KeyEntry &entry : optional)
        entry.assign(store.value(QLatin1String(entry.key), entry.stored()));
}

SetupConfig::ServerFlags &SetupConfig::flagsOf(const QString &group)
{
    return group == QLatin1String("SipServer") ? sipFlags : mediaFlags;
}

const SetupConfig::ServerFlags &SetupConfig::flagsOf(const QString &group) const
{
    return group == QLatin1String("SipServer") ? sipFlags : mediaFlags;
}

bool SetupConfig::autoRestart(const QString &group) const
{
    return flagsOf(group).autoRestart;
}

bool SetupConfig::startWithLauncher(const QString &group) const
{
    return flagsOf(group).startWithLauncher;
}

bool SetupConfig::saveFlag(const QString &group, const char *key, bool on)
{
    IniFile store(configFilePath());
    store.setValue(QStringLiteral("/") + group + QLatin1Char('/') + QLatin1String(key),
                   on ? QStringLiteral("true") : QStringLiteral("false"));
    return store.save();
}

bool SetupConfig::saveAutoRestart(const QString &group, bool on)
{
    flagsOf(group).autoRestart = on;
    return saveFlag(group, "AutoRestart", on);
}

bool SetupConfig::saveStartWithLauncher(const QString &group, bool on)
{
    flagsOf(group).startWithLauncher = on;
    return saveFlag(group, "StartWithLauncher", on);
}

bool SetupConfig::saveServerParam(const QString &group, const ServerParam &p)
{
    IniFile store(configFilePath());
    store.setValue(group + QStringLiteral("/ProgramPath"), p.programPath);
    store.setValue(group + QStringLiteral("/WorkPath"), p.workPath);
    store.setValue(group + QStringLiteral("/Param"), p.param);
    return store.save();
}

bool SetupConfig::saveMediaServerParam(const ServerParam &p)
{
    mediaServer = p;
    return saveServerParam(QStringLiteral("/MediaServer"), p);
}

bool SetupConfig::saveSipServerParam(const ServerParam &p)
{
    sipServer = p;
    return saveServerParam(QStringLiteral("/SipServer"), p);
}

bool SetupConfig::saveFontSize(int n)
{
    m_fontSize = n;
    IniFile store(configFilePath());
    store.setValue(QStringLiteral("/Font/Size"), QString::number(n));
    return store.save();
}

bool SetupConfig::canSave() const
{
    // A save writes a temporary file beside the settings file and renames it
    // over it; opening one and dropping it tries exactly that much.
    QSaveFile probe(configFilePath());
    const bool writable = probe.open(QIODevice::WriteOnly);
    probe.cancelWriting();
    return writable;
}
