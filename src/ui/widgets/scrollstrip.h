#pragma once

#include <QScrollArea>

// A band of controls that keeps its controls at their natural size and
// scrolls when there is less room than they need, instead of pushing the
// window past the screen at large font sizes. It reserves room for its
// horizontal scroll bar only while that bar is needed, and it shows and
// hides with its content.
class ScrollStrip : public QScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY(ScrollStrip)

public:
    // With verticalScrolling the band may also become lower than its
    // content, down to a few lines of text.
    ScrollStrip(QWidget *content, bool verticalScrolling, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int horizontalBarRoom() const;

    bool vertical;
    bool needsBar = false;
};
