#include "platform/platform.h"
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif
#include "setting/platformdefaults.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSaveFile>
#include <QProcess>
#include <QSharedMemory>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QVector>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/types.h>
#include <unistd.h>

namespace Platform {

namespace {

// The watchdog is forked when the first process tree is made (the panels
// make theirs when the window is built), before any server runs. It only reads
// group ids from a socket (positive: register, negative: forget) and, when
// the launcher's end closes (the launcher ended in any way), kills every
// group still registered. Between fork and _exit it uses nothing but
// async-signal-safe calls, because the launcher is multi-threaded.
//
// A watchdog that dies (an operator's kill, the OOM killer) would leave the
// servers to outlive the launcher: the launcher sees its end of the socket
// close, forks a new one and registers the live groups with it again.
int g_watchdogFd = -1;
pid_t g_watchdogPid = 0;
QSocketNotifier *g_watchdogGone = nullptr;
QVector<std::int32_t> g_groups;

[[noreturn]] void watchdogMain(int readFd)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        ::signal(sig, SIG_IGN);
    // Out of the launcher's group, so a terminal's Ctrl+C does not take the
    // watchdog down together with the launcher.
    ::setpgid(0, 0);
    const long maxFd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd) {
        if (fd != readFd)
            ::close(fd);
    }

    constexpr int kMaxGroups = 1024;
    pid_t groups[kMaxGroups];
    int count = 0;
    for (;;) {
        std::int32_t value = 0;
        const ssize_t got = ::read(readFd, &value, sizeof value);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != static_cast<ssize_t>(sizeof value))
            break;
        if (value > 0) {
            if (count < kMaxGroups)
                groups[count++] = value;
        } else if (value < 0) {
            for (int i = 0; i < count; ++i) {
                if (groups[i] == -value) {
                    groups[i] = groups[--count];
                    break;
                }
            }
        }
    }
    for (int i = 0; i < count; ++i)
        ::kill(-groups[i], SIGKILL);
    ::_exit(0);
}

void send(std::int32_t value)
{
    if (g_watchdogFd < 0)
        return;
    // Four bytes are written at once or not at all; a dead watchdog must not
    // raise SIGPIPE in the launcher.
    while (::send(g_watchdogFd, &value, sizeof value, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

void startWatchdog();

void replaceWatchdog()
{
    g_watchdogGone->setEnabled(false);
    g_watchdogGone->deleteLater();
    g_watchdogGone = nullptr;
    ::close(g_watchdogFd);
    g_watchdogFd = -1;
    ::waitpid(g_watchdogPid, nullptr, WNOHANG);
    g_watchdogPid = 0;
    startWatchdog();
    for (std::int32_t group : qAsConst(g_groups))
        send(group);
}

void startWatchdog()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[1]);
        watchdogMain(fds[0]);
    }
    ::close(fds[0]);
    if (pid < 0) {
        ::close(fds[1]);
        return;
    }
    g_watchdogFd = fds[1];
    g_watchdogPid = pid;
    // The watchdog never writes: the launcher's end turns readable only when
    // the watchdog is gone.
    if (QCoreApplication::instance()) {
        g_watchdogGone = new QSocketNotifier(g_watchdogFd, QSocketNotifier::Read);
        QObject::connect(g_watchdogGone, &QSocketNotifier::activated, g_watchdogGone, [] { replaceWatchdog(); });
    }
}

void ensureWatchdog()
{
    if (g_watchdogFd < 0)
        startWatchdog();
}

void tellWatchdog(std::int32_t value)
{
    if (value > 0)
        g_groups.append(value);
    else
        g_groups.removeAll(-value);
    send(value);
}

} // namespace

struct ProcessTree::Data
{
    pid_t group = 0;
};

ProcessTree::ProcessTree()
    : d(new Data)
{
    ensureWatchdog();
}

ProcessTree::~ProcessTree() = default;

void ProcessTree::prepare(QProcess *process, qint64 launcherPid)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    process->setChildProcessModifier([launcherPid] { setUpChild(launcherPid); });
#else
    // Qt 5 calls the process's setupChildProcess() instead.
    Q_UNUSED(process)
    Q_UNUSED(launcherPid)
#endif
}

void ProcessTree::adopt(qint64 pid)
{
    if (pid <= 0 || d->group == static_cast<pid_t>(pid))
        return;
    release();
    d->group = static_cast<pid_t>(pid);
    tellWatchdog(static_cast<std::int32_t>(d->group));
}

void ProcessTree::release()
{
    if (d->group > 0)
        tellWatchdog(-static_cast<std::int32_t>(d->group));
    d->group = 0;
}

void ProcessTree::terminate(qint64 pid)
{
    const pid_t group = d->group > 0 ? d->group : static_cast<pid_t>(pid);
    if (group > 0)
        ::kill(-group, SIGTERM);
}

void ProcessTree::kill(qint64 pid)
{
    const pid_t group = d->group > 0 ? d->group : static_cast<pid_t>(pid);
    if (group > 0)
        ::kill(-group, SIGKILL);
}

bool ProcessTree::alive() const
{
    return d->group > 0 && groupAlive(d->group);
}

TreeUsage ProcessTree::usage() const
{
    // The program leads its group, so the group's number is its pid.
    return d->group > 0 ? processUsage(d->group) : TreeUsage();
}

qint64 watchdogPid()
{
    return g_watchdogPid;
}

void setUpChild(qint64 launcherPid)
{
    ::setpgid(0, 0);
    bindChildToLauncher(launcherPid);
}

