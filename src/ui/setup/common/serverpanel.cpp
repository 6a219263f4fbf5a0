#include "ui/setup/common/serverpanel.h"

#include "setting/setupconfig.h"
#include "supervision/consolefeed.h"
#include "supervision/eventlog.h"
#include "supervision/launchrules.h"
#include "supervision/outputdecoding.h"
#include "supervision/serverlog.h"
#include "supervision/serverprocess.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/consolepalette.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/lightpoint.h"
#include "ui/widgets/scrollstrip.h"
#include "ui/widgets/searchhighlight.h"
#include "ui/widgets/searchpanel.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QStyleOption>
#include <QTime>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <array>
#include <tuple>

namespace {

QTextCharFormat coloured(const QColor &color)
{
    QTextCharFormat format;
    format.setForeground(color);
    return format;
}

QTextCharFormat formatOf(ConsoleFeed::Kind kind)
{
    using Kind = ConsoleFeed::Kind;
    static const QTextCharFormat formats[] = {
        coloured(ConsolePalette::header()), coloured(ConsolePalette::text()),    coloured(ConsolePalette::errorText()),
        coloured(ConsolePalette::started()), coloured(ConsolePalette::failed()), coloured(ConsolePalette::note()),
        QTextCharFormat()};
    static_assert(int(Kind::Plain) == 6, "one format per kind, in order");
    return formats[int(kind)];
}

// The area above the console, holding the lamp. It paints every pixel of
// itself (the window colour, then its style-sheet background), so repaints
// inside it, and the lamp's render of what lies behind it, stop here instead
// of reaching the group box and the window behind it. A style sheet that
// gives it a background turns the usual automatic fill off, which is why
// this is not just setAutoFillBackground().
class OpaqueArea : public QWidget
{
public:
    OpaqueArea() { setAttribute(Qt::WA_OpaquePaintEvent); }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), palette().window());
        QStyleOption option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    }
};

// A caption, with an "打开" button at its right when asked for, above its
// field: the three path rows of a panel.
QGridLayout *pathRow(const QString &caption, const QString &objectName, QLabel *&label, CLineEdit *&field,
                     QPushButton **openButton)
{
    auto *grid = new QGridLayout;
    label = new QLabel(caption);
    field = new CLineEdit;
    field->setObjectName(objectName);
    grid->addWidget(label, 0, 0);
    if (openButton) {
        *openButton = new QPushButton(QStringLiteral("打开"));
        grid->addWidget(*openButton, 0, 1);
    }
    grid->addWidget(field, 1, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    return grid;
}

void showRefusal(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"), text, QMessageBox::Ok);
    box.exec();
}

} // namespace

