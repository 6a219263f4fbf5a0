#pragma once

#include "remote/controlchannel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>

#include <memory>

class ServerStack;

// The service's side of an attached window: one window at a time sees the
// service's stacks (their consoles from the moment it attached, status,
// figures, the update start) and presses their buttons. With no window
// attached, what waits for a console is dropped; the logs get every line
// either way.
class ServiceHost : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ServiceHost)

public:
    // The console of each stack is the host's to hand out from now on.
    explicit ServiceHost(const QList<ServerStack *> &stacks, QObject *parent = nullptr);
    ~ServiceHost() override;

    // Listens where windows look for the service; false, with error, when it
    // cannot (the service then runs without a window).
    bool listen(QString *error);

signals:
    // The window asked for all servers to stop.
    void stopAllRequested();

private:
    // What waits in the feeds goes out while the window keeps up; the rest
    // stays there (bounded, counted when skipped) until it does.
    static constexpr qint64 kMaxUnsent = 1024 * 1024;

    void attach(QLocalSocket *socket);
    void detach();
    void received(ControlChannel::Message message, int stack, const QByteArray &body);
    void sendItems();
    void sendStates();
    void sendEvent(int stack, ControlChannel::Event event, const QStringList &arguments = QStringList());

    QList<ServerStack *> stacks;
    QVector<bool> mainStarted;      // as the main servers last said
    std::unique_ptr<QObject> listener;
    QPointer<ControlChannel> window;
    QTimer stateTimer;
};
