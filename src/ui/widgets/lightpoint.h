#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QVector>
#include <QWidget>

class QTimer;

// Round status lamp: a disc fading from an opaque centre to a transparent
// rim, whose middle rings breathe a little with every paint.
class LightPoint : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(LightPoint)
    Q_PROPERTY(int step READ getStep WRITE setStep)
    Q_PROPERTY(int interval READ getInterval WRITE setInterval)
    Q_PROPERTY(QColor bgColor READ getBgColor WRITE setBgColor)

public:
    explicit LightPoint(QWidget *parent = nullptr);
    ~LightPoint() override;

    int getStep() const { return step; }
    int getInterval() const { return interval; }
    QColor getBgColor() const { return bgColor; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setStep(int step);
    void setInterval(int interval);
    void setBgColor(const QColor &bgColor);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    void askPaint();
    void tick();
    void advancePulse();
    QPixmap frame();
    QPixmap disc() const;
    QImage backdrop();
    void forgetBackdrop();

    int step = 10;
    int interval = 100;
    QColor bgColor = QColor(255, 0, 0);
    QTimer *timer = nullptr;
    int offset = 0;
    bool rising = true;
    // The pulse has only a handful of states, and the lamp repaints ten times
    // a second for as long as it is shown: each state is composed once over
    // what lies behind the lamp (see backdrop()) and then copied.
    QHash<int, QPixmap> frames;
    QSize framesSize;
    QColor framesColor;
    qreal framesRatio = 0;
    QImage behind;
    // The widgets whose painting shows behind the lamp; a repaint of theirs
    // over the lamp's place means the backdrop may have changed.
    QVector<QPointer<QWidget>> watched;
    bool rendering = false;
    bool paintAsked = false;
};