ServerPanel::ServerPanel(const Texts &panelTexts, QWidget *parent)
    : QWidget(parent)
    , texts(panelTexts)
{
    startedColor = QColor(QStringLiteral("#00B17D"));
    stoppedColor = QColor(QStringLiteral("#D64D54"));

    mainLayout = new QVBoxLayout;
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(2);

    topWidget = new OpaqueArea;
    topWidget->setObjectName(QStringLiteral("MediaServerWidget"));
    topLayout = new QVBoxLayout;
    topLayout->setSpacing(0);
    topWidget->setLayout(topLayout);

    statusLayout = new QHBoxLayout;
    statusLamp = new LightPoint;
    statusLamp->setFixedSize(100, 100);
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("ServerStatusLabel"));
    // At the largest font sizes "媒体服务器未启动" is wider than a panel.
    statusLabel->setWordWrap(true);
    buttonLayout = new QGridLayout;
    startButton = new QPushButton(QStringLiteral("启动"));
    closeButton = new QPushButton(QStringLiteral("关闭"));
    clearButton = new QPushButton(QStringLiteral("清除"));
    searchButton = new QPushButton(QStringLiteral("搜索"));
    searchButton->setToolTip(QStringLiteral("Ctrl+F"));
    buttonLayout->addWidget(startButton, 0, 0);
    buttonLayout->addWidget(closeButton, 0, 1);
    buttonLayout->addWidget(clearButton, 1, 0);
    buttonLayout->addWidget(searchButton, 1, 1);
    autoRestartBox = new QCheckBox(QStringLiteral("自动重启"));
    autoRestartBox->setChecked(SetupConfig::instance()->autoRestart(QLatin1String(texts.group)));
    buttonLayout->addWidget(autoRestartBox, 2, 0, 1, 2);
    // Under the status, what stays wrong (the log cannot be written, a helper
    // ended): a note in the console would scroll away while it lasts.
    statusNoteLabel = new QLabel;
    statusNoteLabel->setObjectName(QStringLiteral("StatusNoteLabel"));
    statusNoteLabel->setWordWrap(true);
    statusNoteLabel->setStyleSheet(QStringLiteral("color:%1;").arg(stoppedColor.name()));
    statusNoteLabel->hide();
    auto *statusText = new QVBoxLayout;
    statusText->addStretch();
    // Uptime, restarts, the last end, CPU and memory of the server's tree.
    figuresLabel = new QLabel;
    figuresLabel->setObjectName(QStringLiteral("ServerFiguresLabel"));
    figuresLabel->setWordWrap(true);
    figuresLabel->hide();
    figuresTimer = new QTimer(this);
    figuresTimer->setInterval(1000);
    connect(figuresTimer, &QTimer::timeout, this, &ServerPanel::updateFigures);
    statusText->addWidget(statusLabel);
    statusText->addWidget(figuresLabel);
    statusText->addWidget(statusNoteLabel);
    statusText->addStretch();
    // Lamp and texts, then the buttons: side by side where the panel is wide
    // enough, else the buttons below (see fitControls()).
    infoRow = new QHBoxLayout;
    infoRow->addWidget(statusLamp);
    infoRow->addLayout(statusText);
    statusLayout->addLayout(infoRow);
    statusLayout->addLayout(buttonLayout);

    pathLayout = pathRow(QStringLiteral("服务器路径："), QStringLiteral("ServerPathField"), pathLabel, pathField, &pathOpenButton);
    workDirLayout = pathRow(QStringLiteral("工作路径："), QStringLiteral("ServerWorkDirField"), workDirLabel, workDirField,
                            &workDirOpenButton);
    paramLayout = pathRow(QStringLiteral("服务器参数："), QStringLiteral("ServerParamField"), paramLabel, paramField, nullptr);
    paramField->setDroppedPathFormat(&LaunchRules::quoteArgument);

    topLayout->addLayout(statusLayout);
    topLayout->addLayout(pathLayout);
    topLayout->addLayout(workDirLayout);
    topLayout->addLayout(paramLayout);

    console = new CTextBrowser;
    console->setObjectName(QStringLiteral("ServerConsole"));
    console->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    searchPanel = new SearchPanel;
    searchPanel->hide();

    // At large font sizes the controls need more room than the screen has:
    // they scroll within the panel, and the console keeps a few lines.
    mainLayout->addWidget(new ScrollStrip(topWidget, true));
    mainLayout->addWidget(console, 10);
    mainLayout->addWidget(new ScrollStrip(searchPanel, false));
    setLayout(mainLayout);

    setAcceptDrops(true);
    recordCounter = 0;
    highlighter = new SearchHighLight(console->document());
    console->setHighlighter(highlighter);
    setServerStatus(0);

    const QString config = SetupConfig::instance()->configDir();
    // A child: it goes after the panels' processes, so their last words are
    // logged.
    feed = new ConsoleFeed(ServerLog::folder(config) + QLatin1Char('/') + QLatin1String(texts.group)
                               + QStringLiteral(".log"),
                           texts.sourcePath, this);
    ServerLog *log = feed->log();
    // What the feed made is shown once a frame at most.
    takeTimer = new QTimer(this);
    takeTimer->setSingleShot(true);
    connect(takeTimer, &QTimer::timeout, this, &ServerPanel::showFed);
    connect(feed, &ConsoleFeed::ready, this, [this] {
        if (!takeTimer->isActive())
            takeTimer->start(int(qMax<qint64>(0, kFrameMs - sinceTake.elapsed())));
    });
    sinceTake.start();
    connect(log, &ServerLog::failed, this, [this](const QString &message) {
        console->appendParagraph(message, coloured(ConsolePalette::note()));
        setStatusNote(QStringLiteral("log"), QStringLiteral("日志写入失败，每 10 秒重试"), message);
    });
    connect(log, &ServerLog::recovered, this, [this](const QString &message) {
        console->appendParagraph(message, coloured(ConsolePalette::note()));
        setStatusNote(QStringLiteral("log"), QString());
    });

    for (CLineEdit *field : {pathField, workDirField, paramField})
        connect(field, &QLineEdit::returnPressed, startButton, &QPushButton::click);
    connect(clearButton, &QPushButton::clicked, this, &ServerPanel::slotClearRecord);
    connect(pathOpenButton, &QPushButton::clicked, this, [this] { openFolderOf(pathField->text()); });
    connect(workDirOpenButton, &QPushButton::clicked, this, [this] {
        const QString dir = workDirField->text();
        if (dir.isEmpty()) {
            openFolderOf(pathField->text());
        } else if (QDir(dir).exists()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(dir).absolutePath()));
        }
    });
    connect(searchButton, &QPushButton::clicked, this, [this] {
        if (searchPanel->isHidden())
            searchPanel->open();
        else
            searchPanel->hide();
    });
    // Both panels live in one window: a window-wide Ctrl+F on both search
    // buttons would be ambiguous and do nothing, so it belongs to the panel
    // that has the focus.
    auto *searchShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+F")), this);
    searchShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(searchShortcut, &QShortcut::activated, searchButton, &QPushButton::click);
    connect(searchPanel, &SearchPanel::next, this, &ServerPanel::searchNext);
    connect(searchPanel, &SearchPanel::previous, this, &ServerPanel::searchPrevious);
    connect(searchPanel, &SearchPanel::all, this, &ServerPanel::searchAll);
    connect(searchPanel, &SearchPanel::clear, this, &ServerPanel::clearHighLight);
}

