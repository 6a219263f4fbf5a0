#pragma once

#include <QIcon>
#include <QMap>
#include <QString>
#include <QWidget>

class MediaServerSetup;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QSplitter;
class QSystemTrayIcon;
class ServiceConnection;
class SipServerSetup;

// The launcher's only top-level window: both server panels side by side, the
// font size bar and the tray entry. Closing it does not end the program.
// Attached to the service, it shows the service's servers: quitting closes
// the window alone, and stopping them all is an action of its own.
class MainWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWidget)

public:
    // service: the service's connection, which must outlive the window; null:
    // the window supervises the servers itself.
    explicit MainWidget(ServiceConnection *service = nullptr, QWidget *parent = nullptr);
    ~MainWidget() override;

    QString styleSheetTemplate;

    // Starts the servers whose panels say "随启动器启动".
    void startMarkedServers();

public slots:
    void setFontSize(int value);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void initUi();
    void initConnect();
    void quit();
    // Attached: every server of the service stops, once confirmed.
    void stopServiceServers();
    void keepOnScreen();
    // A server the operator did not stop ended: the tray icon, a tray
    // message and the title bar say so until it runs again or the operator
    // has seen it (a click on the message or the tray icon).
    void raiseAlert(const QString &name, const QString &how);
    void clearAlert(const QString &name);
    void updateAlertState();

    MediaServerSetup *mediaPanel = nullptr;
    SipServerSetup *sipPanel = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *showAction = nullptr;
    QAction *quitAction = nullptr;
    QAction *logsAction = nullptr;
    QSlider *fontSlider = nullptr;
    QLabel *sizeLabel = nullptr;
    QPushButton *quitButton = nullptr;
    QPushButton *logsButton = nullptr;
    QAction *loginStartAction = nullptr;
    ServiceConnection *service = nullptr;
    QAction *stopAllAction = nullptr;
    int fontSize = 12;
    QSplitter *splitter = nullptr;
    bool splitterPlaced = false;
    // The size the operator gave the window (or its first size): a larger
    // font may force it past that, a smaller one gives it back.
    QSize chosenSize;
    bool applyingFont = false;
    QLabel *settingsNotice = nullptr;   // a settings file that cannot be written
    bool settingsChecked = false;
    QMap<QString, QString> alerts;      // name -> what happened, when
    QIcon trayNormal;
    QIcon trayAlert;
};
