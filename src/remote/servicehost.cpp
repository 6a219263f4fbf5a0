#include "remote/servicehost.h"

#include "platform/platform.h"
#include "supervision/eventlog.h"
#include "supervision/serverstack.h"
#include "supervision/serversupervisor.h"

#include <QCoreApplication>
#include <QLocalSocket>

using Message = ControlChannel::Message;
using Event = ControlChannel::Event;

ServiceHost::ServiceHost(const QList<ServerStack *> &served, QObject *parent)
    : QObject(parent)
    , stacks(served)
{
    // Figures change by the second; states are sent at once when they change.
    stateTimer.setInterval(1000);
    connect(&stateTimer, &QTimer::timeout, this, &ServiceHost::sendStates);
    for (int i = 0; i < stacks.size(); ++i) {
        ServerStack *stack = stacks.at(i);
        connect(stack->queue(), &FeedQueue::ready, this, [this, stack] {
            if (window)
                sendItems();
            else
                stack->queue()->discardPending();
        });
        connect(stack, &StackLink::statesChanged, this, &ServiceHost::sendStates);
        mainStarted.append(false);
        connect(stack, &StackLink::mainStatusChanged, this, [this, i](bool started) {
            mainStarted[i] = started;
            sendStates();
        });
        connect(stack, &StackLink::serverEnded, this, [this, i](const QString &name, const QString &how) {
            sendEvent(i, Event::ServerEnded, {name, how});
        });
        connect(stack, &StackLink::serverRunning, this, [this, i](const QString &name) {
            sendEvent(i, Event::ServerRunning, {name});
        });
        connect(stack, &StackLink::refused, this, [this, i](const QString &text) { sendEvent(i, Event::Refused, {text}); });
        connect(stack, &StackLink::statusNote, this, [this, i](const QString &key, const QString &text, const QString &detail) {
            sendEvent(i, Event::StatusNote, {key, text, detail});
        });
        connect(stack, &StackLink::workDirCorrected, this, [this, i](const QString &field) {
            sendEvent(i, Event::WorkDirCorrected, {field});
        });
        connect(stack, &StackLink::logFailed, this, [this, i](const QString &m) { sendEvent(i, Event::LogFailed, {m}); });
        connect(stack, &StackLink::logRecovered, this, [this, i](const QString &m) { sendEvent(i, Event::LogRecovered, {m}); });
        connect(stack, &StackLink::updateBegun, this, [this, i] { sendEvent(i, Event::UpdateBegun); });
        connect(stack, &StackLink::updateProgress, this, [this, i](int index, int total) {
            sendEvent(i, Event::UpdateProgress, {QString::number(index), QString::number(total)});
        });
        connect(stack, &StackLink::updateStep, this, [this, i](const QString &text) { sendEvent(i, Event::UpdateStep, {text}); });
        connect(stack, &StackLink::updateFailed, this, [this, i](const QString &m) { sendEvent(i, Event::UpdateFailed, {m}); });
        connect(stack, &StackLink::updateNotReady, this, [this, i] { sendEvent(i, Event::UpdateNotReady); });
    }
}

ServiceHost::~ServiceHost()
{
    // The stacks outlive the host: nothing of theirs may reach it now.
    for (ServerStack *stack : qAsConst(stacks)) {
        disconnect(stack, nullptr, this, nullptr);
        disconnect(stack->queue(), nullptr, this, nullptr);
    }
}

bool ServiceHost::listen(QString *error)
{
    listener = Platform::listenForControl([this](QLocalSocket *socket) { attach(socket); }, error);
    return listener != nullptr;
}

