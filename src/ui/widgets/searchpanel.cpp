#include "ui/widgets/searchpanel.h"

#include "ui/widgets/clineedit.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

SearchPanel::SearchPanel(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout;
    setLayout(layout);

    captionLabel = new QLabel(QStringLiteral("搜索内容: "));
    searchEdit = new CLineEdit;
    searchEdit->setPlaceholderText(QStringLiteral("请输入搜索的内容"));
    caseBox = new QCheckBox(QStringLiteral("大小写"));
    previousButton = new QPushButton(QStringLiteral("上一个"));
    nextButton = new QPushButton(QStringLiteral("下一个"));
    allButton = new QPushButton(QStringLiteral("搜索所有"));
    clearButton = new QPushButton(QStringLiteral("清除高亮"));
    countLabel = new QLabel;
    setCount(0);
    searchEdit->installEventFilter(this);

    layout->addWidget(captionLabel);
    layout->addWidget(searchEdit);
    layout->addWidget(caseBox);
    layout->addWidget(previousButton);
    layout->addWidget(nextButton);
    layout->addWidget(allButton);
    layout->addWidget(clearButton);
    layout->addWidget(countLabel);

    connect(previousButton, &QPushButton::clicked, this, &SearchPanel::requestPrevious);
    connect(nextButton, &QPushButton::clicked, this, &SearchPanel::requestNext);
    connect(allButton, &QPushButton::clicked, this, &SearchPanel::requestAll);
    // Clearing needs no text, so it works with an empty field too.
    connect(clearButton, &QPushButton::clicked, this, &SearchPanel::clear);
}

void SearchPanel::requestNext()
{
    const QString txt = searchEdit->text();
    if (!txt.isEmpty())
        emit next(txt, caseBox->isChecked());
}

void SearchPanel::requestPrevious()
{
    const QString txt = searchEdit->text();
    if (!txt.isEmpty())
        emit previous(txt, caseBox->isChecked());
}

void SearchPanel::requestAll()
{
    const QString txt = searchEdit->text();
    if (!txt.isEmpty())
        emit all(txt, caseBox->isChecked());
}

void SearchPanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Room for a search text at every font size; the bar scrolls when the
    // panel is narrower than the bar.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        searchEdit->setMinimumWidth(12 * searchEdit->fontMetrics().averageCharWidth());
}

void SearchPanel::open()
{
    show();
    searchEdit->setFocus(Qt::ShortcutFocusReason);
    searchEdit->selectAll();
}

void SearchPanel::setCount(int count)
{
    countLabel->setText(QStringLiteral("共%1个").arg(count));
}

bool SearchPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == searchEdit && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                requestPrevious();
            else
                requestNext();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            hide();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
