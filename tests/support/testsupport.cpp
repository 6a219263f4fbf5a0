#include "testsupport.h"

#include "setting/setupconfig.h"
#include "ui/widgets/ctextbrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>

namespace TestSupport {

QString sourceDir() { return QStringLiteral(TESSARIN_SOURCE_DIR); }
QString testHelperPath() { return QStringLiteral(TESSARIN_TESTHELPER); }
QString launcherPath() { return QStringLiteral(TESSARIN_LAUNCHER); }

QStringList greenTexts(CTextBrowser *console)
{
    console->flush();
    if (!console->isVisible()) {
        console->window()->show();
        if (!QTest::qWaitForWindowExposed(console->window()))
            return {QStringLiteral("console not exposed")};
    }
    console->viewport()->repaint();
    QStringList found;
    for (const QTextEdit::ExtraSelection &mark : console->extraSelections()) {
        if (mark.format.background() == QBrush(QColor(0, 255, 0)))
            found.append(mark.cursor.selectedText());
    }
    return found;
}

void appendLines(CTextBrowser *console, const QStringList &lines)
{
    for (const QString &line : lines)
        console->appendParagraph(line, QTextCharFormat());
    console->flush();
}

TempAppDir::TempAppDir(bool withScripts)
{
    if (withScripts) {
        QDir().mkpath(dir.path() + QStringLiteral("/config/mysql"));
        const QDir src(sourceDir() + QStringLiteral("/config/mysql"));
        for (const QString &name : src.entryList({QStringLiteral("*.sql")}, QDir::Files))
            QFile::copy(src.filePath(name), dir.path() + QStringLiteral("/config/mysql/") + name);
    }
}

QString TempAppDir::iniPath() const
{
    return dir.path() + QStringLiteral("/config/SetupConfig.ini");
}

void TempAppDir::writeIni(const QByteArray &content)
{
    QDir().mkpath(dir.path() + QStringLiteral("/config"));
    QFile f(iniPath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

void TempAppDir::initialize()
{
    SetupConfig::instance()->initialize(dir.path());
}

ModalBoxCloser::ModalBoxCloser(QObject *parent)
    : QObject(parent)
{
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, &ModalBoxCloser::poll);
    timer.start();
}

void ModalBoxCloser::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    boxes.append({box->windowTitle(), box->text()});
    box->done(QMessageBox::Ok);
}

} // namespace TestSupport
