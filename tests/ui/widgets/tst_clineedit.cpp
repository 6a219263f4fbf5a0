#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>

#include <memory>

// Drops, Ctrl + wheel zoom of the path field and the console browser.
class TestCLineEdit : public QObject
{
    Q_OBJECT

private slots:
    void dragEnterAcceptsAnything_data();
    void dragEnterAcceptsAnything();
    void drop_data();
    void drop();
    void dropDoesNotCountAsEditing();
    void ctrlWheel_data();
    void ctrlWheel();
    void browserWheelWithoutCtrlScrolls();
    void cleanup();

private:
    static void addDropRows();
};

namespace {

enum WidgetKind { LineEdit, Browser };

// Qt Test's synthesized key events are what QApplication records as the
// application's modifier state, which is what the widgets read.
void holdModifiers(QWidget *target, Qt::KeyboardModifiers modifiers)
{
    QTest::keyPress(target, Qt::Key_Control, modifiers);
}

void releaseModifiers(QWidget *target)
{
    QTest::keyRelease(target, Qt::Key_Control, Qt::NoModifier);
}

std::unique_ptr<QMimeData> mime(const QList<QUrl> &urls, const QString &text)
{
    auto data = std::make_unique<QMimeData>();
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (!text.isEmpty())
        data->setText(text);
    return data;
}

bool sendDrop(QWidget *target, const QMimeData *data)
{
    const QPoint pos(5, 5);
    QDragEnterEvent enter(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

} // namespace

void TestCLineEdit::cleanup()
{
    // Never leave a held modifier behind for the next case.
    QWidget dummy;
    releaseModifiers(&dummy);
}

void TestCLineEdit::addDropRows()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("plainText");
    QTest::addColumn<QString>("expected");

    const QString temp = QDir::tempPath();
    QTest::newRow("three files: first only")
        << QList<QUrl>{QUrl::fromLocalFile(temp + "/a.exe"), QUrl::fromLocalFile(temp + "/b.exe"),
                       QUrl::fromLocalFile(temp + "/c.exe")}
        << QString() << temp + "/a.exe";
    QTest::newRow("existing folder")
        << QList<QUrl>{QUrl::fromLocalFile(temp)} << QString() << temp;
    QTest::newRow("path that does not exist")
        << QList<QUrl>{QUrl::fromLocalFile("/no/such/dir/MediaServer.exe")} << QString()
        << "/no/such/dir/MediaServer.exe";
    QTest::newRow("blanks and CJK kept")
        << QList<QUrl>{QUrl::fromLocalFile(temp + "/媒体 服务器/x.jar")} << QString()
        << temp + "/媒体 服务器/x.jar";
    QTest::newRow("plain text only: unchanged")
        << QList<QUrl>() << "/tmp/typed.txt" << "initial";
    QTest::newRow("web link empties the field")
        << QList<QUrl>{QUrl("https://example.org/a.jar")} << QString() << QString();
    QTest::newRow("web link before a file: still only the first")
        << QList<QUrl>{QUrl("https://example.org/a.jar"), QUrl::fromLocalFile(temp + "/b.exe")}
        << QString() << QString();
    QTest::newRow("file with text alongside")
        << QList<QUrl>{QUrl::fromLocalFile(temp + "/a.exe")} << "some text" << temp + "/a.exe";
}

void TestCLineEdit::dragEnterAcceptsAnything_data()
{
    addDropRows();
}

void TestCLineEdit::dragEnterAcceptsAnything()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, plainText);

    CLineEdit edit;
    const auto data = mime(urls, plainText);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&edit, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::CopyAction);
}

void TestCLineEdit::drop_data()
{
    addDropRows();
}

void TestCLineEdit::drop()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, plainText);
    QFETCH(QString, expected);

    CLineEdit edit;
    edit.setText(QStringLiteral("initial"));
    edit.setCursorPosition(3);
    const auto data = mime(urls, plainText);
    QVERIFY(sendDrop(&edit, data.get()));
    QCOMPARE(edit.text(), expected);
}

