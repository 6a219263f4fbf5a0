#include "setting/platformdefaults.h"

#include <QFileInfo>

namespace PlatformDefaults {

#ifdef Q_OS_WIN

QString mediaServerProgram() { return QStringLiteral("./MediaServer.exe"); }
QString sipServerProgram() { return QStringLiteral("java"); }
QString sipServerParam() { return QStringLiteral("-jar wvp-pro-2.3.2-09220952.jar"); }
QString mysqlCmdPath() { return QStringLiteral("C:/Windows/System32/conhost.exe"); }
QString mysqlWorkDir() { return QStringLiteral("D:/mysql-8.0.20-winx64/bin"); }
QString mysqlCmdStr() { return QStringLiteral("net start mysql"); }
QString redisPath() { return QStringLiteral("D:/Redis3.2.100/redis-server.exe"); }
QString redisWorkDir() { return QStringLiteral("D:/Redis3.2.100"); }
QString redisParameter() { return QStringLiteral("redis.windows.conf"); }

bool isProgramFile(const QString &filePath)
{
    const QFileInfo info(filePath);
    return info.isFile() && info.completeSuffix() == QLatin1String("exe");
}

#else

QString mediaServerProgram() { return QStringLiteral("./MediaServer"); }
QString sipServerProgram() { return QStringLiteral("java"); }
QString sipServerParam() { return QStringLiteral("-jar wvp-pro-2.3.2-09220952.jar"); }
// "service" works with and without systemd and, like "net start", returns
// once the database service is up instead of staying in the foreground.
QString mysqlCmdPath() { return QStringLiteral("/usr/sbin/service"); }
QString mysqlWorkDir() { return QStringLiteral("/"); }
QString mysqlCmdStr() { return QStringLiteral("mariadb start"); }
// Debian's /etc/redis/redis.conf daemonizes, which would detach Redis from
// the launcher; the built-in configuration with daemonize off keeps it a
// foreground child (loopback-only through protected mode).
QString redisPath() { return QStringLiteral("/usr/bin/redis-server"); }
QString redisWorkDir() { return QStringLiteral("/var/lib/redis"); }
QString redisParameter() { return QStringLiteral("--daemonize no"); }

bool isProgramFile(const QString &filePath)
{
    const QFileInfo info(filePath);
    return info.isFile() && info.permission(QFile::ExeOwner);
}

#endif

} // namespace PlatformDefaults
