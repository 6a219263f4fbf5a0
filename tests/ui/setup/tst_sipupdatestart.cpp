#include "dbfixture.h"
#include "sipsettings.h"
#include "testsupport.h"
#include "supervision/updatestart.h"
#include "ui/setup/sipserver/sipserversetup.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/ctextbrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
// One tick of the update start's wait for the SIP server.
constexpr int kTickMs = 250;
} // namespace

using TestSupport::DbFixture;
using TestSupport::ModalBoxCloser;
using TestSupport::testHelperPath;

namespace {

// Scripts of the test's own, so that every step has an effect to look at.
const QString kConfirm = QStringLiteral("确认更新启动");

// Records every value the progress bar takes: the worker's notices reach
// the panel's update-start sequence as queued calls, so the bar is read as
// each one arrives (showing what the previous notice set) and once more at
// the end.
class BarWatcher : public QObject
{
public:
    BarWatcher(ServerPanel *panel, ColorProgressBar *bar)
        : bar(bar)
    {
        panel->stack()->findChild<UpdateStart *>()->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            sample();
        return false;
    }
    void sample()
    {
        const int v = qRound(bar->getValue());
        if (values.isEmpty() || values.last() != v)
            values << v;
    }
    QList<int> values;

private:
    ColorProgressBar *bar;
};

} // namespace

class tst_SipUpdateStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullSequence();
    void failureIsWarned();
    void secondPressWhileRunningDoesNothing();
    void cleanIsConfirmedFirst();

private:
    void configure(int waitTicks, const QString &password = QString(), int readyPort = 0);
    QStringList probeRows() { return db->column(QStringLiteral("SELECT step FROM probe ORDER BY step")); }
    QPushButton *updateButton() const { return panel->findChild<QPushButton *>(QStringLiteral("UpdateButton")); }
    // Presses "更新启动" and gives the answer when it asks before the clean
    // step; returns whether it asked.
    bool pressUpdate(QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        bool asked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->isVisible() && box->windowTitle() == kConfirm) {
                asked = true;
                confirmText = box->text();
                box->done(answer);
            }
        });
        poll.start(1);
        updateButton()->click();
        return asked;
    }
    QString confirmText;
    ColorProgressBar *bar() const { return panel->findChild<ColorProgressBar *>(); }
    QString stepText() const { return panel->findChild<QLabel *>(QStringLiteral("UpdateStepLabel"))->text(); }
    QString consoleText() const
    {
        panel->showPendingOutput();
        return panel->findChild<CTextBrowser *>(QStringLiteral("ServerConsole"))->toPlainText();
    }
    void closeServer()
    {
        for (QPushButton *b : panel->findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("关闭"))
                b->click();
        }
    }

    std::unique_ptr<DbFixture> db;
    std::unique_ptr<TestSupport::TempAppDir> appDir;
    std::unique_ptr<SipServerSetup> panel;
};

void tst_SipUpdateStart::init()
{
    db.reset(new DbFixture);
    if (!db->isReady())
        QFAIL(qPrintable(db->failure()));
    appDir.reset(new TestSupport::TempAppDir);
    QVERIFY(TestSupport::writeProbeScripts(*appDir));
}

void tst_SipUpdateStart::cleanup()
{
    panel.reset();
    appDir.reset();
    db.reset();
}

void tst_SipUpdateStart::configure(int waitTicks, const QString &password, int readyPort)
{
    TestSupport::configureUpdateStart(*appDir, *db, waitTicks, password, readyPort);
    panel.reset(new SipServerSetup);
    panel->setServerParam({testHelperPath(), QString(), QStringLiteral("out sip-up\\n forever"), 10000});
    // The waits count ticks; a tick need not be a second here.
    panel->stack()->findChild<UpdateStart *>()->setTickMs(kTickMs);
}

