#pragma once

#include "ui/setup/common/serverpanel.h"

#include <QProcess>

class ColorProgressBar;
class QPushButton;
class SipStack;

// Shows the SIP server with the two services it needs (the MySQL start
// command and Redis), all writing into one console, and the progress of the
// update start; forwards the operator's presses to the stack.
class SipServerSetup : public ServerPanel
{
    Q_OBJECT
    Q_DISABLE_COPY(SipServerSetup)

public:
    explicit SipServerSetup(QWidget *parent = nullptr);
    // Shows the SIP stack behind link (the service's); null: one of its own.
    explicit SipServerSetup(StackLink *link, QWidget *parent = nullptr);

protected:
    void arrangeButtons(bool narrow) override;

private slots:
    void slotSetupProgram();
    void slotClostProgram();
    // The console operations of each process (1: the SIP server, 2: the
    // MySQL command, 3: Redis); the supervisors watch their processes
    // themselves and call them as they read and see them end.
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
    // The operator's yes before the clean script drops every table.
    bool confirmClean();

    SipStack *sip = nullptr;     // null when the stack is the service's
    QPushButton *updateButton = nullptr;
    ColorProgressBar *progressBar = nullptr;
    QLabel *stepLabel = nullptr;
};
