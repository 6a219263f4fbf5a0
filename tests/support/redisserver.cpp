#include "redisserver.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

namespace TestSupport {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

RedisConfig::RedisConfig()
    : m_port(freeLoopbackPort())
{
    QFile conf(dir.path() + QLatin1Char('/') + configName());
    if (conf.open(QIODevice::WriteOnly)) {
        conf.write(QStringLiteral("port %1\nbind 127.0.0.1\ndaemonize no\nsave \"\"\nappendonly no\n"
                                  "protected-mode yes\nlogfile \"\"\n").arg(m_port).toUtf8());
    }
}

QString RedisConfig::cli(const QStringList &args) const
{
    QProcess p;
    p.start(QStringLiteral("redis-cli"), QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                                     QStringLiteral("-p"), QString::number(m_port)} + args);
    if (!p.waitForFinished(5000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool RedisConfig::ping() const
{
    return cli({QStringLiteral("ping")}).trimmed() == QLatin1String("PONG");
}

qint64 RedisConfig::serverPid() const
{
    const QString info = cli({QStringLiteral("info"), QStringLiteral("server")});
    for (const QString &line : info.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("process_id:")))
            return line.mid(11).trimmed().toLongLong();
    }
    return -1;
}

} // namespace TestSupport
