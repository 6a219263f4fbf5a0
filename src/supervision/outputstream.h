#pragma once

#include "supervision/ansitext.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>

// One output channel of a server program (standard output or standard
// error), cut into records that end at line ends. A pipe read may end in
// the middle of a line, of a character or of an escape sequence: the
// incomplete last line is held until its end arrives, output pauses for
// kHoldMs, or kMaxHeld bytes of it have come (a line without end must not
// grow without bound). The escape parser's state carries on from one read
// to the next.
class OutputStream : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(OutputStream)

public:
    static constexpr int kHoldMs = 100;
    static constexpr int kMaxHeld = 64 * 1024;

    using Decoder = std::function<QString(const QByteArray &)>;
    explicit OutputStream(Decoder decoder, QObject *parent = nullptr);

    void append(const QByteArray &bytes);
    // Emits what is held now (the program ended, or output paused).
    void flush();

signals:
    // The visible text (line ends included) and its colour runs; never empty.
    void record(const QString &text, const QVector<AnsiText::Run> &runs);

private:
    void emitRecord(const QByteArray &bytes);

    Decoder decode;
    QByteArray held;
    QTimer holdTimer;
    AnsiText::Parser parser;
};