void ServiceHost::attach(QLocalSocket *socket)
{
    auto *channel = new ControlChannel(socket, this);
    if (window) {
        channel->send(Message::Busy, 0, ControlChannel::body([](QDataStream &out) {
            out << QStringLiteral("程序已经启动, 请勿重复启动!");
        }));
        connect(channel, &ControlChannel::closed, channel, &QObject::deleteLater);
        socket->disconnectFromServer();
        return;
    }
    window = channel;
    EventLog::note(QStringLiteral("Launcher"), QStringLiteral("窗口已连接到服务"));
    connect(channel, &ControlChannel::received, this, &ServiceHost::received);
    connect(channel, &ControlChannel::closed, this, &ServiceHost::detach);
    connect(channel, &ControlChannel::sent, this, &ServiceHost::sendItems);
    channel->send(Message::Welcome, 0, ControlChannel::body([](QDataStream &out) {
        out << qint64(QCoreApplication::applicationPid());
    }));
    // The console shows what happens from now on; the past is in the logs.
    for (int i = 0; i < stacks.size(); ++i) {
        stacks.at(i)->queue()->discardPending();
        mainStarted[i] = mainStarted.at(i) || stacks.at(i)->mainServer()->isActive();
    }
    sendStates();
    stateTimer.start();
}

void ServiceHost::detach()
{
    if (!window)
        return;
    stateTimer.stop();
    window->deleteLater();
    window.clear();
    // What waited for the window's socket to drain would wait for ever: the
    // feeds say they are ready only once until taken from.
    for (ServerStack *stack : qAsConst(stacks))
        stack->queue()->discardPending();
    EventLog::note(QStringLiteral("Launcher"), QStringLiteral("窗口已断开，服务继续运行"));
}

void ServiceHost::received(Message message, int index, const QByteArray &body)
{
    if (index < 0 || index >= stacks.size())
        return;
    ServerStack *stack = stacks.at(index);
    QDataStream in(body);
    switch (message) {
    case Message::Start: {
        ServerParam typed;
        in >> typed;
        if (in.status() != QDataStream::Ok)
            return;
        // The fields the window typed, from now on (they are also saved).
        stack->setFields([typed] { return typed; });
        stack->start();
        break;
    }
    case Message::Stop:
        stack->stop();
        break;
    case Message::StopAll:
        EventLog::note(QStringLiteral("Launcher"), QStringLiteral("窗口要求停止所有服务器"));
        emit stopAllRequested();
        break;
    case Message::Note: {
        QString text;
        bool failure = false;
        in >> text >> failure;
        stack->note(text, failure);
        break;
    }
    case Message::SetAutoRestart:
    case Message::SetStartWithLauncher: {
        bool on = false;
        in >> on;
        if (message == Message::SetAutoRestart)
            stack->setAutoRestart(on);
        else
            stack->setStartWithLauncher(on);
        sendStates();
        break;
    }
    case Message::Update:
        stack->runUpdate();
        sendStates();
        break;
    default:
        break;
    }
}

void ServiceHost::sendItems()
{
    if (!window)
        return;
    for (int i = 0; i < stacks.size() && window->unsent() < kMaxUnsent; ++i) {
        FeedQueue *queue = stacks.at(i)->queue();
        while (queue->hasPending() && window->unsent() < kMaxUnsent) {
            qint64 skipped = 0;
            const QVector<FeedQueue::Item> items = queue->take(256 * 1024, &skipped);
            window->send(Message::Items, i, ControlChannel::body([&](QDataStream &out) {
                out << skipped << quint32(items.size());
                for (const FeedQueue::Item &item : items)
                    out << item;
            }));
        }
    }
}

void ServiceHost::sendStates()
{
    if (!window)
        return;
    for (int i = 0; i < stacks.size(); ++i) {
        ServerStack *stack = stacks.at(i);
        ControlChannel::State state;
        state.mainStarted = mainStarted.at(i);
        state.autoRestart = stack->autoRestart();
        state.startsWithLauncher = stack->startsWithLauncher();
        state.running = stack->runningServers();
        state.states = stack->serverStates();
        state.figures = stack->figures();
        state.updateRunning = stack->updateRunning();
        state.updateRefusal = stack->updateRefusal();
        state.updateCleans = stack->updateCleans();
        window->send(Message::State, i, ControlChannel::body([&](QDataStream &out) { out << state; }));
    }
}

void ServiceHost::sendEvent(int stack, Event event, const QStringList &arguments)
{
    if (window)
        window->send(Message::Event, stack, ControlChannel::body([&](QDataStream &out) { out << quint8(event) << arguments; }));
}
