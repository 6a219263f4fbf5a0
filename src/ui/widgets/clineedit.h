#pragma once

#include <QLineEdit>

// Entry field that takes a path by drag and drop and zooms its font with
// Ctrl + wheel.
class CLineEdit : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY(CLineEdit)

public:
    explicit CLineEdit(QWidget *parent = nullptr);
    explicit CLineEdit(const QString &contents, QWidget *parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
};
