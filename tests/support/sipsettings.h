#pragma once

#include "coresupport.h"

#include <QByteArray>
#include <QString>

namespace TestSupport {

class DbFixture;
class RedisConfig;

// Whether Redis can be run: there is no Windows build of redis-server here,
// so on Windows the tests leave it out and check the rest.
#if defined(Q_OS_WIN)
constexpr bool kRedis = false;
#else
constexpr bool kRedis = true;
#endif

// The SIP panel's services as a test sets them up: the MySQL command is the
// test helper with mysqlArgs.
struct SipServices
{
    bool mysql = true;
    QString mysqlArgs = QStringLiteral("out mysql-ok\\0tail\\n");
    bool redis = kRedis;
    QString redisPath = QStringLiteral("/usr/bin/redis-server");
    QString redisParam;     // empty: the test Redis's configuration
    QString dbHost;         // empty: the test database's
};

// Writes the services into the settings file and initialises the settings.
void configureServices(TempAppDir &app, const RedisConfig &redis, const SipServices &services);

// The update start's scripts, each with an effect to look at: the clean
// script drops the table "probe", the init script makes it and adds "init",
// the update script adds "update".
inline const QByteArray kProbeClean = "DROP TABLE IF EXISTS probe;";
bool writeProbeScripts(const TempAppDir &app);

// The update start against the test database: the MySQL command is the test
// helper, Redis is off, the wait lasts waitTicks; a null password is the
// database's own, a readyPort > 0 is asked whether the server is up.
void configureUpdateStart(TempAppDir &app, const DbFixture &db, int waitTicks, const QString &password = QString(),
                          int readyPort = 0);

} // namespace TestSupport
