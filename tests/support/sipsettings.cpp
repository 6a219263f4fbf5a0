#include "sipsettings.h"

#include "dbfixture.h"
#include "redisserver.h"

#include <QDir>
#include <QSettings>

namespace TestSupport {

void configureServices(TempAppDir &app, const RedisConfig &redis, const SipServices &services)
{
    QDir().mkpath(app.path() + QStringLiteral("/config"));
    {
        QSettings ini(app.iniPath(), QSettings::IniFormat);
        useUtf8(ini);
        ini.setValue(QStringLiteral("/SetupMysql/State"), services.mysql);
        if (!services.dbHost.isEmpty())
            ini.setValue(QStringLiteral("/Mysql/HostName"), services.dbHost);
        ini.setValue(QStringLiteral("/SetupMysql/CmdPath"), testHelperPath());
        ini.setValue(QStringLiteral("/SetupMysql/MysqlPath"), app.path());
        ini.setValue(QStringLiteral("/SetupMysql/CmdStr"), services.mysqlArgs);
        ini.setValue(QStringLiteral("/SetupRedisParam/State"), services.redis);
        ini.setValue(QStringLiteral("/SetupRedisParam/Path"), services.redisPath);
        ini.setValue(QStringLiteral("/SetupRedisParam/WorkDir"), redis.workDir());
        ini.setValue(QStringLiteral("/SetupRedisParam/Parameter"),
                     services.redisParam.isEmpty() ? redis.configName() : services.redisParam);
    }
    app.initialize();
}

bool writeProbeScripts(const TempAppDir &app)
{
    return app.writeScript(QStringLiteral("clean.sql"), kProbeClean)
        && app.writeScript(QStringLiteral("init.sql"),
                           "CREATE TABLE probe (step VARCHAR(20) NOT NULL);\nINSERT INTO probe VALUES ('init');")
        && app.writeScript(QStringLiteral("update.sql"), "INSERT INTO probe VALUES ('update');");
}

void configureUpdateStart(TempAppDir &app, const DbFixture &db, int waitTicks, const QString &password, int readyPort)
{
    QDir().mkpath(app.path() + QStringLiteral("/config"));
    {
        QSettings ini(app.iniPath(), QSettings::IniFormat);
        useUtf8(ini);
        ini.setValue(QStringLiteral("/Mysql/HostName"), DbFixture::host());
        ini.setValue(QStringLiteral("/Mysql/DatabaseName"), db.database());
        ini.setValue(QStringLiteral("/Mysql/UserName"), db.user());
        ini.setValue(QStringLiteral("/Mysql/Password"), password.isNull() ? db.password() : password);
        ini.setValue(QStringLiteral("/Time/WaitProcess"), waitTicks);
        ini.setValue(QStringLiteral("/SetupMysql/State"), true);
        ini.setValue(QStringLiteral("/SetupMysql/CmdPath"), testHelperPath());
        ini.setValue(QStringLiteral("/SetupMysql/MysqlPath"), app.path());
        ini.setValue(QStringLiteral("/SetupMysql/CmdStr"), QStringLiteral("out mysql-started\\n"));
        ini.setValue(QStringLiteral("/SetupRedisParam/State"), false);
        if (readyPort > 0)
            ini.setValue(QStringLiteral("/SipServer/ReadyPort"), readyPort);
    }
    app.initialize();
}

} // namespace TestSupport