ServerPanel::~ServerPanel() = default;

void ServerPanel::setServerParam(const ServerParam &p)
{
    programPath = p.programPath;
    workPath = p.workPath;
    param = p.param;
    recordLimit = p.recordCount;
    console->setRecordLimit(recordLimit);
    pathField->setText(programPath);
    workDirField->setText(workPath);
    paramField->setText(param);
}

QString ServerPanel::decode(const QByteArray &bytes, Decoding decoding) const
{
    return OutputDecoding::decode(bytes, decoding == Decoding::Utf8, texts.sourcePath);
}

void ServerPanel::showFed()
{
    // A console still busy with what it has takes nothing more this frame:
    // what waits is cheaper to skip in the feed than in the console.
    if (console->queuedCharacters() > kFrameChars) {
        takeTimer->start(kFrameMs);
        return;
    }
    sinceTake.restart();
    qint64 skipped = 0;
    const QVector<ConsoleFeed::Item> items = feed->take(kFrameChars, &skipped);
    if (skipped > 0)
        console->addSkipped(skipped);
    for (const ConsoleFeed::Item &item : items) {
        if (item.recordStart) {
            // Past the limit the oldest records go, not the whole console: an
            // incident must not blank it.
            ++recordCounter;
            console->beginRecord();
        }
        if (item.kind == ConsoleFeed::Kind::Output || (item.kind == ConsoleFeed::Kind::Error && !item.runs.isEmpty()))
            console->appendRunsParagraph(item.text, item.runs, formatOf(item.kind));
        else
            console->appendParagraph(item.text, formatOf(item.kind));
    }
    if (feed->hasPending() && !takeTimer->isActive())
        takeTimer->start(kFrameMs);
}

void ServerPanel::showPendingOutput()
{
    feed->sync();
    do {
        console->flush();
        showFed();
    } while (feed->hasPending());
    console->flush();
}

quintptr ServerPanel::sourceId(const ServerProcess *source)
{
    return reinterpret_cast<quintptr>(source);
}

void ServerPanel::appendOutputRecord(const QByteArray &bytes, Decoding decoding, const ServerProcess *source)
{
    feed->output(sourceId(source), nameOf(source), ConsoleFeed::Channel::Output, decoding, bytes);
}

void ServerPanel::appendErrorOutput(const QByteArray &bytes, const ServerProcess *source)
{
    feed->output(sourceId(source), nameOf(source), ConsoleFeed::Channel::Error, Decoding::SystemCodec, bytes);
}

void ServerPanel::flushOutput(const ServerProcess *source)
{
    feed->flush(sourceId(source));
}

void ServerPanel::appendBanner(const QString &text, ConsoleFeed::Kind kind)
{
    feed->line(text, kind);
    QString event = text;
    while (event.endsWith(QLatin1Char('-')))
        event.chop(1);
    EventLog::note(QLatin1String(texts.group), event.trimmed());
}

