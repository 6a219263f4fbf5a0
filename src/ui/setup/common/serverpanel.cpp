#include "ui/setup/common/serverpanel.h"

#include "ui/setup/common/launchrules.h"
#include "ui/setup/common/serverprocess.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/lightpoint.h"
#include "ui/widgets/searchhighlight.h"
#include "ui/widgets/searchpanel.h"

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
#include <QTextCodec>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
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
    statusLayout->addWidget(statusLamp);
    statusLayout->addWidget(statusLabel);
    statusLayout->addLayout(buttonLayout);

    pathLayout = new QGridLayout;
    pathLabel = new QLabel(QStringLiteral("服务器路径："));
    pathOpenButton = new QPushButton(QStringLiteral("打开"));
    pathField = new CLineEdit;
    pathField->setObjectName(QStringLiteral("ServerPathField"));
    pathLayout->addWidget(pathLabel, 0, 0);
    pathLayout->addWidget(pathOpenButton, 0, 1);
    pathLayout->addWidget(pathField, 1, 0, 1, 2);
    pathLayout->setColumnStretch(0, 1);

    workDirLayout = new QGridLayout;
    workDirLabel = new QLabel(QStringLiteral("工作路径："));
    workDirOpenButton = new QPushButton(QStringLiteral("打开"));
    workDirField = new CLineEdit;
    workDirField->setObjectName(QStringLiteral("ServerWorkDirField"));
    workDirLayout->addWidget(workDirLabel, 0, 2);
    workDirLayout->addWidget(workDirOpenButton, 0, 3);
    workDirLayout->addWidget(workDirField, 1, 2, 1, 2);
    workDirLayout->setColumnStretch(2, 1);

    paramLayout = new QGridLayout;
    paramLabel = new QLabel(QStringLiteral("服务器参数："));
    paramField = new CLineEdit;
    paramField->setObjectName(QStringLiteral("ServerParamField"));
    paramLayout->addWidget(paramLabel, 0, 0);
    paramLayout->addWidget(paramField, 1, 0, 1, 2);

    topLayout->addLayout(statusLayout);
    topLayout->addLayout(pathLayout);
    topLayout->addLayout(workDirLayout);
    topLayout->addLayout(paramLayout);

    console = new CTextBrowser;
    console->setObjectName(QStringLiteral("ServerConsole"));
    console->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // A read-only console has nothing to undo; the undo stack would only
    // keep a copy of every record until the next clear.
    console->setUndoRedoEnabled(false);
    searchPanel = new SearchPanel;
    searchPanel->hide();

    mainLayout->addWidget(topWidget);
    mainLayout->addWidget(console, 10);
    mainLayout->addWidget(searchPanel);
    setLayout(mainLayout);

    setAcceptDrops(true);
    recordCounter = 0;
    highlighter = new SearchHighLight(console->document());
    setServerStatus(0);

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
    connect(searchButton, &QPushButton::clicked, this, [this] { searchPanel->setHidden(!searchPanel->isHidden()); });
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
    // Deleting an attached highlighter detaches it, which strips the formats
    // of every block and so lays out the whole console once more: seconds
    // with a full console, at quit. The text goes with the panel anyway.
    console->clear();
    delete highlighter;
}

void ServerPanel::setServerParam(const ServerParam &p)
{
    programPath = p.programPath;
    workPath = p.workPath;
    param = p.param;
    recordLimit = p.recordCount;
    pathField->setText(programPath);
    workDirField->setText(workPath);
    paramField->setText(param);
}

QString ServerPanel::decode(const QByteArray &bytes, Decoding decoding) const
{
    if (decoding == Decoding::Utf8UntilZero) {
        const int zero = bytes.indexOf('\0');
        return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
    }
#if defined(Q_OS_WIN)
    QTextCodec *pTextCodec = QTextCodec::codecForName("System");
#else
    // Only Windows registers a codec under the name "System"; elsewhere the
    // local 8-bit encoding is the locale's.
    QTextCodec *pTextCodec = QTextCodec::codecForLocale();
#endif
    if (pTextCodec == nullptr)
        qt_assert("pTextCodec != nullptr", texts.sourcePath, __LINE__);
    return pTextCodec->toUnicode(bytes);
}

