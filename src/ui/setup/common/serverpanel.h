#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"
#include "supervision/serverstack.h"
#include "supervision/stacklink.h"

#include <QColor>
#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QWidget>

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
class ServerSupervisor;
class QTextCharFormat;

// What both server panels share: the console, the status lamp and text with
// the figures, the three path fields with their "打开" buttons, drops, the
// search bar and "自动重启". A panel shows a stack of supervised servers
// (see ServerStack) and forwards the operator's presses; what the servers do
// is the stack's.
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
    };

    // The servers go with the panel (see ~ServerStack).
    ~ServerPanel() override;

    void setServerParam(const ServerParam &p);
    // The names of the panel's servers that run (or are stopping).
    QStringList runningServers() const;
    // "媒体服务器：运行中" and the like, one per server.
    QStringList serverStates() const;
    // Shows now what the programs wrote so far (made on the feed's thread,
    // shown once a frame otherwise).
    void showPendingOutput();
    // What the panel shows; stack() is null when it is the service's.
    StackLink *link() const { return servers.get(); }
    ServerStack *stack() const { return qobject_cast<ServerStack *>(servers.get()); }

signals:
    // A server the operator did not stop ended, or did not start: how says
    // how ("异常终止", "结束，退出码 3", "未能启动").
    void serverEnded(const QString &name, const QString &how);
    void serverRunning(const QString &name);
    // Any server started or ended.
    void statesChanged();

public:
    // Quitting: asks every server of the panel to stop, at once, so that
    // all servers share one grace period; the destructors wait out the rest.
    void stopAll();

protected:
    // Takes the stack; its main server is the one the status shows.
    ServerPanel(const Texts &texts, StackLink *stack, QWidget *parent);

    void setServerStatus(int started);
    // The fields as typed, also kept in programPath, workPath and param.
    ServerParam typedParam();
    // A short text under the status while something stays wrong (empty
    // text: it is over); detail goes into the tool tip.
    void setStatusNote(const QString &key, const QString &text, const QString &detail = QString());

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
    QCheckBox *startWithLauncherBox = nullptr;
    QString programPath;
    QString workPath;
    QString param;
    int recordLimit = 10000;
    SearchPanel *searchPanel = nullptr;
    SearchHighLight *highlighter = nullptr;
    QColor startedColor;
    QColor stoppedColor;

private:
    static constexpr int kFrameMs = 16;
    static constexpr qint64 kFrameChars = 256 * 1024;
    // What the feed made, into the console.
    void showFed();
    void openFolderOf(const QString &path);
    // The figures of the stack's main server.
    void updateFigures();
    // No button's text cut: the buttons go below the lamp when the panel is
    // too narrow for them beside it.
    void fitControls();

    Texts texts;
    std::unique_ptr<StackLink> servers;
    QMap<QString, QPair<QString, QString>> statusNotes;
    QTimer *figuresTimer = nullptr;
    FeedQueue *feed = nullptr;
    QTimer *takeTimer = nullptr;
    QElapsedTimer sinceTake;
};