void ServerPanel::appendSeparator()
{
    feed->line(QStringLiteral("\n\n"), ConsoleFeed::Kind::Plain, false);
}

void ServerPanel::appendStartBanner(const ServerProcess *process)
{
    appendBanner(bannerTitle(process, QStringLiteral("程序启动")), ConsoleFeed::Kind::Started);
}

QString ServerPanel::nameOf(const ServerProcess *process) const
{
    const QString name = processes.size() < 2 ? QString() : plainName(process);
    return name.isEmpty() ? QString() : QLatin1Char('[') + name + QLatin1Char(']');
}

QString ServerPanel::bannerTitle(const ServerProcess *process, const QString &title) const
{
    const QString name = nameOf(process);
    return ConsoleFeed::dashed(QStringLiteral("  ") + (name.isEmpty() ? QString() : name + QLatin1Char(' ')) + title);
}

void ServerPanel::setStatusNote(const QString &key, const QString &text, const QString &detail)
{
    if (text.isEmpty())
        statusNotes.remove(key);
    else
        statusNotes.insert(key, {text, detail.isEmpty() ? text : detail});
    QStringList shown, details;
    for (const auto &note : qAsConst(statusNotes)) {
        shown.append(note.first);
        details.append(note.second);
    }
    statusNoteLabel->setText(shown.join(QLatin1Char('\n')));
    statusNoteLabel->setToolTip(details.join(QLatin1Char('\n')));
    statusNoteLabel->setVisible(!shown.isEmpty());
}

void ServerPanel::appendStartFailure(QProcess::ProcessError error, const ServerProcess *process)
{
    flushOutput(process);
    if (error == QProcess::FailedToStart) {
        appendBanner(bannerTitle(process, QStringLiteral("程序启动失败")), ConsoleFeed::Kind::Failed);
        // The console shows text literally, so neither part can turn into markup.
        if (process)
            feed->line(QStringLiteral("  %1：%2").arg(process->program(), process->errorString()),
                       ConsoleFeed::Kind::Failed, false);
    }
    appendSeparator();
}

void ServerPanel::appendEndBanner(int exitCode, QProcess::ExitStatus status, const ServerProcess *process)
{
    flushOutput(process);
    if (status == QProcess::CrashExit)
        appendBanner(bannerTitle(process, QStringLiteral("程序异常终止")), ConsoleFeed::Kind::Failed);
    else if (exitCode == 0 || (process && process->stopRequested()))
        // A program asked to stop may answer with any code (Java: 143, or
        // 130 after Ctrl+C): it did what it was asked.
        appendBanner(bannerTitle(process, QStringLiteral("程序结束")), ConsoleFeed::Kind::Started);
    else
        // A crash loop must not look like clean exits.
        appendBanner(bannerTitle(process, QStringLiteral("程序结束(退出码 %1)").arg(exitCode)),
                     ConsoleFeed::Kind::Failed);
    appendSeparator();
}

void ServerPanel::setServerStatus(int started)
{
    const QColor color = started > 0 ? startedColor : stoppedColor;
    statusLamp->setBgColor(color);
    statusLabel->setText(started > 0 ? texts.started : texts.stopped);
    statusLabel->setStyleSheet(QStringLiteral("color:%1;").arg(color.name()));
}

QString ServerPanel::busyText(const ServerProcess *process)
{
    // A followed group runs on after its start script: that is a running server.
    if (process->isActive() && process->stopRequested())
        return QStringLiteral("服务器正在停止，请稍后再启动!");
    if (process->state() == QProcess::Running || (process->state() == QProcess::NotRunning && process->isActive()))
        return QStringLiteral("服务器已经启动，请勿重复启动!");
    if (process->state() == QProcess::Starting)
        return QStringLiteral("服务器正在启动中，请耐心等待!");
    return QString();
}

void ServerPanel::refuse(const QString &text)
{
    EventLog::note(QLatin1String(texts.group), QStringLiteral("拒绝启动：") + text);
    showRefusal(text);
}

bool ServerPanel::refuseWhileBusy(const ServerProcess *process)
{
    const QString refusal = busyText(process);
    if (!refusal.isEmpty())
        refuse(refusal);
    return !refusal.isEmpty();
}

