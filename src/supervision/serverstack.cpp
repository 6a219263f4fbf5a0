#include "supervision/serverstack.h"

#include "setting/setupconfig.h"
#include "supervision/eventlog.h"
#include "supervision/serverlog.h"
#include "supervision/serversupervisor.h"

#include <QDir>

ServerStack::ServerStack(const QString &group, const char *sourcePath, Loader loader, Saver saver, QObject *parent)
    : StackLink(parent)
    , groupName(group)
    , source(sourcePath)
    , save(std::move(saver))
{
    fields = std::move(loader);
    // A child: it goes after the servers (see the destructor).
    consoleFeed = new ConsoleFeed(ServerLog::folder(SetupConfig::instance()->configDir()) + QLatin1Char('/') + group
                                      + QStringLiteral(".log"),
                                  sourcePath, this);
    connect(consoleFeed->log(), &ServerLog::failed, this, &StackLink::logFailed);
    connect(consoleFeed->log(), &ServerLog::recovered, this, &StackLink::logRecovered);
}

ServerStack::~ServerStack()
{
    deleteServers();
}

ServerStack *ServerStack::mediaServer(QObject *parent)
{
    auto *stack = new ServerStack(QStringLiteral("MediaServer"),
                                  "..\\tessarin\\ui\\setup\\mediaserver\\mediaserversetup",
                                  [] { return SetupConfig::instance()->mediaServerParam(); },
                                  [](const ServerParam &p) { return SetupConfig::instance()->saveMediaServerParam(p); },
                                  parent);
    stack->addServer(QStringLiteral("媒体服务器"), ConsoleFeed::Decoding::SystemCodec);
    return stack;
}

void ServerStack::deleteServers()
{
    // Each is killed at once, or after quitting at the end of the grace
    // period that stopAll() began for all of them together.
    qDeleteAll(servers);
    servers.clear();
}

ServerSupervisor *ServerStack::addServer(const QString &name, ConsoleFeed::Decoding output, bool alarmOnEnd)
{
    auto *server = new ServerSupervisor(this, name, output, alarmOnEnd);
    servers.append(server);
    if (servers.size() == 1) {
        server->setMain();
        connect(server, &ServerSupervisor::statusChanged, this, &StackLink::mainStatusChanged);
        connect(server, &ServerSupervisor::figuresChanged, this, &StackLink::figuresChanged);
        connect(server, &ServerSupervisor::workDirCorrected, this, &StackLink::workDirCorrected);
    }
    return server;
}

void ServerStack::start()
{
    if (!mainServer()->refuseWhileBusy())
        mainServer()->start(fields());
}

void ServerStack::stop()
{
    mainServer()->stop();
}

bool ServerStack::mainRunning() const
{
    return mainServer()->isActive();
}

bool ServerStack::autoRestart() const
{
    return mainServer()->autoRestart();
}

void ServerStack::setAutoRestart(bool on)
{
    mainServer()->setAutoRestart(on);
}

QStringList ServerStack::figures()
{
    return mainServer()->figures();
}

void ServerStack::startWithLauncher()
{
    if (!startsWithLauncher())
        return;
    note(QStringLiteral("随启动器启动"));
    start();
}

bool ServerStack::startsWithLauncher() const
{
    return SetupConfig::instance()->startWithLauncher(groupName);
}

void ServerStack::setStartWithLauncher(bool on)
{
    SetupConfig::instance()->saveStartWithLauncher(groupName, on);
}

QStringList ServerStack::serverStates() const
{
    QStringList states;
    for (const ServerSupervisor *s : servers)
        states.append(s->name() + (s->isActive() ? QStringLiteral("：运行中") : QStringLiteral("：未运行")));
    return states;
}

QStringList ServerStack::runningServers() const
{
    QStringList names;
    for (const ServerSupervisor *s : servers) {
        if (s->isActive())
            names.append(s->name());
    }
    return names;
}

void ServerStack::stopAll()
{
    for (ServerSupervisor *s : qAsConst(servers))
        s->stop();
}

void ServerStack::note(const QString &text, bool failure)
{
    consoleFeed->line(QStringLiteral("  ") + text, failure ? ConsoleFeed::Kind::Failed : ConsoleFeed::Kind::Note);
    EventLog::note(groupName, text);
}

void ServerStack::banner(const QString &text, ConsoleFeed::Kind kind)
{
    consoleFeed->line(text, kind);
    QString event = text;
    while (event.endsWith(QLatin1Char('-')))
        event.chop(1);
    EventLog::note(groupName, event.trimmed());
}

void ServerStack::refuse(const QString &text)
{
    EventLog::note(groupName, QStringLiteral("拒绝启动：") + text);
    emit refused(text);
}

void ServerStack::saveBeforeStart(const ServerParam &typed)
{
    // A settings file the operator may not write (an installation in /etc)
    // would lose the typed texts at the next start: say so, once a run.
    if (save(typed) || saveFailureShown)
        return;
    saveFailureShown = true;
    EventLog::note(groupName, QStringLiteral("设置未能保存：") + SetupConfig::instance()->configFilePath());
    consoleFeed->line(QStringLiteral("设置未能保存：无法写入 %1，下次启动仍用原来的路径和参数")
                          .arg(QDir::toNativeSeparators(SetupConfig::instance()->configFilePath())),
                      ConsoleFeed::Kind::Note, false);
}

int ServerStack::stopGraceMs(bool running)
{
    const QString ignored = SetupConfig::instance()->stopGraceIgnored();
    if (!ignored.isNull() && running && !graceNoteShown) {
        graceNoteShown = true;
        consoleFeed->line(QStringLiteral("设置 /Time/StopGrace=%1 无效(应为 0 到 600 秒)，使用 %2 秒")
                              .arg(ignored)
                              .arg(SetupConfig::instance()->stopGrace()),
                          ConsoleFeed::Kind::Note, false);
    }
    return SetupConfig::instance()->stopGrace() * 1000;
}
