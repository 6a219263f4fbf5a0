#pragma once

#include <QString>
#include <QWidget>

class ColorProgressBar;
class QLabel;
class QTextBrowser;
class QTimer;
class QVBoxLayout;

// Self-contained "please wait" window: fills its bar from 0 to 100 in steps
// of 1 every 100 ms, logs a line per step, then hides and emits completed().
class SetupWaitProgressBar : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(SetupWaitProgressBar)

public:
    explicit SetupWaitProgressBar(QWidget *parent = nullptr);
    ~SetupWaitProgressBar() override;

    void start();
    void setValue(int value);
    void setBgImage(const QString &path);
    void setOpacity(float opacity);

signals:
    void completed();

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void slotUpdateValue();

private:
    QVBoxLayout *mainLayout = nullptr;
    QLabel *titleLabel = nullptr;
    ColorProgressBar *progressBar = nullptr;
    QTextBrowser *infoBrowser = nullptr;
    QTimer *timer = nullptr;
    QString bgImagePath;
    float opacity = 1.0f;
    bool running = false;
    QString title;
    int dotCount = 0;
};