void ServerPanel::followServerStatus(ServerProcess *process)
{
    followed = process;
    connect(process, &QProcess::started, this, [this] {
        setServerStatus(1);
        upSince.start();
        cpuSamples.clear();
        restartAt = QDateTime();
        updateFigures();
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            setServerStatus(0);
            lastEnd = QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QStringLiteral(" 未能启动");
            updateFigures();
        }
    });
    connect(process, &ServerProcess::ended, this, [this, process](int code, QProcess::ExitStatus status) {
        setServerStatus(0);
        upSince.invalidate();
        lastEnd = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))
            + (status == QProcess::CrashExit ? QStringLiteral(" 异常终止")
               : process->stopRequested() ? QStringLiteral(" 已关闭")
                                          : QStringLiteral(" 退出码 %1").arg(code));
        updateFigures();
    });
    connect(process, &ServerProcess::restartScheduled, this, [this](int, int delayMs) {
        restartAt = QDateTime::currentDateTime().addMSecs(delayMs);
        updateFigures();
    });

    process->setFollowGroup(true);
    connect(process, &ServerProcess::detached, this, [this] {
        appendBanner(QStringLiteral("  程序已转入后台运行，继续监视其进程组"), ConsoleFeed::Kind::Note);
    });
    process->setAutoRestart(autoRestartBox->isChecked());
    connect(autoRestartBox, &QCheckBox::toggled, this, [this, process](bool on) {
        process->setAutoRestart(on);
        SetupConfig::instance()->saveAutoRestart(QLatin1String(texts.group), on);
    });
    connect(process, &ServerProcess::restarting, this, [this, process](int attempt) {
        ++restarts;
        appendBanner(bannerTitle(process, QStringLiteral("自动重启(第%1次)").arg(attempt)),
                     ConsoleFeed::Kind::Failed);
    });
}

namespace {

// Seconds only in the first minute: after that the text, and so the screen,
// changes once a minute for a server that runs quietly.
QString duration(qint64 ms)
{
    const qint64 minutes = ms / 60000;
    if (minutes == 0)
        return QStringLiteral("%1 秒").arg(ms / 1000);
    if (minutes < 60)
        return QStringLiteral("%1 分").arg(minutes);
    if (minutes < 24 * 60)
        return QStringLiteral("%1 小时 %2 分").arg(minutes / 60).arg(minutes % 60);
    return QStringLiteral("%1 天 %2 小时").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
}

} // namespace

void ServerPanel::updateFigures()
{
    if (!followed)
        return;
    QStringList parts;
    if (followed->isActive() && upSince.isValid()) {
        parts << QStringLiteral("运行 ") + duration(upSince.elapsed());
        const Platform::TreeUsage usage = followed->usage();
        if (usage.cpuMs >= 0) {
            // Over the last ten seconds: the system counts CPU time in 10 ms
            // ticks, so a one-second figure of a quiet server jumps between
            // 0 % and 1 %.
            if (!cpuClock.isValid())
                cpuClock.start();
            cpuSamples.append({cpuClock.elapsed(), usage.cpuMs});
            while (cpuSamples.size() > 2 && cpuSamples.last().first - cpuSamples.at(1).first >= 10000)
                cpuSamples.removeFirst();
            const qint64 span = cpuSamples.last().first - cpuSamples.first().first;
            if (span > 0)
                parts << QStringLiteral("CPU %1%").arg(qMax<qint64>(0, cpuSamples.last().second - cpuSamples.first().second)
                                                           * 100.0 / span, 0, 'f', 1);
        }
        if (usage.residentBytes >= 0)
            parts << QStringLiteral("内存 %1 MB").arg(usage.residentBytes / 1048576.0, 0, 'f', 1);
    } else if (followed->restartPending() && restartAt.isValid()) {
        parts << QStringLiteral("将于 %1 自动重启").arg(restartAt.toString(QStringLiteral("hh:mm:ss")));
    }
    if (restarts > 0)
        parts << QStringLiteral("已自动重启 %1 次").arg(restarts);
    if (!lastEnd.isEmpty() && !(followed->isActive() && restarts == 0))
        parts << QStringLiteral("上次结束 ") + lastEnd;
    // A narrow panel wraps between figures, never inside one (Chinese text
    // may otherwise break between any two characters).
    // A figure wider than the label (very large fonts) may still wrap at its
    // spaces.
    const QFontMetrics metrics(figuresLabel->font());
    for (QString &part : parts) {
        const bool whole = metrics.horizontalAdvance(part) < figuresLabel->width();
        QString joined;
        for (const QChar c : qAsConst(part)) {
            const bool space = c == QLatin1Char(' ');
            if (!joined.isEmpty() && !space && joined.back() != QLatin1Char(' '))
                joined += QChar(0x2060); // word joiner
            joined += space && whole ? QChar(QChar::Nbsp) : c;
        }
        part = joined;
    }
    figuresLabel->setText(parts.join(QStringLiteral("  ")));
    figuresLabel->setVisible(!parts.isEmpty());
}

void ServerPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Only while somebody can see them: a hidden window costs nothing.
    if (followed) {
        updateFigures();
        figuresTimer->start();
    }
}

void ServerPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    figuresTimer->stop();
}

void ServerPanel::addProcess(ServerProcess *process, const QString &name, bool alarmOnEnd)
{
    processes.append({process, name});
    connect(process, &QProcess::started, this, [this, name] {
        emit serverRunning(name);
        emit statesChanged();
    });
    connect(process, &ServerProcess::ended, this, [this, process, name, alarmOnEnd](int code, QProcess::ExitStatus status) {
        if (alarmOnEnd && !process->stopRequested()) {
            emit serverEnded(name, status == QProcess::CrashExit ? QStringLiteral("异常终止")
                                   : code != 0                   ? QStringLiteral("结束，退出码 %1").arg(code)
                                                                 : QStringLiteral("结束"));
        }
        emit statesChanged();
    });
    connect(process, &QProcess::errorOccurred, this, [this, name, alarmOnEnd](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        if (alarmOnEnd)
            emit serverEnded(name, QStringLiteral("未能启动"));
        emit statesChanged();
    });
}

QStringList ServerPanel::serverStates() const
{
    QStringList states;
    for (const auto &entry : processes)
        states.append(entry.second + (entry.first->isActive() ? QStringLiteral("：运行中") : QStringLiteral("：未运行")));
    return states;
}

QStringList ServerPanel::runningServers() const
{
    QStringList names;
    for (const auto &entry : processes) {
        if (entry.first->isActive())
            names.append(entry.second);
    }
    return names;
}

void ServerPanel::appendNote(const QString &text, bool failure)
{
    feed->line(QStringLiteral("  ") + text, failure ? ConsoleFeed::Kind::Failed : ConsoleFeed::Kind::Note);
    EventLog::note(QLatin1String(texts.group), text);
}

void ServerPanel::stopServer(ServerProcess *process)
{
    const QString ignored = SetupConfig::instance()->stopGraceIgnored();
    if (!ignored.isNull() && process->isActive() && !graceNoteShown) {
        graceNoteShown = true;
        feed->line(QStringLiteral("设置 /Time/StopGrace=%1 无效(应为 0 到 600 秒)，使用 %2 秒")
                     .arg(ignored).arg(SetupConfig::instance()->stopGrace()),
                 ConsoleFeed::Kind::Note, false);
    }
    if (process->isActive())
        EventLog::note(QLatin1String(texts.group), QStringLiteral("关闭 ") + plainName(process));
    process->stop(SetupConfig::instance()->stopGrace() * 1000);
}

QString ServerPanel::plainName(const ServerProcess *process) const
{
    for (const auto &entry : processes) {
        if (entry.first == process)
            return entry.second;
    }
    return QString();
}

void ServerPanel::stopAll()
{
    for (const auto &entry : qAsConst(processes))
        stopServer(entry.first);
}

