#include "testsupport.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"

#include <QDir>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// Drops onto the path field; Ctrl + wheel on the field and the console.
class TestCLineEdit : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void drop_data();
    void drop();
    void ctrlWheel_data();
    void ctrlWheel();
    void browserScrollsWithoutCtrl();
};

namespace {
// Qt Test's key events are what QApplication records as the application's
// modifier state, which is what the widgets read.
void hold(QWidget *w, int modifiers)
{
    QTest::keyPress(w, Qt::Key_Control, Qt::KeyboardModifiers(modifiers));
}

bool sendWheel(QWidget *target, QPoint angleDelta)
{
    // The event claims no modifiers: only the application state may count.
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    wheel.ignore();
    QCoreApplication::sendEvent(target, &wheel);
    return wheel.isAccepted();
}
} // namespace

void TestCLineEdit::cleanup()
{
    QWidget w;
    QTest::keyRelease(&w, Qt::Key_Control);
}

void TestCLineEdit::drop_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString t = QDir::tempPath();
    auto file = [](const QString &p) { return QUrl::fromLocalFile(p); };
    QTest::newRow("three files: the first") << QList<QUrl>{file(t + "/a.exe"), file(t + "/b"), file(t + "/c")}
                                            << "" << t + "/a.exe";
    QTest::newRow("folder") << QList<QUrl>{file(t)} << "" << t;
    QTest::newRow("missing path") << QList<QUrl>{file("/no/such/x.exe")} << "" << "/no/such/x.exe";
    QTest::newRow("blanks, CJK") << QList<QUrl>{file(t + "/媒体 服务器")} << "" << t + "/媒体 服务器";
    QTest::newRow("url and text") << QList<QUrl>{file(t + "/a")} << "words" << t + "/a";
    QTest::newRow("plain text: unchanged") << QList<QUrl>() << "/tmp/typed" << "initial";
    QTest::newRow("web link empties") << QList<QUrl>{QUrl("https://example.org/a.jar")} << "" << "";
    QTest::newRow("web link first") << QList<QUrl>{QUrl("https://example.org/a"), file(t + "/b")} << "" << "";
}

void TestCLineEdit::drop()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    QFETCH(QString, expected);

    CLineEdit edit;
    edit.setText(QStringLiteral("initial"));
    edit.setCursorPosition(3);
    QSignalSpy changed(&edit, &QLineEdit::textChanged);
    QSignalSpy edited(&edit, &QLineEdit::textEdited);
    QMimeData data;
    if (!urls.isEmpty())
        data.setUrls(urls);
    if (!text.isEmpty())
        data.setText(text);

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&edit, &enter);
    QVERIFY(enter.isAccepted());             // whatever the drag carries
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&edit, &drop);

    QCOMPARE(edit.text(), expected);
    QCOMPARE(changed.count(), expected == "initial" ? 0 : 1);
    QCOMPARE(edited.count(), 0);
}

void TestCLineEdit::ctrlWheel_data()
{
    QTest::addColumn<bool>("browser");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<int>("start");      // pixel size; -1: a 12 pt font
    QTest::addColumn<int>("expected");

    const int ctrl = Qt::ControlModifier;
    for (bool browser : {false, true}) {
        const QByteArray k = browser ? "browser: " : "edit: ";
        auto row = [&](const char *name) -> QTestData & { return QTest::newRow((k + name).constData()); };
        row("away grows by 1") << browser << ctrl << QPoint(0, 120) << 14 << 15;
        row("towards shrinks by 1") << browser << ctrl << QPoint(0, -120) << 14 << 13;
        row("four notches, still 1") << browser << ctrl << QPoint(0, 480) << 400 << 401;
        row("zero delta shrinks") << browser << ctrl << QPoint(0, 0) << 14 << 13;
        row("horizontal dominates") << browser << ctrl << QPoint(-240, 30) << 14 << 13;
        row("2 to 1") << browser << ctrl << QPoint(0, -120) << 2 << 1;
        row("not below 1") << browser << ctrl << QPoint(0, -120) << 1 << 1;
        row("point-sized font") << browser << ctrl << QPoint(0, 120) << -1 << -1;
        row("ctrl+shift") << browser << int(ctrl | Qt::ShiftModifier) << QPoint(0, 120) << 14 << 14;
        row("ctrl+alt") << browser << int(ctrl | Qt::AltModifier) << QPoint(0, 120) << 14 << 14;
        row("no modifier") << browser << int(Qt::NoModifier) << QPoint(0, 120) << 14 << 14;
    }
}

void TestCLineEdit::ctrlWheel()
{
    QFETCH(bool, browser);
    QFETCH(int, modifiers);
    QFETCH(QPoint, delta);
    QFETCH(int, start);
    QFETCH(int, expected);

    std::unique_ptr<QWidget> widget(browser ? static_cast<QWidget *>(new CTextBrowser)
                                            : new CLineEdit);
    // A scroll area takes its wheel events through the viewport.
    QWidget *target = browser ? static_cast<CTextBrowser *>(widget.get())->viewport() : widget.get();
    QFont font = widget->font();
    start > 0 ? font.setPixelSize(start) : font.setPointSize(12);
    widget->setFont(font);

    hold(widget.get(), modifiers);
    QCOMPARE(int(QGuiApplication::keyboardModifiers()), modifiers);
    const bool accepted = sendWheel(target, delta);

    QCOMPARE(widget->font().pixelSize(), expected);
    if (start < 0)
        QCOMPARE(widget->font().pointSize(), 12);
    const bool zoom = modifiers == Qt::ControlModifier;
    if (zoom || !browser)   // an ignored event travels on to the parent
        QCOMPARE(accepted, zoom);
}

void TestCLineEdit::browserScrollsWithoutCtrl()
{
    CTextBrowser browser;
    browser.resize(300, 120);
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << QString::number(i);
    TestSupport::appendLines(&browser, lines);
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    QScrollBar *bar = browser.verticalScrollBar();
    bar->setValue(0);

    hold(&browser, Qt::ControlModifier);
    sendWheel(browser.viewport(), QPoint(0, -120));
    QCOMPARE(bar->value(), 0);               // zoomed, not scrolled
    hold(&browser, Qt::NoModifier);
    sendWheel(browser.viewport(), QPoint(0, -120));
    QVERIFY(bar->value() > 0);
}

QTEST_MAIN(TestCLineEdit)
#include "tst_clineedit.moc"