void ServerPanel::countRecord()
{
    ++recordCounter;
    if (recordCounter > recordLimit) {
        console->clear();
        recordCounter = 0;
    }
}

void ServerPanel::appendOutputRecord(const QByteArray &bytes, Decoding decoding)
{
    countRecord();
    console->append(QStringLiteral("<font color=#ff7038>%1</font>").arg(timestamp() + QStringLiteral("(信息)")));
    console->setTextColor(QColor(QStringLiteral("#F0F0F0")));
    console->append(decode(bytes, decoding));
}

void ServerPanel::appendErrorOutput(const QByteArray &bytes)
{
    countRecord();
    // Escaped, so that "<init>" in a Java stack trace stays visible; being
    // rich text, the chunk's line breaks still fold into one line.
    console->append(QStringLiteral("<font color=blue>%1</font>").arg(decode(bytes, Decoding::SystemCodec).toHtmlEscaped()));
}

void ServerPanel::appendBanner(const QString &text, const char *color)
{
    console->append(QStringLiteral("<font color=%1>%2</font>").arg(QLatin1String(color), timestamp() + text));
}

void ServerPanel::appendStartBanner()
{
    appendBanner(QStringLiteral("  程序启动--------------------------------------------------"), "green");
}

void ServerPanel::appendStartFailure(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart)
        appendBanner(QStringLiteral("  程序启动失败--------------------------------------------------"), "red");
    console->append(QStringLiteral("\n\n"));
}

void ServerPanel::appendEndBanner(int exitCode, QProcess::ExitStatus status)
{
    Q_UNUSED(exitCode)
    if (status == QProcess::CrashExit)
        appendBanner(QStringLiteral("  程序异常终止--------------------------------------------------"), "red");
    else
        appendBanner(QStringLiteral("  程序结束--------------------------------------------------"), "green");
    console->append(QStringLiteral("\n\n"));
}

void ServerPanel::setServerStatus(int started)
{
    const QColor color = started > 0 ? startedColor : stoppedColor;
    statusLamp->setBgColor(color);
    statusLabel->setText(started > 0 ? texts.started : texts.stopped);
    statusLabel->setStyleSheet(QStringLiteral("color:%1;").arg(color.name()));
}

bool ServerPanel::refuseWhileBusy(const QProcess *process)
{
    if (process->state() == QProcess::Running) {
        showRefusal(QStringLiteral("服务器已经启动，请勿重复启动!"));
        return true;
    }
    if (process->state() == QProcess::Starting) {
        showRefusal(QStringLiteral("服务器正在启动中，请耐心等待!"));
        return true;
    }
    return false;
}

void ServerPanel::startServer(ServerProcess *process)
{
    programPath = pathField->text();
    workPath = workDirField->text();
    param = paramField->text();
    // The typed texts are saved, before the working directory is corrected.
    saveServerParam({programPath, workPath, param, recordLimit});

    setServerStatus(1);
    appendStartBanner();

    const QString program = pathField->text();
    process->setProgram(program);
    // An empty field means no arguments, also after a start that had some.
    process->setArguments(LaunchRules::splitArguments(paramField->text()));
    QString correctedField;
    const QString dir = LaunchRules::workingDirectory(program, workDirField->text(), &correctedField);
    if (correctedField != workDirField->text())
        workDirField->setText(correctedField);
    process->setWorkingDirectory(dir);
    process->start(QIODevice::ReadWrite);
}

void ServerPanel::openFolderOf(const QString &path)
{
    const QDir dir = QFileInfo(path).dir();
    if (dir.exists())
        QDesktopServices::openUrl(QUrl::fromLocalFile(dir.absolutePath()));
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
    Q_UNUSED(caseSensitively)
    ConsoleSearch::searchAll(console, highlighter, txt);
}

void ServerPanel::clearHighLight()
{
    ConsoleSearch::clearHighLight(highlighter);
}