void ServerPanel::startServer(ServerProcess *process)
{
    programPath = pathField->text();
    workPath = workDirField->text();
    param = paramField->text();
    // The typed texts are saved, before the working directory is corrected.
    // A settings file the operator may not write (an installation in /etc)
    // would lose them at the next start: say so, once a run.
    if (!saveServerParam({programPath, workPath, param, recordLimit}) && !saveFailureShown) {
        saveFailureShown = true;
        EventLog::note(QLatin1String(texts.group), QStringLiteral("设置未能保存：") + SetupConfig::instance()->configFilePath());
        feed->line(QStringLiteral("设置未能保存：无法写入 %1，下次启动仍用原来的路径和参数")
                                     .arg(QDir::toNativeSeparators(SetupConfig::instance()->configFilePath())),
                                 ConsoleFeed::Kind::Note, false);
    }

    // The status turns to started when the process has started (see
    // followServerStatus); until then it keeps saying not started.
    appendStartBanner(process);

    const QString base = SetupConfig::instance()->appDirPath();
    const QString program = LaunchRules::resolveProgram(pathField->text(), base);
    process->setProgram(program);
    // An empty field means no arguments, also after a start that had some.
    process->setArguments(LaunchRules::splitArguments(paramField->text()));
    // The field keeps the operator's relative text unless it is corrected.
    const QString workField = LaunchRules::resolveDir(workDirField->text(), base);
    QString correctedField;
    const QString dir = LaunchRules::workingDirectory(program, workField, &correctedField);
    if (correctedField != workField)
        workDirField->setText(correctedField);
    process->setWorkingDirectory(dir);
    process->cancelRestart();
    // The operator's start: the count of automatic restarts starts anew.
    if (process == followed)
        restarts = 0;
    process->launch(QIODevice::ReadWrite);
}

void ServerPanel::openFolderOf(const QString &path)
{
    const QDir dir = QFileInfo(path).dir();
    if (dir.exists())
        QDesktopServices::openUrl(QUrl::fromLocalFile(dir.absolutePath()));
}

void ServerPanel::fitControls()
{
    // Room for the band's margins and its vertical scroll bar.
    const int room = width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 12;
    for (const bool narrow : {false, true}) {
        statusLayout->setDirection(narrow ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
        arrangeButtons(narrow);
        // A long caption beside "打开" is wider than the field below it:
        // narrow, the button goes beside the field.
        const std::array<std::tuple<QGridLayout *, QWidget *, QWidget *, QWidget *>, 2> rows{
            {{pathLayout, pathLabel, pathOpenButton, pathField}, {workDirLayout, workDirLabel, workDirOpenButton, workDirField}}};
        for (const auto &[row, caption, button, field] : rows) {
            for (QWidget *w : {caption, button, field})
                row->removeWidget(w);
            row->addWidget(caption, 0, 0, 1, narrow ? 2 : 1);
            row->addWidget(button, narrow ? 1 : 0, 1);
            row->addWidget(field, 1, 0, 1, narrow ? 1 : 2);
        }
        topLayout->invalidate();
        if (narrow || topLayout->minimumSize().width() <= room)
            break;
    }
}

void ServerPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitControls();
}

void ServerPanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A new font size changes what the buttons need; they are polished anew
    // first, so look once that is done.
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)
        QTimer::singleShot(0, this, &ServerPanel::fitControls);
}

void ServerPanel::dragEnterEvent(QDragEnterEvent *event)
{
    event->acceptProposedAction();
}

void ServerPanel::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        paths.append(url.toLocalFile());
    const LaunchRules::DropResult result = LaunchRules::dropTarget(paths);
    if (!result.matched)
        return;
    if (!result.programPath.isEmpty()) {
        pathField->setText(result.programPath);
        return;
    }
    workDirField->setText(result.workDir);
    if (!result.param.isEmpty())
        paramField->setText(result.param);
}

void ServerPanel::slotClearRecord()
{
    feed->discardPending();
    console->clear();
}

void ServerPanel::slotClearPath()
{
    pathField->clear();
}

void ServerPanel::slotClearParam()
{
    paramField->clear();
}

void ServerPanel::slotClearWorkDir()
{
    workDirField->clear();
}

void ServerPanel::slotClearAll()
{
    pathField->clear();
    paramField->clear();
    workDirField->clear();
    feed->discardPending();
    console->clear();
}

void ServerPanel::searchNext(QString txt, bool caseSensitively)
{
    ConsoleSearch::searchNext(console, txt, caseSensitively);
}

void ServerPanel::searchPrevious(QString txt, bool caseSensitively)
{
    ConsoleSearch::searchPrevious(console, txt, caseSensitively);
}

void ServerPanel::searchAll(QString txt, bool caseSensitively)
{
    searchPanel->setCount(ConsoleSearch::searchAll(console, highlighter, txt, caseSensitively));
}

void ServerPanel::clearHighLight()
{
    ConsoleSearch::clearHighLight(highlighter);
    searchPanel->setCount(0);
}
