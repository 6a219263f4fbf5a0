#include "ui/widgets/setupwaitprogressbar.h"

#include "ui/widgets/colorprogressbar.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kMaxDots = 6;
} // namespace

SetupWaitProgressBar::SetupWaitProgressBar(QWidget *parent)
    : QWidget(parent)
    , title(tr("Starting, please wait"))
{
    mainLayout = new QVBoxLayout;
    setLayout(mainLayout);

    titleLabel = new QLabel;
    titleLabel->setObjectName(QStringLiteral("SetupWaitProgressBarTitleLabel"));
    titleLabel->setText(title);
    titleLabel->setAlignment(Qt::AlignHCenter);

    progressBar = new ColorProgressBar(1);
    progressBar->setLauncherLook();
    progressBar->setTextPosition(1);
    progressBar->setValue(0);
    progressBar->setFixedHeight(60);

    infoBrowser = new QTextBrowser;
    infoBrowser->setFixedHeight(100);
    infoBrowser->setObjectName(QStringLiteral("SetupWaitProgressBarInfoTextBrowser"));

    mainLayout->addStretch();
    mainLayout->addWidget(titleLabel);
    mainLayout->addWidget(progressBar);
    mainLayout->addSpacerItem(new QSpacerItem(10, 20, QSizePolicy::Fixed, QSizePolicy::Fixed));
    mainLayout->addWidget(infoBrowser);
    mainLayout->addStretch();

    timer = new QTimer(this);
    timer->setInterval(100);

    setFixedSize(700, 350);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);

    connect(timer, &QTimer::timeout, this, &SetupWaitProgressBar::slotUpdateValue);
}

SetupWaitProgressBar::~SetupWaitProgressBar()
{
    if (timer->isActive())
        timer->stop();
}

void SetupWaitProgressBar::start()
{
    // Also restarts a wait in progress; the dots carry on where they were.
    running = true;
    progressBar->setValue(0);
    timer->start();
    show();
}

void SetupWaitProgressBar::setValue(int value)
{
    progressBar->setValue(value);
}

void SetupWaitProgressBar::setBgImage(const QString &path)
{
    bgImagePath = path;
    update();
}

void SetupWaitProgressBar::setOpacity(float opacity)
{
    this->opacity = opacity;
    update();
}

void SetupWaitProgressBar::slotUpdateValue()
{
    if (!running)
        return;

    const int value = int(progressBar->getValue());
    // The tick after the bar reached 100 ends the wait, so the full bar is
    // seen for one step before the window goes.
    if (value > 99) {
        timer->stop();
        hide();
        running = false;
        emit completed();
        return;
    }
    progressBar->setValue(value + 1);

    const QString line = title + QString(dotCount, QLatin1Char('.'));
    titleLabel->setText(line);
    infoBrowser->append(line);
    dotCount = dotCount >= kMaxDots ? 0 : dotCount + 1;
}

void SetupWaitProgressBar::paintEvent(QPaintEvent *)
{
    // A missing picture is not an error: the window just has none.
    if (!QFile::exists(bgImagePath))
        return;
    QPainter painter(this);
    painter.setOpacity(opacity);
    const QPixmap picture(bgImagePath);
    painter.drawPixmap(rect(), picture, picture.rect());
}
