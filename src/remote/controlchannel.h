#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QObject>

class QLocalSocket;

// One connection between the service and an attached window: messages in
// frames (length, kind, the stack they concern, a QDataStream body). Both
// ends are the same build, so the body needs no version of its own; a frame
// larger than kMaxFrame ends the connection.
class ControlChannel : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ControlChannel)

public:
    enum class Message : quint8 {
        // service -> window
        Welcome,        // qint64 service pid
        Busy,           // QString: why this window may not attach
        State,          // ControlChannel::State
        Items,          // qint64 skipped, QVector<FeedQueue::Item>
        Event,          // quint8 Event, QStringList arguments
        // window -> service
        Start,          // ServerParam: the fields as typed
        Stop,
        StopAll,        // every stack
        Note,           // QString, bool failure
        SetAutoRestart,         // bool
        SetStartWithLauncher,   // bool
        Update
    };
    enum class Event : quint8 {
        ServerEnded, ServerRunning, Refused, StatusNote, WorkDirCorrected, LogFailed, LogRecovered,
        UpdateBegun, UpdateProgress, UpdateStep, UpdateFailed, UpdateNotReady
    };
    // What a stack shows beside its console, sent whenever it changes and
    // once a second for the figures.
    struct State
    {
        bool mainStarted = false;
        bool autoRestart = false;
        bool startsWithLauncher = false;
        QStringList running;
        QStringList states;
        QStringList figures;
        bool updateRunning = false;
        QString updateRefusal;
        bool updateCleans = false;
    };

    static constexpr qint64 kMaxFrame = 64 * 1024 * 1024;

    // Takes the socket (made its child).
    explicit ControlChannel(QLocalSocket *socket, QObject *parent = nullptr);

    QLocalSocket *socket() const { return link; }
    void send(Message message, int stack, const QByteArray &body = QByteArray());
    // The body of a message, written by fill.
    template <typename Fill>
    static QByteArray body(Fill fill)
    {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        fill(out);
        return bytes;
    }
    // Bytes sent but not yet taken by the other end.
    qint64 unsent() const;

signals:
    void received(ControlChannel::Message message, int stack, const QByteArray &body);
    // The other end went, or sent what cannot be a frame.
    void closed();
    // Some of what was sent has gone out.
    void sent();

private:
    void readFrames();

    QLocalSocket *link;
    QByteArray buffer;
};

QDataStream &operator<<(QDataStream &out, const FeedQueue::Item &item);
QDataStream &operator>>(QDataStream &in, FeedQueue::Item &item);
QDataStream &operator<<(QDataStream &out, const ServerParam &p);
QDataStream &operator>>(QDataStream &in, ServerParam &p);
QDataStream &operator<<(QDataStream &out, const ControlChannel::State &s);
QDataStream &operator>>(QDataStream &in, ControlChannel::State &s);
