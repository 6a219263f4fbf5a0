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

signals:
    void next(const QString &txt, bool caseSensitively);
    void previous(const QString &txt, bool caseSensitively);
    void all(const QString &txt, bool caseSensitively);
    void clear();

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
