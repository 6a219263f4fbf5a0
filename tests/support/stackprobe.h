#pragma once

#include "coresupport.h"
#include "supervision/serverstack.h"
#include "supervision/serversupervisor.h"
#include "supervision/sipstack.h"

#include <QMap>
#include <QStringList>

#include <memory>

namespace TestSupport {

// A stack of supervised servers under test, without any window: the
// operator's presses as calls, the console as the text the feed made, the
// status as the main server last reported it, refusals as a list.
struct StackProbe
{
    std::unique_ptr<ServerStack> stack;
    ServerParam fields;
    QStringList refusals;
    // What stays said under the status, by key.
    QMap<QString, QString> notes;
    bool started = false;

    explicit StackProbe(const QString &program = testHelperPath(), const QString &params = QString(),
                        const QString &work = QString(), ServerStack *servers = ServerStack::mediaServer())
        : stack(servers)
        , fields{program, work, params, 10000}
    {
        QObject::connect(stack.get(), &ServerStack::refused, [this](const QString &text) { refusals << text; });
        QObject::connect(stack.get(), &ServerStack::statusNote, [this](const QString &key, const QString &text) {
            if (text.isEmpty())
                notes.remove(key);
            else
                notes.insert(key, text);
        });
        stack->setFields([this] { return fields; });
        QObject::connect(server(), &ServerSupervisor::statusChanged, [this](bool on) { started = on; });
        // As the panel's field shows it.
        QObject::connect(server(), &ServerSupervisor::workDirCorrected,
                         [this](const QString &dir) { fields.workPath = dir; });
    }
    ServerSupervisor *server() const { return stack->mainServer(); }
    SipStack *sipStack() const { return qobject_cast<SipStack *>(stack.get()); }
    // "启动" and "关闭".
    void start() { stack->start(); }
    void close()
    {
        if (SipStack *sip = sipStack())
            sip->stop();
        else
            server()->stop();
    }
    // Everything the feed made so far, one line per item, as a console shows it.
    QString text()
    {
        ConsoleFeed *feed = stack->feed();
        feed->sync();
        qint64 skipped = 0;
        while (feed->hasPending()) {
            for (const ConsoleFeed::Item &item : feed->take(1 << 20, &skipped)) {
                QString line = item.text;
                // A record's own line end ends its paragraph; inside, a
                // console shows Windows line ends as line breaks.
                const bool record = item.kind == ConsoleFeed::Kind::Output || item.kind == ConsoleFeed::Kind::Error;
                if (record) {
                    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                    if (line.endsWith(QLatin1Char('\n')))
                        line.chop(1);
                }
                shown += (shown.isNull() ? QString(QLatin1String("")) : QStringLiteral("\n")) + line;
            }
        }
        return shown;
    }

private:
    QString shown;
};

} // namespace TestSupport