void TestCLineEdit::dropDoesNotCountAsEditing()
{
    CLineEdit edit(QStringLiteral("old"));
    edit.setAcceptDrops(true);
    QSignalSpy changed(&edit, &QLineEdit::textChanged);
    QSignalSpy edited(&edit, &QLineEdit::textEdited);
    const auto data = mime({QUrl::fromLocalFile("/opt/new.exe")}, QString());
    sendDrop(&edit, data.get());
    QCOMPARE(edit.text(), QStringLiteral("/opt/new.exe"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(edited.count(), 0);
}

void TestCLineEdit::ctrlWheel_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("angleDelta");
    QTest::addColumn<int>("startPixelSize"); // -1: a point-sized font of 12 pt
    QTest::addColumn<int>("expectedPixelSize");
    QTest::addColumn<bool>("consumed");

    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const int ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    const int none = Qt::NoModifier;
    for (int kind : {LineEdit, Browser}) {
        const QByteArray k = kind == LineEdit ? "edit: " : "browser: ";
        auto row = [&](const char *name) -> QTestData & { return QTest::newRow((k + name).constData()); };
        row("ctrl, away from user grows by 1") << kind << ctrl << QPoint(0, 120) << 14 << 15 << true;
        row("ctrl, towards user shrinks by 1") << kind << ctrl << QPoint(0, -120) << 14 << 13 << true;
        row("ctrl, four notches in one event still 1") << kind << ctrl << QPoint(0, 480) << 14 << 15 << true;
        row("ctrl, zero delta shrinks") << kind << ctrl << QPoint(0, 0) << 14 << 13 << true;
        row("ctrl, horizontal delta dominates") << kind << ctrl << QPoint(-240, 30) << 14 << 13 << true;
        row("ctrl, no upper limit") << kind << ctrl << QPoint(0, 120) << 400 << 401 << true;
        row("ctrl, 2 down to 1") << kind << ctrl << QPoint(0, -120) << 2 << 1 << true;
        row("ctrl, never below 1") << kind << ctrl << QPoint(0, -120) << 1 << 1 << true;
        row("ctrl, point-sized font up") << kind << ctrl << QPoint(0, 120) << -1 << -1 << true;
        row("ctrl, point-sized font down") << kind << ctrl << QPoint(0, -120) << -1 << -1 << true;
        row("ctrl+shift passes on") << kind << ctrlShift << QPoint(0, 120) << 14 << 14 << false;
        row("ctrl+alt passes on") << kind << ctrlAlt << QPoint(0, 120) << 14 << 14 << false;
        row("no modifier passes on") << kind << none << QPoint(0, 120) << 14 << 14 << false;
    }
}

void TestCLineEdit::ctrlWheel()
{
    QFETCH(int, kind);
    QFETCH(int, modifiers);
    QFETCH(QPoint, angleDelta);
    QFETCH(int, startPixelSize);
    QFETCH(int, expectedPixelSize);
    QFETCH(bool, consumed);

    std::unique_ptr<QWidget> widget;
    QWidget *wheelTarget = nullptr;
    if (kind == LineEdit) {
        widget = std::make_unique<CLineEdit>();
        wheelTarget = widget.get();
    } else {
        auto browser = std::make_unique<CTextBrowser>();
        // A scroll area gets its wheel events through the viewport.
        wheelTarget = browser->viewport();
        widget = std::move(browser);
    }
    QFont font = widget->font();
    if (startPixelSize > 0)
        font.setPixelSize(startPixelSize);
    else
        font.setPointSize(12);
    widget->setFont(font);

    const auto held = Qt::KeyboardModifiers(modifiers);
    holdModifiers(widget.get(), held);
    QCOMPARE(QGuiApplication::keyboardModifiers(), held);

    // The event itself claims no modifiers: only the application's state
    // may decide about zooming.
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    wheel.ignore();
    QCoreApplication::sendEvent(wheelTarget, &wheel);
    releaseModifiers(widget.get());

    QCOMPARE(widget->font().pixelSize(), expectedPixelSize);
    if (startPixelSize < 0)
        QCOMPARE(widget->font().pointSize(), 12);
    if (kind == LineEdit)   // the plain widget handler ignores, so it travels on
        QCOMPARE(wheel.isAccepted(), consumed);
    else if (consumed)
        QVERIFY(wheel.isAccepted());
}

void TestCLineEdit::browserWheelWithoutCtrlScrolls()
{
    CTextBrowser browser;
    browser.resize(300, 120);
    for (int i = 0; i < 200; ++i)
        browser.append(QStringLiteral("line %1").arg(i));
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    QScrollBar *bar = browser.verticalScrollBar();
    bar->setValue(0);
    QVERIFY(bar->maximum() > 0);

    for (int mods : {int(Qt::ControlModifier), int(Qt::NoModifier)}) {
        holdModifiers(&browser, Qt::KeyboardModifiers(mods));
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::KeyboardModifiers(mods), Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(browser.viewport(), &wheel);
        releaseModifiers(&browser);
        if (mods == Qt::ControlModifier)
            QCOMPARE(bar->value(), 0);   // zooming, not scrolling
        else
            QVERIFY(bar->value() > 0);
    }
}

QTEST_MAIN(TestCLineEdit)
#include "tst_clineedit.moc"
