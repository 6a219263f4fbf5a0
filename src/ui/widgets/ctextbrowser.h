#pragma once

#include <QTextBrowser>

// Console view whose Ctrl + wheel steps the font's pixel size instead of
// running QTextEdit's own point-size zoom.
class CTextBrowser : public QTextBrowser
{
    Q_DISABLE_COPY(CTextBrowser)

public:
    explicit CTextBrowser(QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *event) override;
};
