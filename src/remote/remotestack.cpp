#include "remote/remotestack.h"

#include <QElapsedTimer>
#include <QLocalSocket>

using Message = ControlChannel::Message;
using Event = ControlChannel::Event;

namespace {
constexpr int kStacks = 2;          // the media server's, the SIP server's
constexpr int kWelcomeMs = 5000;
} // namespace

std::unique_ptr<ServiceConnection> ServiceConnection::attach(const QString &name, Outcome *outcome, QString *why)
{
    auto *socket = new QLocalSocket;
    socket->connectToServer(name);
    if (!socket->waitForConnected(2000)) {
        *outcome = Outcome::Unreachable;
        *why = socket->errorString();
        delete socket;
        return nullptr;
    }
    std::unique_ptr<ServiceConnection> connection(new ServiceConnection(socket));
    QElapsedTimer waited;
    waited.start();
    while (!connection->ready() && connection->busy.isEmpty() && socket->state() == QLocalSocket::ConnectedState
           && waited.elapsed() < kWelcomeMs)
        socket->waitForReadyRead(100);
    if (connection->ready()) {
        *outcome = Outcome::Attached;
        return connection;
    }
    *outcome = connection->busy.isEmpty() ? Outcome::Unreachable : Outcome::Busy;
    // A peer the service does not let in is closed before its welcome.
    *why = connection->busy.isEmpty() ? QStringLiteral("服务未接受连接") : connection->busy;
    return nullptr;
}

ServiceConnection::ServiceConnection(QLocalSocket *socket)
    : channel(new ControlChannel(socket, this))
{
    for (int i = 0; i < kStacks; ++i)
        stacks.append(new RemoteStack(this, i));
    connect(channel, &ControlChannel::received, this, &ServiceConnection::received);
    connect(channel, &ControlChannel::closed, this, [this] {
        if (welcomed)
            emit lost();
    });
}

ServiceConnection::~ServiceConnection()
{
    disconnect(channel, nullptr, this, nullptr);
}

bool ServiceConnection::ready() const
{
    for (const RemoteStack *stack : stacks) {
        if (!stack || !stack->known())
            return false;
    }
    return welcomed;
}

RemoteStack *ServiceConnection::takeStack(int index)
{
    RemoteStack *stack = stacks.value(index);
    if (stack)
        stack->setParent(nullptr);
    return stack;
}

void ServiceConnection::stopAll()
{
    send(Message::StopAll, 0);
}

void ServiceConnection::send(Message message, int stack, const QByteArray &body)
{
    channel->send(message, stack, body);
}

void ServiceConnection::received(Message message, int stack, const QByteArray &body)
{
    QDataStream in(body);
    switch (message) {
    case Message::Welcome:
        in >> pid;
        welcomed = true;
        break;
    case Message::Busy:
        in >> busy;
        break;
    default:
        if (welcomed && stack >= 0 && stack < stacks.size() && stacks.at(stack))
            stacks.at(stack)->received(message, body);
        break;
    }
}

RemoteStack::RemoteStack(ServiceConnection *service, int stackIndex)
    : StackLink(service)
    , connection(service)
    , index(stackIndex)
    , items(new FeedQueue(this))
{
}

void RemoteStack::start()
{
    const ServerParam typed = fields ? fields() : ServerParam();
    connection->send(Message::Start, index, ControlChannel::body([&](QDataStream &out) { out << typed; }));
}

void RemoteStack::stop()
{
    connection->send(Message::Stop, index);
}

void RemoteStack::note(const QString &text, bool failure)
{
    connection->send(Message::Note, index, ControlChannel::body([&](QDataStream &out) { out << text << failure; }));
}

void RemoteStack::setAutoRestart(bool on)
{
    state.autoRestart = on;
    connection->send(Message::SetAutoRestart, index, ControlChannel::body([&](QDataStream &out) { out << on; }));
}

void RemoteStack::setStartWithLauncher(bool on)
{
    state.startsWithLauncher = on;
    connection->send(Message::SetStartWithLauncher, index, ControlChannel::body([&](QDataStream &out) { out << on; }));
}

void RemoteStack::runUpdate()
{
    connection->send(Message::Update, index);
}

void RemoteStack::received(Message message, const QByteArray &body)
{
    QDataStream in(body);
    switch (message) {
    case Message::State: {
        ControlChannel::State now;
        in >> now;
        if (in.status() != QDataStream::Ok)
            return;
        const bool started = now.mainStarted != state.mainStarted;
        const bool states = now.states != state.states;
        state = now;
        stateKnown = true;
        if (started)
            emit mainStatusChanged(state.mainStarted);
        if (states)
            emit statesChanged();
        emit figuresChanged();
        break;
    }
    case Message::Items: {
        qint64 skipped = 0;
        quint32 count = 0;
        in >> skipped >> count;
        QVector<FeedQueue::Item> received;
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok && !in.atEnd(); ++i) {
            FeedQueue::Item item;
            in >> item;
            received.append(std::move(item));
        }
        items->deliver(received, qMax<qint64>(0, skipped));
        break;
    }
    case Message::Event: {
        quint8 event = 0;
        QStringList a;
        in >> event >> a;
        while (a.size() < 3)
            a.append(QString());
        switch (Event(event)) {
        case Event::ServerEnded: emit serverEnded(a.at(0), a.at(1)); break;
        case Event::ServerRunning: emit serverRunning(a.at(0)); break;
        case Event::Refused: emit refused(a.at(0)); break;
        case Event::StatusNote: emit statusNote(a.at(0), a.at(1), a.at(2)); break;
        case Event::WorkDirCorrected: emit workDirCorrected(a.at(0)); break;
        case Event::LogFailed: emit logFailed(a.at(0)); break;
        case Event::LogRecovered: emit logRecovered(a.at(0)); break;
        case Event::UpdateBegun: emit updateBegun(); break;
        case Event::UpdateProgress: emit updateProgress(a.at(0).toInt(), a.at(1).toInt()); break;
        case Event::UpdateStep: emit updateStep(a.at(0)); break;
        case Event::UpdateFailed: emit updateFailed(a.at(0)); break;
        case Event::UpdateNotReady: emit updateNotReady(); break;
        }
        break;
    }
    default:
        break;
    }
}
