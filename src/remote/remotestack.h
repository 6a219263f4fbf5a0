#pragma once

#include "remote/controlchannel.h"
#include "supervision/stacklink.h"

#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>

class RemoteStack;

// A window's connection to the service: the service's stacks as
// RemoteStacks. Made by attach(), which waits briefly for the service's
// welcome.
class ServiceConnection : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ServiceConnection)

public:
    enum class Outcome { Attached, Busy, Unreachable };

    // Connects to the service at name (see Platform::controlServerName);
    // why: the reason it did not attach.
    static std::unique_ptr<ServiceConnection> attach(const QString &name, Outcome *outcome, QString *why);
    ~ServiceConnection() override;

    // The service's stacks in its order: the media server, the SIP server.
    RemoteStack *stack(int index) const { return stacks.value(index); }
    // Hands a stack over to a panel, which deletes it; the connection must
    // outlive the panel.
    RemoteStack *takeStack(int index);
    qint64 servicePid() const { return pid; }
    // Every server of the service stops (the window asked, and confirmed).
    void stopAll();
    void send(ControlChannel::Message message, int stack, const QByteArray &body = QByteArray());

signals:
    // The service went away (stopped, or the connection broke).
    void lost();

private:
    explicit ServiceConnection(QLocalSocket *socket);
    void received(ControlChannel::Message message, int stack, const QByteArray &body);

    ControlChannel *channel;
    QVector<QPointer<RemoteStack>> stacks;
    qint64 pid = 0;
    QString busy;
    bool welcomed = false;
    // Welcomed, and every stack's state known: a panel can show it.
    bool ready() const;
};

// A stack the service supervises, as a panel sees it: presses are sent to
// the service, the console's text, status, figures and events come back.
class RemoteStack : public StackLink
{
    Q_OBJECT
    Q_DISABLE_COPY(RemoteStack)

public:
    RemoteStack(ServiceConnection *connection, int index);

    FeedQueue *queue() const override { return items; }
    void start() override;
    void stop() override;
    void stopAll() override {}
    void note(const QString &text, bool failure = false) override;
    bool mainRunning() const override { return state.mainStarted; }
    bool autoRestart() const override { return state.autoRestart; }
    void setAutoRestart(bool on) override;
    bool startsWithLauncher() const override { return state.startsWithLauncher; }
    void setStartWithLauncher(bool on) override;
    QStringList figures() override { return state.figures; }
    QStringList runningServers() const override { return state.running; }
    QStringList serverStates() const override { return state.states; }
    bool updateRunning() const override { return state.updateRunning; }
    QString updateRefusal() const override { return state.updateRefusal; }
    bool updateCleans() const override { return state.updateCleans; }
    void runUpdate() override;

    // From the service.
    void received(ControlChannel::Message message, const QByteArray &body);
    // The service said how the stack stands.
    bool known() const { return stateKnown; }

private:
    ServiceConnection *connection;
    int index;
    FeedQueue *items;
    ControlChannel::State state;
    bool stateKnown = false;
};
