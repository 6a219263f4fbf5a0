#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"

#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <map>
#include <memory>

class CLineEdit;
class CTextBrowser;
class LightPoint;
class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QTimer;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SearchHighLight;
class SearchPanel;
class ServerProcess;
class QTextCharFormat;

// What both server panels share: the console with its records, banners and
// record limit, the status lamp and text, the three path fields with their
// "打开" buttons, drops, the search bar, and the start sequence of a server
// program. Each panel adds its own processes and what is particular to it.
class ServerPanel : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerPanel)

public:
    // The platform's local 8-bit code page, or UTF-8.
    using Decoding = ConsoleFeed::Decoding;

    struct Texts
    {
        QString started;
        QString stopped;
        const char *sourcePath;   // named when the system codec is missing
        const char *group;        // settings group, also the log file's name
    };

    ~ServerPanel() override;

    void setServerParam(const ServerParam &p);
    // The names of the panel's processes that run (or are stopping).
    QStringList runningServers() const;
    // "媒体服务器：运行中" and the like, one per process.
    QStringList serverStates() const;
    // Shows now what the programs wrote so far (made on the feed's thread,
    // shown once a frame otherwise).
    void showPendingOutput();

signals:
    // A process the operator did not stop ended, or did not start: how says
    // how ("异常终止", "结束，退出码 3", "未能启动").
    void serverEnded(const QString &name, const QString &how);
    void serverRunning(const QString &name);
    // Any process started or ended.
    void statesChanged();

public:
    // Quitting: asks every process of the panel to stop, at once, so that
    // all servers share one grace period; the destructors wait out the rest.
    void stopAll();

protected:
    ServerPanel(const Texts &texts, QWidget *parent);

    // Console operations. A read of a process's output: records end at line
    // ends, so a line cut by the pipe waits for its rest (see OutputStream).
    void appendOutputRecord(const QByteArray &bytes, Decoding decoding, const ServerProcess *source = nullptr);
    void appendErrorOutput(const QByteArray &bytes, const ServerProcess *source = nullptr);
    // Shows what the source's streams hold now: before its end banner.
    void flushOutput(const ServerProcess *source);
    void appendStartBanner(const ServerProcess *process = nullptr);
    // A failed start also names the program and the reason the system gave.
    void appendStartFailure(QProcess::ProcessError error, const ServerProcess *process = nullptr);
    // The exit code shows when it is not 0, unless the program was asked to stop.
    void appendEndBanner(int exitCode, QProcess::ExitStatus status, const ServerProcess *process = nullptr);
    void setServerStatus(int started);

    // Shows the "提示" refusal when the process runs or is starting; returns
    // true when the start must not go on.
    bool refuseWhileBusy(const ServerProcess *process);
    // The panel's own server: the status display follows it (started once it
    // runs, not started when it fails to start or ends in any way), its group
    // is followed past a start script, and "自动重启" restarts it.
    void followServerStatus(ServerProcess *process);
    // Each process of the panel, for stopAll(), runningServers() and the
    // signals above; an end of a process that ends by design (a service
    // start command) is no alarm.
    void addProcess(ServerProcess *process, const QString &name, bool alarmOnEnd = true);
    // A line of the launcher's own in the console and the log.
    void appendNote(const QString &text, bool failure = false);
    // A short text under the status while something stays wrong (empty
    // text: it is over); detail goes into the tool tip.
    void setStatusNote(const QString &key, const QString &text, const QString &detail = QString());
    // The "提示" box that refuses a start, also noted in the event log.
    void refuse(const QString &text);
    // The refusal refuseWhileBusy() would show; empty when a start may go on.
    static QString busyText(const ServerProcess *process);
    // "关闭": a polite stop with the configured grace period.
    void stopServer(ServerProcess *process);
    // Everything of a start after the refusal checks: save the fields, status,
    // banner, command line, working directory, start.
    void startServer(ServerProcess *process);
    // False when the settings file could not be written.
    virtual bool saveServerParam(const ServerParam &p) = 0;

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    // The panel's own buttons beside the lamp (wide) or in two columns below
    // it (narrow); a panel with more buttons places those.
    virtual void arrangeButtons(bool narrow) { Q_UNUSED(narrow) }
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

