#include "panelprobe.h"
#include "setting/inifile.h"
#include "setting/setupconfig.h"
#include "testsupport.h"
#include "ui/setup/mediaserver/mediaserversetup.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchpanel.h"

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

using TestSupport::ModalBoxCloser;
using TestSupport::testHelperPath;

namespace {

using Panel = TestSupport::PanelProbe<MediaServerSetup>;

const QString kStart = QStringLiteral("程序启动--");
const QString kEnd = QStringLiteral("程序结束--");

void sendDrop(QWidget *target, const QList<QUrl> &urls, const QString &plainText = QString())
{
    QMimeData data;
    if (!urls.isEmpty())
        data.setUrls(urls);
    if (!plainText.isEmpty())
        data.setText(plainText);
    const QPoint pos(5, 5);
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

} // namespace

class tst_MediaServerSetup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void outputAndErrorShareOneCounter();
    void returnInEachFieldStarts_data();
    void returnInEachFieldStarts();
    void drops_data();
    void drops();
    void dropOnFieldIsTheFieldsOwn();
    void ctrlFTogglesSearch();
    void logFailureStaysInView();
    void figuresFollowTheServer();

private:
    std::unique_ptr<TestSupport::TempAppDir> appDir;
};

void tst_MediaServerSetup::init()
{
    appDir.reset(new TestSupport::TempAppDir);
    appDir->initialize();
}

void tst_MediaServerSetup::outputAndErrorShareOneCounter()
{
    // Limit 3: out, err, out are kept; the fourth record (err) clears.
    Panel p(testHelperPath(), QStringLiteral("out o1\\n sleep 150 err e1\\n sleep 150 out o2\\n sleep 150 err e2\\n"),
            QString(), 3);
    p.start();
    QTRY_VERIFY(p.text().contains(kEnd));
    const QString text = p.text();
    QVERIFY2(!text.contains(QStringLiteral("o1")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("e2")), qPrintable(text));
}

void tst_MediaServerSetup::returnInEachFieldStarts_data()
{
    QTest::addColumn<int>("field");
    QTest::newRow("path") << 0;
    QTest::newRow("work dir") << 1;
    QTest::newRow("param") << 2;
}

void tst_MediaServerSetup::returnInEachFieldStarts()
{
    QFETCH(int, field);
    Panel p(testHelperPath(), QStringLiteral("out up\\n forever"));
    CLineEdit *target = field == 0 ? p.path : field == 1 ? p.workDir : p.param;
    QCOMPARE(p.status(), QStringLiteral("媒体服务器未启动"));
    QTest::keyClick(target, Qt::Key_Return);
    QTRY_VERIFY(p.text().contains(QStringLiteral("up")));
    QCOMPARE(p.status(), QStringLiteral("媒体服务器已启动"));

    ModalBoxCloser closer;
    QTest::keyClick(target, Qt::Key_Return);
    QTRY_COMPARE(closer.count(), 1);
    QCOMPARE(closer.lastTitle(), QStringLiteral("提示"));
    QCOMPARE(closer.lastText(), QStringLiteral("服务器已经启动，请勿重复启动!"));
    QCOMPARE(p.text().count(kStart), 1);
    p.close();
    QTRY_COMPARE(p.status(), QStringLiteral("媒体服务器未启动"));
}

void tst_MediaServerSetup::drops_data()
{
    QTest::addColumn<QStringList>("names");   // relative to a scratch folder; "-" prefix: not created
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("workDir");
    QTest::addColumn<QString>("param");

    // Fields start as "P", "W", "A".
#if defined(Q_OS_WIN)
    // A program is an .exe file; execute rights mean nothing.
    QTest::newRow("program") << QStringList{"bin/MediaServer.exe"} << "bin/MediaServer.exe" << "W" << "A";
    QTest::newRow("plain file") << QStringList{"bin/MediaServer*"} << "P" << "bin" << "MediaServer";
#else
    // A program is a file its owner may execute, whatever its name.
    QTest::newRow("program") << QStringList{"bin/MediaServer*"} << "bin/MediaServer" << "W" << "A";
    QTest::newRow("plain file") << QStringList{"bin/MediaServer.exe"} << "P" << "bin" << "MediaServer.exe";
#endif
    QTest::newRow("two dots") << QStringList{"bin/server.new.exe"} << "P" << "bin" << "server.new.exe";
    QTest::newRow("folder") << QStringList{"bin/"} << "P" << "bin" << "A";
    QTest::newRow("missing skipped") << QStringList{"-gone.txt", "bin/conf.ini"} << "P" << "bin" << "conf.ini";
    QTest::newRow("first decides") << QStringList{"bin/", "bin/MediaServer*"} << "P" << "bin" << "A";
    QTest::newRow("nothing exists") << QStringList{"-a", "-b"} << "P" << "W" << "A";
    QTest::newRow("blank in the name") << QStringList{"bin/media server.ini"} << "P" << "bin" << "\"media server.ini\"";
}

