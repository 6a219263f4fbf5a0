#pragma once

#include <QColor>
#include <QGradient>
#include <QWidget>

// Self-painted progress bar: a rounded track, a gradient, striped or plain
// fill, and the percentage at the bar's head, above it in a bubble, or to
// its right. Users give it a fixed size.
class ColorProgressBar : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(ColorProgressBar)

public:
    explicit ColorProgressBar(int barStyle, QWidget *parent = nullptr);

    double getValue() const { return value; }

    void setBgColor(const QColor &bgColor);
    void setBarColor(const QColor &barColor);
    void setLineColor(const QColor &lineColor);
    void setTextColor(const QColor &textColor);
    void setTextBgColor(const QColor &textBgColor);
    void setGradientStops(const QGradientStops &gradientStops);
    void setPrecision(int precision);
    void setRadius(int radius);
    void setTextPosition(int textPosition);
    void setBarStyle(int barStyle);
    void setLineStyle(int lineSpacing, int lineSlant, int lineWidth);
    // The launcher's own look, the same wherever it shows progress: light
    // track, grey-to-blue gradient, white percentage on green, one decimal.
    void setLauncherLook();

public slots:
    void setRange(double min, double max);
    void setMinimum(double min);
    void setMaximum(double max);
    void setValue(double value);
    void setValue(int value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawStripes(QPainter &painter, const QRectF &fill) const;

    double minValue = 0.0;
    double maxValue = 100.0;
    double value = 0.0;
    QColor barColor = QColor(255, 107, 107);
    QColor lineColor = QColor(255, 107, 10);
    QColor bgColor = Qt::white;
    QGradientStops gradientStops;
    QColor textColor = Qt::black;
    QColor textBgColor = Qt::white;
    int precision = 0;
    int radius = 10;
    int textPosition = 2;
    int barStyle;       // set by the constructor
    int lineWidth = 2;
    int lineSlant = 0;
    int lineSpacing = 5;
};