void tst_SipUpdateStart::fullSequence()
{
    configure(2);
    BarWatcher watcher(panel.get(), bar());
    pressUpdate();
    QVERIFY(!bar()->isHidden());

    QTRY_VERIFY(consoleText().contains(QStringLiteral("sip-up")));
    // The SIP server runs, but the update script waits for its ticks.
    QCOMPARE(probeRows(), QStringList{QStringLiteral("init")});
    QCOMPARE(stepText(), QStringLiteral("正在等待SIP服务器就绪（最多 2 秒）"));
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 6000);
    QCOMPARE(stepText(), QStringLiteral("更新启动完成"));
    watcher.sample();
    QCOMPARE(watcher.values, (QList<int>{0, 25, 50, 75, 100}));
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    QVERIFY(!bar()->isHidden());
    // MySQL was asked to start at the beginning and again with the server,
    // unless the first command still ran by then (process start-up is slow
    // under Wine): a second start would be refused anyway.
    QTRY_VERIFY(consoleText().contains(QStringLiteral("程序结束--")));
    const QString text = consoleText();
    const int mysqlRuns = text.indexOf(QStringLiteral("程序结束--")) < text.indexOf(QStringLiteral("程序启动--")) ? 2 : 1;
    QTRY_COMPARE(consoleText().count(QStringLiteral("mysql-started")), mysqlRuns);

    // After a completed sequence the next press starts from the connection.
    closeServer();
    QVERIFY(bar()->isHidden());
    // The ends of the MySQL command, then the server's, stopped politely.
    QTRY_COMPARE(consoleText().count(QStringLiteral("程序结束--")), mysqlRuns + 1);
    QTRY_VERIFY(panel->runningServers().isEmpty());
    BarWatcher again(panel.get(), bar());
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 6000);
    again.sample();
    QCOMPARE(again.values, (QList<int>{0, 25, 50, 75, 100}));
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
}

// A failed step is a "警告" box with the reason; the bar and the step's text
// stay where the sequence stopped.
void tst_SipUpdateStart::failureIsWarned()
{
    QFile::remove(appDir->path() + QStringLiteral("/config/mysql/clean.sql"));
    configure(1);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
    QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
    QCOMPARE(closer.lastText(), QStringLiteral("打不开") + appDir->path() + QStringLiteral("/config/mysql/clean.sql"));
    QCOMPARE(qRound(bar()->getValue()), 25);
    QVERIFY(!bar()->isHidden());
    QCOMPARE(stepText(), QStringLiteral("未完成：执行清理脚本"));
}

void tst_SipUpdateStart::secondPressWhileRunningDoesNothing()
{
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), "CREATE TABLE IF NOT EXISTS runs (step VARCHAR(20) NOT NULL);\n"
                                             "INSERT INTO runs VALUES ('clean');"));
    QVERIFY(appDir->writeScript(QStringLiteral("init.sql"), "INSERT INTO runs VALUES ('init');"));
    QVERIFY(appDir->writeScript(QStringLiteral("update.sql"), "INSERT INTO runs VALUES ('update');"));
    configure(1);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    pressUpdate();   // the connection task is queued or running
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 10000);
    QCOMPARE(db->column(QStringLiteral("SELECT step FROM runs ORDER BY step")),
             (QStringList{QStringLiteral("clean"), QStringLiteral("init"), QStringLiteral("update")}));
    QCOMPARE(closer.count(), 0);
}

// "更新启动" drops every table first: it asks, naming the database and host;
// cancelled, nothing runs and the database keeps its rows. Each step shows
// in the console.
void tst_SipUpdateStart::cleanIsConfirmedFirst()
{
    configure(1);
    QVERIFY(db->exec(QStringLiteral("CREATE TABLE probe (step VARCHAR(20) NOT NULL)")));
    QVERIFY(db->exec(QStringLiteral("INSERT INTO probe VALUES ('device')")));
    QVERIFY(pressUpdate(QMessageBox::Cancel));
    QVERIFY(confirmText.contains(db->database()) && confirmText.contains(DbFixture::host()));
    QCOMPARE(probeRows(), QStringList{QStringLiteral("device")});
    QVERIFY(bar()->isHidden());
    QTRY_VERIFY(consoleText().contains(QStringLiteral("更新启动已取消，数据库未改动")));
    QVERIFY(!consoleText().contains(QStringLiteral("程序启动")));

    QVERIFY(pressUpdate(QMessageBox::Ok));
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 10000);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    const QString text = consoleText();
    QVERIFY(text.indexOf(QStringLiteral("更新启动：正在执行清理脚本")) < text.indexOf(QStringLiteral("更新启动：清理脚本已执行")));
    QVERIFY(text.contains(QStringLiteral("更新启动：更新脚本已执行，更新启动完成")));
}

QTEST_MAIN(tst_SipUpdateStart)
#include "tst_sipupdatestart.moc"
