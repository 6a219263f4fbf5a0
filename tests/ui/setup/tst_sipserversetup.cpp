#include "panelprobe.h"
#include "redisserver.h"
#include "sipsettings.h"
#include "setting/setupconfig.h"
#include "testsupport.h"
#include "ui/setup/sipserver/sipserversetup.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/ctextbrowser.h"

#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QHostAddress>
#include <QTcpServer>
#include <QTest>
#include <QUrl>

#include <memory>

using TestSupport::testHelperPath;

using TestSupport::kRedis;
using Services = TestSupport::SipServices;

namespace {

const QString kEnd = QStringLiteral("程序结束--");

// SIP panels in these tests start the test helper with the given parameter.
struct Panel : TestSupport::PanelProbe<SipServerSetup>
{
    explicit Panel(const QString &params, int limit = 10000)
        : PanelProbe(testHelperPath(), params, QString(), limit)
    {
    }
};

} // namespace

class tst_SipServerSetup : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void widgets();
    void oneConsoleOneCounter();
    void dropOnConsoleReachesPanel();

private:
    void configure(const Services &services);
    std::unique_ptr<TestSupport::TempAppDir> appDir;
    std::unique_ptr<TestSupport::RedisConfig> redis;
};

void tst_SipServerSetup::configure(const Services &services)
{
    appDir.reset(new TestSupport::TempAppDir);
    redis.reset(new TestSupport::RedisConfig);
    TestSupport::configureServices(*appDir, *redis, services);
}

void tst_SipServerSetup::cleanup()
{
    redis.reset();
    appDir.reset();
}

void tst_SipServerSetup::widgets()
{
    configure({});
    Panel p{QString()};
    auto *update = p.widget->findChild<QPushButton *>(QStringLiteral("UpdateButton"));
    QVERIFY(update);
    QCOMPARE(update->text(), QStringLiteral("更新启动"));
    auto *bar = p.widget->findChild<ColorProgressBar *>();
    QVERIFY(bar);
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->size(), QSize(300, 30));
    QCOMPARE(p.widget->findChild<QLabel *>(QStringLiteral("ServerStatusLabel"))->text(), QStringLiteral("服务器未启动"));
    QVERIFY(!p.console->acceptDrops());
}

void tst_SipServerSetup::oneConsoleOneCounter()
{
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out m1\\n sleep 300 out m2\\n");
    configure(s);
    // Records: m1 and s1 (in either order), s2, m2, s3: at s3 the limit of 4
    // drops the oldest.
    Panel p(QStringLiteral("out s1\\n sleep 150 sleep 0 out s2\\n sleep 300 out s3\\n"), 4);
    p.start();
    QTRY_VERIFY_WITH_TIMEOUT(p.text().contains(QStringLiteral("s3")), 5000);
    QTRY_VERIFY(p.text().lastIndexOf(kEnd) > p.text().indexOf(QStringLiteral("s3")));
    const QString text = p.text();
    QCOMPARE(text.count(QStringLiteral("(信息)")), 4);
    QVERIFY2(!text.contains(QLatin1String("s1")) || !text.contains(QLatin1String("m1")), qPrintable(text));
    for (const char *kept : {"s2", "m2", "s3"})
        QVERIFY2(text.contains(QLatin1String(kept)), qPrintable(text));
}

void tst_SipServerSetup::dropOnConsoleReachesPanel()
{
    configure({});
    QTemporaryDir scratch;
    Panel p(QStringLiteral("x"));
    p.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.widget.get()));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(scratch.path())});
    QWidget *target = p.console->viewport();
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QCOMPARE(p.workDir->text(), scratch.path());
    QCOMPARE(p.param->text(), QStringLiteral("x"));
}

QTEST_MAIN(tst_SipServerSetup)
#include "tst_sipserversetup.moc"
