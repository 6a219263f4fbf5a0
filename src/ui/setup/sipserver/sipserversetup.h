#pragma once

#include "supervision/updatestart.h"
#include "ui/setup/common/serverpanel.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QVector>

class ColorProgressBar;
class QPushButton;
class QTcpSocket;
class ServerProcess;

// Supervises the SIP signalling server with the two services it needs (the
// MySQL start command and Redis), all writing into one console, and offers
// the update start that prepares the database before the server starts.
class SipServerSetup : public ServerPanel
{
    Q_OBJECT
    Q_DISABLE_COPY(SipServerSetup)

public:
    explicit SipServerSetup(QWidget *parent = nullptr);
    ~SipServerSetup() override;

protected:
    bool saveServerParam(const ServerParam &p) override;
    void arrangeButtons(bool narrow) override;

private slots:
    void slotSetupProgram();
    void slotClostProgram();
    void readStandardOutput1();
    void processError1(QProcess::ProcessError error);
    void processFinished1(int index, QProcess::ExitStatus status);
    void readStandardError1();
    void readStandardOutput2();
    void processError2(QProcess::ProcessError error);
    void processFinished2(int index, QProcess::ExitStatus status);
    void readStandardError2();
    void readStandardOutput3();
    void processError3(QProcess::ProcessError error);
    void processFinished3(int index, QProcess::ExitStatus status);
    void readStandardError3();
    void loadDataSetupProgram();
    void sqlError(QString txt);
    void execSqlTip(int index, int total);
    void setupMysql();
    void setupRedis();

private:
    static constexpr int kServiceWaitSeconds = 60;
    void startSipServer(bool waitForServices);
    void probeServices();
    void endServiceWait();
    void cancelServiceWait();
    QString awaitedNames() const;
    void stopAwaiting(const QString &what);

    static QString stepName(UpdateStart::Step step);
    // "正在…" while the step runs, "未完成：…" after it failed.
    static QString stepText(UpdateStart::Step step, bool running);
    // The operator's yes before the clean script drops every table.
    bool confirmClean();

    ServerProcess *process = nullptr;
    ServerProcess *mysqlProcess = nullptr;
    ServerProcess *redisProcess = nullptr;
    QPushButton *updateButton = nullptr;
    ColorProgressBar *progressBar = nullptr;
    QLabel *stepLabel = nullptr;
    // The update start; the panel shows its progress and forwards presses.
    UpdateStart *sequence = nullptr;
    // What 启动 waits for before the SIP server starts.
    struct Awaited
    {
        QString what;
        QString host;
        quint16 port;
        QTcpSocket *probe;  // a connection attempt under way
    };
    QVector<Awaited> awaited;
    void dropProbe(const Awaited &a);
    QTimer serviceTimer;
    QElapsedTimer serviceClock;
};