protected slots:
    void slotClearRecord();
    void slotClearPath();
    void slotClearParam();
    void slotClearWorkDir();
    void slotClearAll();
    void searchNext(QString txt, bool caseSensitively);
    void searchPrevious(QString txt, bool caseSensitively);
    void searchAll(QString txt, bool caseSensitively);
    void clearHighLight();

protected:
    QVBoxLayout *mainLayout = nullptr;
    CTextBrowser *console = nullptr;
    int recordCounter = 0;
    QWidget *topWidget = nullptr;
    QVBoxLayout *topLayout = nullptr;
    QGridLayout *pathLayout = nullptr;
    QLabel *pathLabel = nullptr;
    QPushButton *pathOpenButton = nullptr;
    CLineEdit *pathField = nullptr;
    QGridLayout *workDirLayout = nullptr;
    QLabel *workDirLabel = nullptr;
    QPushButton *workDirOpenButton = nullptr;
    CLineEdit *workDirField = nullptr;
    QGridLayout *paramLayout = nullptr;
    QLabel *paramLabel = nullptr;
    CLineEdit *paramField = nullptr;
    QHBoxLayout *statusLayout = nullptr;
    QHBoxLayout *infoRow = nullptr;
    LightPoint *statusLamp = nullptr;
    QLabel *statusLabel = nullptr;
    QLabel *statusNoteLabel = nullptr;
    QLabel *figuresLabel = nullptr;
    QGridLayout *buttonLayout = nullptr;
    QPushButton *startButton = nullptr;
    QPushButton *closeButton = nullptr;
    QPushButton *clearButton = nullptr;
    QPushButton *searchButton = nullptr;
    QCheckBox *autoRestartBox = nullptr;
    QString programPath;
    QString workPath;
    QString param;
    int recordLimit = 10000;
    SearchPanel *searchPanel = nullptr;
    SearchHighLight *highlighter = nullptr;
    QColor startedColor;
    QColor stoppedColor;

    // A chunk of a process's output as the console shows it.
    QString decode(const QByteArray &bytes, Decoding decoding) const;

private:
    static constexpr int kFrameMs = 16;
    static constexpr qint64 kFrameChars = 256 * 1024;
    static quintptr sourceId(const ServerProcess *source);
    // What the feed made, into the console.
    void showFed();
    // "[Redis]" and the like, in a panel with several processes; else empty.
    QString nameOf(const ServerProcess *process) const;
    // "  [Redis] 程序启动-----…": the banner's title with its hyphens.
    QString bannerTitle(const ServerProcess *process, const QString &title) const;
    QString plainName(const ServerProcess *process) const;
    // Into the console and the log, and noted in the event log.
    void appendBanner(const QString &text, ConsoleFeed::Kind kind);
    void appendSeparator();
    void openFolderOf(const QString &path);

    Texts texts;
    bool saveFailureShown = false;
    bool graceNoteShown = false;
    QList<QPair<ServerProcess *, QString>> processes;
    QMap<QString, QPair<QString, QString>> statusNotes;
    // The figures of the panel's own server (see followServerStatus()).
    void updateFigures();
    // No button's text cut: the buttons go below the lamp when the panel is
    // too narrow for them beside it.
    void fitControls();
    ServerProcess *followed = nullptr;
    QTimer *figuresTimer = nullptr;
    QElapsedTimer upSince;
    int restarts = 0;
    QString lastEnd;
    QDateTime restartAt;
    QElapsedTimer cpuClock;
    QVector<QPair<qint64, qint64>> cpuSamples;  // (ms on cpuClock, CPU ms of the tree)
    ConsoleFeed *feed = nullptr;
    QTimer *takeTimer = nullptr;
    QElapsedTimer sinceTake;
};
