#pragma once

#include <QWidget>

class CLineEdit;
class QCheckBox;
class QLabel;
class QPushButton;

// Search bar under a console. It holds no search state: every request
// carries the field's current text and the case box's current state, and the
// owner of the console carries it out.
class SearchPanel : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(SearchPanel)

public:
    explicit SearchPanel(QWidget *parent = nullptr);

    // Shows the bar with the keyboard in its field, the old text selected so
    // that typing replaces it.
    void open();
    // The number of matches the last "搜索所有" found ("共N个").
    void setCount(int count);

signals:
    void next(const QString &txt, bool caseSensitively);
    void previous(const QString &txt, bool caseSensitively);
    void all(const QString &txt, bool caseSensitively);
    void clear();

protected:
    // Return, Shift+Return and Escape in the field.
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void requestNext();
    void requestPrevious();
    void requestAll();

    QLabel *captionLabel = nullptr;
    CLineEdit *searchEdit = nullptr;
    QCheckBox *caseBox = nullptr;
    QPushButton *previousButton = nullptr;
    QPushButton *nextButton = nullptr;
    QPushButton *allButton = nullptr;
    QPushButton *clearButton = nullptr;
    QLabel *countLabel = nullptr;
};
