#pragma once

#include <QColor>
#include <QString>
#include <QVector>

// Server consoles often colour their logs with ANSI escape sequences. This
// turns such text into what a terminal would show: the text without any
// escape or control sequence, and the stretches of it that SGR gave a
// colour or boldness. Each call starts with the default attributes.
namespace AnsiText {

struct Run
{
    int start = 0;
    int length = 0;
    QColor color;       // invalid: the caller's default colour
    bool bold = false;
};

// Returns the visible text; runs (optional) cover it in order, gap-free.
// Tab, line feed and carriage return stay; every other control character
// and every escape sequence is removed, also one cut off at the end.
QString parse(const QString &in, QVector<Run> *runs);

} // namespace AnsiText
