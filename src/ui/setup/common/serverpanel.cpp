#include "ui/setup/common/serverpanel.h"

#include "supervision/consolefeed.h"
#include "supervision/launchrules.h"
#include "supervision/serverlog.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/consolepalette.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/lightpoint.h"
#include "ui/widgets/scrollstrip.h"
#include "ui/widgets/searchhighlight.h"
#include "ui/widgets/searchpanel.h"

#include <QCheckBox>
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

ServerPanel::ServerPanel(const Texts &panelTexts, StackLink *stack, QWidget *parent)
    : QWidget(parent)
    , texts(panelTexts)
    , servers(stack)
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
    autoRestartBox->setChecked(servers->autoRestart());
    buttonLayout->addWidget(autoRestartBox, 2, 0, 1, 2);
    startWithLauncherBox = new QCheckBox(QStringLiteral("随启动器启动"));
    startWithLauncherBox->setChecked(servers->startsWithLauncher());
    buttonLayout->addWidget(startWithLauncherBox, 3, 0, 1, 2);
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
    setServerStatus(servers->mainRunning() ? 1 : 0);

    feed = servers->queue();
    // What the feed made is shown once a frame at most.
    takeTimer = new QTimer(this);
    takeTimer->setSingleShot(true);
    connect(takeTimer, &QTimer::timeout, this, &ServerPanel::showFed);
    connect(feed, &FeedQueue::ready, this, [this] {
        if (!takeTimer->isActive())
            takeTimer->start(int(qMax<qint64>(0, kFrameMs - sinceTake.elapsed())));
    });
    sinceTake.start();
    connect(servers.get(), &StackLink::logFailed, this, [this](const QString &message) {
        console->appendParagraph(message, coloured(ConsolePalette::note()));
        setStatusNote(QStringLiteral("log"), QStringLiteral("日志写入失败，每 10 秒重试"), message);
    });
    connect(servers.get(), &StackLink::logRecovered, this, [this](const QString &message) {
        console->appendParagraph(message, coloured(ConsolePalette::note()));
        setStatusNote(QStringLiteral("log"), QString());
    });

    // What the servers do, shown.
    connect(stack, &StackLink::mainStatusChanged, this, [this](bool started) { setServerStatus(started ? 1 : 0); });
    connect(stack, &StackLink::figuresChanged, this, &ServerPanel::updateFigures);
    connect(stack, &StackLink::workDirCorrected, workDirField, &QLineEdit::setText);
    connect(autoRestartBox, &QCheckBox::toggled, stack, &StackLink::setAutoRestart);
    connect(startWithLauncherBox, &QCheckBox::toggled, stack, &StackLink::setStartWithLauncher);
    // A server starts with what the fields hold when it starts.
    servers->setFields([this] { return typedParam(); });
    connect(stack, &StackLink::refused, this, &showRefusal);
    connect(stack, &StackLink::statusNote, this, &ServerPanel::setStatusNote);
    connect(stack, &StackLink::serverEnded, this, &ServerPanel::serverEnded);
    connect(stack, &StackLink::serverRunning, this, &ServerPanel::serverRunning);
    connect(stack, &StackLink::statesChanged, this, &ServerPanel::statesChanged);

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

ServerPanel::~ServerPanel()
{
    // Nothing the servers report while they go may reach a panel half gone.
    disconnect(feed, nullptr, this, nullptr);
    for (QObject *part : servers->findChildren<QObject *>())
        disconnect(part, nullptr, this, nullptr);
    disconnect(servers.get(), nullptr, this, nullptr);
    servers.reset();
}

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
    servers->syncQueue();
    do {
        console->flush();
        showFed();
    } while (feed->hasPending());
    console->flush();
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

void ServerPanel::setServerStatus(int started)
{
    const QColor color = started > 0 ? startedColor : stoppedColor;
    statusLamp->setBgColor(color);
    statusLabel->setText(started > 0 ? texts.started : texts.stopped);
    statusLabel->setStyleSheet(QStringLiteral("color:%1;").arg(color.name()));
}

void ServerPanel::updateFigures()
{
    QStringList parts = servers->figures();
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
    updateFigures();
    figuresTimer->start();
}

void ServerPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    figuresTimer->stop();
}

QStringList ServerPanel::serverStates() const
{
    return servers->serverStates();
}

QStringList ServerPanel::runningServers() const
{
    return servers->runningServers();
}

void ServerPanel::stopAll()
{
    servers->stopAll();
}

ServerParam ServerPanel::typedParam()
{
    programPath = pathField->text();
    workPath = workDirField->text();
    param = paramField->text();
    return {programPath, workPath, param, recordLimit};
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
