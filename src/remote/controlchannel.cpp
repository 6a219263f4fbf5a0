#include "remote/controlchannel.h"

#include <QLocalSocket>
#include <QtEndian>

namespace {
constexpr int kHeader = 4 + 1 + 1;  // length of kind, stack and body; kind; stack
}

ControlChannel::ControlChannel(QLocalSocket *socket, QObject *parent)
    : QObject(parent)
    , link(socket)
{
    link->setParent(this);
    connect(link, &QLocalSocket::readyRead, this, &ControlChannel::readFrames);
    connect(link, &QLocalSocket::bytesWritten, this, &ControlChannel::sent);
    connect(link, &QLocalSocket::disconnected, this, &ControlChannel::closed);
}

void ControlChannel::send(Message message, int stack, const QByteArray &body)
{
    if (link->state() != QLocalSocket::ConnectedState)
        return;
    QByteArray frame(kHeader, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(body.size() + 2), frame.data());
    frame[4] = char(message);
    frame[5] = char(stack);
    link->write(frame + body);
}

qint64 ControlChannel::unsent() const
{
    return link->bytesToWrite();
}

void ControlChannel::readFrames()
{
    buffer += link->readAll();
    int at = 0;
    while (buffer.size() - at >= kHeader) {
        const quint32 length = qFromBigEndian<quint32>(buffer.constData() + at);
        if (length < 2 || length > kMaxFrame) {
            buffer.clear();
            link->abort();
            emit closed();
            return;
        }
        if (buffer.size() - at < 4 + qint64(length))
            break;
        const auto message = Message(quint8(buffer.at(at + 4)));
        const int stack = quint8(buffer.at(at + 5));
        const QByteArray body = buffer.mid(at + kHeader, int(length) - 2);
        at += 4 + int(length);
        emit received(message, stack, body);
    }
    buffer.remove(0, at);
}

QDataStream &operator<<(QDataStream &out, const FeedQueue::Item &item)
{
    out << item.text << quint8(item.kind) << item.recordStart << quint32(item.runs.size());
    for (const AnsiText::Run &run : item.runs)
        out << qint32(run.start) << qint32(run.length) << quint8(run.color.kind) << run.color.value << run.bold;
    return out;
}

QDataStream &operator>>(QDataStream &in, FeedQueue::Item &item)
{
    quint8 kind = 0;
    quint32 runs = 0;
    in >> item.text >> kind >> item.recordStart >> runs;
    item.kind = FeedQueue::Kind(qMin<quint8>(kind, quint8(FeedQueue::Kind::Plain)));
    item.runs.clear();
    // A run is at least 14 bytes: the count cannot ask for more than is there.
    for (quint32 i = 0; i < runs && in.status() == QDataStream::Ok && !in.atEnd(); ++i) {
        AnsiText::Run run;
        qint32 start = 0, length = 0;
        quint8 colour = 0;
        in >> start >> length >> colour >> run.color.value >> run.bold;
        run.start = start;
        run.length = length;
        run.color.kind = AnsiText::Colour::Kind(qMin<quint8>(colour, AnsiText::Colour::Rgb));
        item.runs.append(run);
    }
    return in;
}

QDataStream &operator<<(QDataStream &out, const ServerParam &p)
{
    return out << p.programPath << p.workPath << p.param << qint32(p.recordCount);
}

QDataStream &operator>>(QDataStream &in, ServerParam &p)
{
    qint32 records = 0;
    in >> p.programPath >> p.workPath >> p.param >> records;
    p.recordCount = records;
    return in;
}

QDataStream &operator<<(QDataStream &out, const ControlChannel::State &s)
{
    return out << s.mainStarted << s.autoRestart << s.startsWithLauncher << s.running << s.states << s.figures
               << s.updateRunning << s.updateRefusal << s.updateCleans;
}

QDataStream &operator>>(QDataStream &in, ControlChannel::State &s)
{
    return in >> s.mainStarted >> s.autoRestart >> s.startsWithLauncher >> s.running >> s.states >> s.figures
              >> s.updateRunning >> s.updateRefusal >> s.updateCleans;
}
