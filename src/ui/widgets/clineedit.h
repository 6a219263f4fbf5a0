#pragma once

#include <QLineEdit>

#include <functional>

// Entry field that takes a path by drag and drop and zooms its font with
// Ctrl + wheel. It holds text of any length: a field that cut long text
// would have the cut text saved as the operator's setting.
class CLineEdit : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY(CLineEdit)

public:
    explicit CLineEdit(QWidget *parent = nullptr);
    explicit CLineEdit(const QString &contents, QWidget *parent = nullptr);

    // How a dropped path is written into the field; as it is by default.
    void setDroppedPathFormat(std::function<QString(const QString &)> format);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    std::function<QString(const QString &)> droppedPathFormat;
};
