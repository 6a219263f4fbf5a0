#include "supervision/outputstream.h"

namespace {

// Where a line without end may be cut without cutting a character: after a
// byte below 0x40, which is never part of a multi-byte character in UTF-8
// nor in the double-byte code pages (their trail bytes start at 0x40).
int safeCut(const QByteArray &bytes)
{
    for (int i = bytes.size() - 1; i >= 0; --i) {
        if (static_cast<uchar>(bytes.at(i)) < 0x40)
            return i + 1;
    }
    return bytes.size();
}

} // namespace

OutputStream::OutputStream(Decoder decoder, QObject *parent)
    : QObject(parent)
    , decode(std::move(decoder))
{
    holdTimer.setSingleShot(true);
    holdTimer.setInterval(kHoldMs);
    connect(&holdTimer, &QTimer::timeout, this, &OutputStream::flush);
}

void OutputStream::append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    held += bytes;
    const int lineEnd = held.lastIndexOf('\n');
    if (lineEnd >= 0) {
        const QByteArray complete = held.left(lineEnd + 1);
        held.remove(0, lineEnd + 1);
        emitRecord(complete);
    }
    if (held.size() > kMaxHeld) {
        const int cut = safeCut(held);
        const QByteArray part = held.left(cut);
        held.remove(0, cut);
        emitRecord(part);
    }
    if (held.isEmpty())
        holdTimer.stop();
    else
        holdTimer.start();  // from the latest read: output has not paused
}

void OutputStream::flush()
{
    holdTimer.stop();
    if (held.isEmpty())
        return;
    QByteArray part;
    part.swap(held);
    emitRecord(part);
}

void OutputStream::emitRecord(const QByteArray &bytes)
{
    QVector<AnsiText::Run> runs;
    const QString text = parser.feed(decode(bytes), &runs);
    // Nothing but escape sequences: nothing to show or log.
    if (!text.isEmpty())
        emit record(text, runs);
}
