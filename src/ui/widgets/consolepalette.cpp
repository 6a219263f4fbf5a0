#include "ui/widgets/consolepalette.h"

#include <QtMath>

namespace ConsolePalette {

QColor background() { return QColor(0x1F, 0x26, 0x2D); }
QColor text() { return QColor(0xF0, 0xF0, 0xF0); }
QColor header() { return QColor(0xFF, 0x70, 0x38); }
// Blue, green and red as the operator knows them from the console, in
// shades that reach at least 4.5:1 on the ground (pure blue, green and red
// fall to 1.8, 3.0 and 3.8).
QColor errorText() { return QColor(0x6E, 0xA8, 0xFF); }
QColor started() { return QColor(0x4C, 0xC4, 0x6A); }
QColor failed() { return QColor(0xFF, 0x6B, 0x6B); }
QColor note() { return QColor(0xE5, 0xC0, 0x7B); }
QColor markBackground() { return QColor(0, 255, 0); }
// Light console text would vanish on the lime mark.
QColor markText() { return QColor(0x10, 0x10, 0x10); }

namespace {

double luminance(const QColor &c)
{
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : qPow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// Terminal-like hues, lighter than the usual VGA values so that each
// reaches 4.5:1 on the dark ground; black is shown as a mid grey.
const QRgb standardColours[16] = {
    0x8A939B, 0xF0625D, 0x5FCB71, 0xE5C07B, 0x61AFEF, 0xC678DD, 0x56B6C2, 0xD0D0D0,
    0xA0A8B0, 0xFF7B72, 0x7EE787, 0xF2CC60, 0x79C0FF, 0xD2A8FF, 0x76E3EA, 0xFFFFFF,
};

} // namespace

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return la > lb ? la / lb : lb / la;
}

QColor legible(const QColor &wanted)
{
    const QColor ground = background();
    QColor c = wanted.toRgb();
    // Mix towards white in small steps: keeps the hue recognisable.
    auto lighter = [](int v) { return qMin(255, v + (255 - v) / 4 + 1); };
    for (int step = 0; step < 20 && contrast(c, ground) < 4.5; ++step)
        c = QColor(lighter(c.red()), lighter(c.green()), lighter(c.blue()));
    return c;
}

QColor ansi(int index)
{
    if (index < 0 || index > 255)
        return text();
    if (index < 16)
        return QColor(standardColours[index]);
    if (index < 232) {
        // 6x6x6 colour cube.
        const int i = index - 16;
        auto level = [](int v) { return v == 0 ? 0 : 55 + v * 40; };
        return legible(QColor(level(i / 36), level((i / 6) % 6), level(i % 6)));
    }
    const int grey = 8 + (index - 232) * 10;
    return legible(QColor(grey, grey, grey));
}

QColor of(const AnsiText::Colour &colour)
{
    switch (colour.kind) {
    case AnsiText::Colour::Indexed:
        return ansi(int(colour.value));
    case AnsiText::Colour::Rgb:
        return legible(QColor::fromRgb(QRgb(colour.value)));
    case AnsiText::Colour::Default:
        break;
    }
    return QColor();
}

} // namespace ConsolePalette