void tst_MediaServerSetup::drops()
{
    QFETCH(QStringList, names);
    QFETCH(QString, path);
    QFETCH(QString, workDir);
    QFETCH(QString, param);

    QTemporaryDir scratch;
    const QString root = QDir(scratch.path()).canonicalPath();
    QDir().mkpath(root + QStringLiteral("/bin"));
    QList<QUrl> urls;
    for (QString name : names) {
        const bool create = !name.startsWith(QLatin1Char('-'));
        const bool executable = name.endsWith(QLatin1Char('*'));
        name.remove(QLatin1Char('-')).remove(QLatin1Char('*'));
        const QString full = root + QLatin1Char('/') + name;
        if (create && !name.endsWith(QLatin1Char('/'))) {
            QFile f(full);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            if (executable)
                f.setPermissions(f.permissions() | QFile::ExeOwner);
        }
        urls << QUrl::fromLocalFile(full.endsWith(QLatin1Char('/')) ? full.chopped(1) : full);
    }

    Panel p(QStringLiteral("P"), QStringLiteral("A"), QStringLiteral("W"));
    sendDrop(p.widget.get(), urls);
    auto expand = [&root](const QString &v) {
        return v.size() > 1 ? root + QLatin1Char('/') + v : v;
    };
    QCOMPARE(p.path->text(), expand(path));
    QCOMPARE(p.workDir->text(), expand(workDir));
    QCOMPARE(p.param->text(), param);
    // A drop only fills fields: nothing is saved or started.
    QVERIFY(p.text().isEmpty());
}

void tst_MediaServerSetup::dropOnFieldIsTheFieldsOwn()
{
    QTemporaryDir scratch;
    Panel p(QStringLiteral("P"), QStringLiteral("A"), QStringLiteral("W"));
    sendDrop(p.param, {QUrl::fromLocalFile(scratch.path())});
    QCOMPARE(p.param->text(), scratch.path());
    QCOMPARE(p.workDir->text(), QStringLiteral("W"));
    // A path with a blank becomes one argument; a path field takes it as it is.
    const QString blank = scratch.path() + QStringLiteral("/media server.ini");
    sendDrop(p.param, {QUrl::fromLocalFile(blank)});
    QCOMPARE(p.param->text(), QLatin1Char('"') + blank + QLatin1Char('"'));
    sendDrop(p.workDir, {QUrl::fromLocalFile(blank)});
    QCOMPARE(p.workDir->text(), blank);
}

void tst_MediaServerSetup::ctrlFTogglesSearch()
{
    Panel p;
    p.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.widget.get()));
    auto *search = p.widget->findChild<SearchPanel *>();
    QVERIFY(search && search->isHidden());
    p.path->setFocus();
    QTest::keyClick(p.path, Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(!search->isHidden());
    QTest::keyClick(p.path, Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(search->isHidden());
    p.button(QStringLiteral("搜索"))->click();
    QVERIFY(!search->isHidden());
}

// Beside the status: uptime and the tree's CPU and memory while it runs,
// the last end, the restarts and when the next one comes.
void tst_MediaServerSetup::figuresFollowTheServer()
{
    Panel p(testHelperPath(), QStringLiteral("forever"));
    p.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.widget.get()));
    auto *figures = p.widget->findChild<QLabel *>(QStringLiteral("ServerFiguresLabel"));
    QVERIFY(figures);
    const auto shown = [figures] {
        return figures->text().remove(QChar(0x2060)).replace(QChar::Nbsp, QLatin1Char(' '));
    };
    p.start();
    QTRY_VERIFY_WITH_TIMEOUT(shown().contains(QStringLiteral("运行 2 秒")), 10000);
    QVERIFY2(shown().contains(QStringLiteral("CPU ")), qPrintable(shown()));
    const QRegularExpressionMatch memory = QRegularExpression(QStringLiteral("内存 ([0-9.]+) MB")).match(shown());
    QVERIFY2(memory.hasMatch() && memory.captured(1).toDouble() > 0, qPrintable(shown()));
    p.close();
    QTRY_VERIFY(shown().contains(QStringLiteral("已关闭")));
    QVERIFY(!shown().contains(QStringLiteral("运行")));

    p.param->setText(QStringLiteral("exit 3"));
    p.widget->findChild<QCheckBox *>()->click();
    p.start();
    QTRY_VERIFY(shown().contains(QStringLiteral("将于 ")));
    QTRY_VERIFY(shown().contains(QStringLiteral("已自动重启 1 次")));
    QVERIFY2(shown().contains(QStringLiteral("退出码 3")), qPrintable(shown()));
    p.close();
}

// A log that cannot be written is said under the status until it works
// again, not only in a console that later output scrolls away.
void tst_MediaServerSetup::logFailureStaysInView()
{
    QVERIFY(QDir().mkpath(appDir->path() + QStringLiteral("/logs/MediaServer.log")));
    Panel p(testHelperPath(), QStringLiteral("out hello\\n exit 0"));
    auto *notice = p.widget->findChild<QLabel *>(QStringLiteral("StatusNoteLabel"));
    QVERIFY(notice && !notice->isVisibleTo(p.widget.get()));
    p.start();
    QTRY_VERIFY(notice->isVisibleTo(p.widget.get()));
    QVERIFY(notice->toolTip().contains(QStringLiteral("MediaServer.log")));
    QTRY_VERIFY(p.text().contains(QStringLiteral("日志无法写入")));
}

QTEST_MAIN(tst_MediaServerSetup)
#include "tst_mediaserversetup.moc"
