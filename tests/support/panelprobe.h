#pragma once

#include "testsupport.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"

#include <QLabel>
#include <QPushButton>

#include <memory>

namespace TestSupport {

// A server panel under test with handles on its fields, console and buttons
// (found by object name or text, as an operator would find them).
template <typename PanelType>
struct PanelProbe
{
    std::unique_ptr<PanelType> widget;
    CLineEdit *path = nullptr;
    CLineEdit *workDir = nullptr;
    CLineEdit *param = nullptr;
    CTextBrowser *console = nullptr;

    explicit PanelProbe(const QString &program = testHelperPath(), const QString &params = QString(),
                        const QString &work = QString(), int limit = 10000)
        : widget(new PanelType)
    {
        widget->setServerParam({program, work, params, limit});
        path = widget->template findChild<CLineEdit *>(QStringLiteral("ServerPathField"));
        workDir = widget->template findChild<CLineEdit *>(QStringLiteral("ServerWorkDirField"));
        param = widget->template findChild<CLineEdit *>(QStringLiteral("ServerParamField"));
        console = widget->template findChild<CTextBrowser *>(QStringLiteral("ServerConsole"));
    }
    QPushButton *button(const QString &text) const
    {
        for (QPushButton *b : widget->template findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    // What the console shows once what the programs wrote so far has had
    // its frame.
    QString text() const
    {
        widget->showPendingOutput();
        return console->toPlainText();
    }
    void start() const { button(QStringLiteral("启动"))->click(); }
    void close() const { button(QStringLiteral("关闭"))->click(); }
    QString status() const
    {
        return widget->template findChild<QLabel *>(QStringLiteral("ServerStatusLabel"))->text();
    }
};

} // namespace TestSupport
