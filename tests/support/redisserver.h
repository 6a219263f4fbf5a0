#pragma once

#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

// A foreground redis-server configuration on a free loopback port, in a
// temporary working directory; the panel under test starts the server.
class RedisConfig
{
public:
    RedisConfig();
    QString workDir() const { return dir.path(); }
    QString configName() const { return QStringLiteral("redis-test.conf"); }
    quint16 port() const { return m_port; }
    // Sends PING with redis-cli; true when the answer is PONG.
    bool ping() const;
    // The server's pid from INFO, or -1.
    qint64 serverPid() const;

private:
    QString cli(const QStringList &args) const;
    QTemporaryDir dir;
    quint16 m_port = 0;
};

quint16 freeLoopbackPort();

} // namespace TestSupport