void dropStaleGuard(const QString &key)
{
    QSharedMemory probe(key);
    if (probe.attach(QSharedMemory::ReadWrite))
        probe.detach();
}

InstanceLock lockSingleInstance(const QString &settingsDir)
{
    static std::unique_ptr<QLockFile> held;
    QString dir = settingsDir;
    if (!QFileInfo(dir).isDir() || !QFileInfo(dir).isWritable()) {
        // Only a user who may write the settings folder (root, the service's)
        // can have made a lock there: while its holder lives, the
        // installation's servers are that launcher's, not a second set.
        qint64 pid = 0;
        QString host, app;
        if (QLockFile(dir + QStringLiteral("/.tessarin.lock")).getLockInfo(&pid, &host, &app) && pid > 0
            && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            return InstanceLock::HeldElsewhere;
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    if (dir.isEmpty())
        return InstanceLock::NotUsed;
    auto lock = std::make_unique<QLockFile>(dir + QStringLiteral("/.tessarin.lock"));
    // Stale only when its holder is gone (a crash, a kill), never by age:
    // the launcher runs for months.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return lock->error() == QLockFile::LockFailedError ? InstanceLock::HeldElsewhere : InstanceLock::NotUsed;
    held = std::move(lock);
    return InstanceLock::Acquired;
}

void restrictLibrarySearch()
{
    // Libraries come from the system's paths; nothing to narrow.
}

void endProcessNow(int code)
{
    std::fflush(nullptr);
    ::_exit(code);
}

QByteArray textLineEnd()
{
    return QByteArrayLiteral("\n");
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Only Windows registers a codec under the name "System".
QTextCodec *systemCodec()
{
    return QTextCodec::codecForLocale();
}
#endif

namespace {

int stopPipe[2] = {-1, -1};

void requestStop(int)
{
    // Only what a signal handler may do: one write to the pipe.
    const char byte = 1;
    const ssize_t written = ::write(stopPipe[1], &byte, 1);
    (void)written;
}

} // namespace

void onStopRequest(std::function<void()> stop)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, stop] {
        char byte;
        const ssize_t got = ::read(stopPipe[0], &byte, 1);
        (void)got;
        notifier->setEnabled(false);   // one stop; a second signal changes nothing
        stop();
    });
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

namespace {

QString autostartEntry()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/tessarin.desktop");
}

// Exec= of a desktop entry: quoted as one argument, then as a string value.
QString execLine(const QString &program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QStringLiteral("Exec=\"") + quoted + QLatin1Char('"');
}

} // namespace

bool startsAtLogin(const QString &program)
{
    QFile entry(autostartEntry());
    if (!entry.open(QIODevice::ReadOnly))
        return false;
    return QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n')).contains(execLine(program));
}

bool setStartAtLogin(const QString &program, bool on)
{
    const QString path = autostartEntry();
    if (!on)
        return !QFile::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return false;
    entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Orvane国标28181服务器\n%1\n"
                               "X-GNOME-Autostart-enabled=true\n")
                    .arg(execLine(program))
                    .toUtf8());
    return entry.commit();
}

int runAsSystemService(const QString &, const std::function<int()> &)
{
    return -1;
}

bool installSystemService(const QString &, const QString &, const QString &, QString *error)
{
    *error = QStringLiteral("the service is the package's systemd unit: systemctl enable --now tessarin.service");
    return false;
}

bool removeSystemService(const QString &, QString *error)
{
    *error = QStringLiteral("the service is the package's systemd unit: systemctl disable --now tessarin.service");
    return false;
}

QString guardNativeKey(const QString &key)
{
    Q_UNUSED(key)
    return QString();
}

QString controlServerName()
{
    // Per user and per temporary folder, as the instance guard's files are.
    return QDir::tempPath() + QStringLiteral("/tessarin-%1/control").arg(geteuid());
}

namespace {

// The folder holds the socket: only its owner may reach it. The temporary
// folder is everybody's, so one found there must be ours, a real folder and
// closed to others, or another user could have put it there first.
bool makePrivateFolder(const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("无法创建 %1：%2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat info = {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()
        || (info.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 不是本用户专用的文件夹").arg(path);
        return false;
    }
    return true;
}

bool peerIsOwner(QLocalSocket *socket)
{
    const int fd = int(socket->socketDescriptor());
#if defined(SO_PEERCRED)
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    const uid_t uid = peer.uid;
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(fd, &uid, &gid) != 0)
        return false;
#endif
    return uid == geteuid() || uid == 0;
}

} // namespace

std::unique_ptr<QObject> listenForControl(std::function<void(QLocalSocket *)> accepted, QString *error)
{
    const QString name = controlServerName();
    if (!makePrivateFolder(QFileInfo(name).path(), error))
        return nullptr;
    auto server = std::make_unique<QLocalServer>();
    // One service at a time (the instance guard): a socket left by one that
    // was killed is ours to replace.
    QLocalServer::removeServer(name);
    if (!server->listen(name)) {
        *error = server->errorString();
        return nullptr;
    }
    QLocalServer *listening = server.get();
    QObject::connect(listening, &QLocalServer::newConnection, listening, [listening, accepted] {
        while (QLocalSocket *socket = listening->nextPendingConnection()) {
            if (peerIsOwner(socket)) {
                accepted(socket);
            } else {
                socket->abort();
                socket->deleteLater();
            }
        }
    });
    return server;
}

} // namespace Platform

// Settings defaults (see setting/platformdefaults.h).
namespace PlatformDefaults {

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

} // namespace PlatformDefaults
