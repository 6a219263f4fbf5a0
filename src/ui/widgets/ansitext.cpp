#include "ui/widgets/ansitext.h"

#include "ui/widgets/consolepalette.h"

#include <QStringList>

namespace AnsiText {

namespace {

constexpr ushort Esc = 0x1B;

bool isKeptControl(ushort c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

struct Attributes
{
    QColor color;
    bool bold = false;
    bool operator==(const Attributes &o) const { return color == o.color && bold == o.bold; }
};

// Applies one SGR parameter list ("1;38;5;208" and the like). Background
// colours are not shown: the text keeps a colour chosen for the console's
// own ground, so their parameters are only skipped.
void applySgr(const QString &params, Attributes &a)
{
    const QStringList parts = params.split(QLatin1Char(';'));
    for (int i = 0; i < parts.size(); ++i) {
        const int code = parts.at(i).isEmpty() ? 0 : parts.at(i).toInt();
        if (code == 0) {
            a = Attributes();
        } else if (code == 1) {
            a.bold = true;
        } else if (code == 22) {
            a.bold = false;
        } else if (code >= 30 && code <= 37) {
            a.color = ConsolePalette::ansi(code - 30);
        } else if (code >= 90 && code <= 97) {
            a.color = ConsolePalette::ansi(code - 90 + 8);
        } else if (code == 39) {
            a.color = QColor();
        } else if (code == 38 || code == 48) {
            QColor extended;
            if (i + 2 < parts.size() && parts.at(i + 1) == QLatin1String("5")) {
                extended = ConsolePalette::ansi(parts.at(i + 2).toInt());
                i += 2;
            } else if (i + 4 < parts.size() && parts.at(i + 1) == QLatin1String("2")) {
                extended = ConsolePalette::legible(QColor(qBound(0, parts.at(i + 2).toInt(), 255),
                                                          qBound(0, parts.at(i + 3).toInt(), 255),
                                                          qBound(0, parts.at(i + 4).toInt(), 255)));
                i += 4;
            } else {
                i = parts.size();   // malformed: ignore the rest
            }
            if (code == 38 && extended.isValid())
                a.color = extended;
        }
    }
}

// Length of the escape sequence starting at in[pos] (an ESC), up to the end
// of the text when it is cut off; an SGR sequence also yields its parameters.
int escapeLength(const QString &in, int pos, QString *sgr, bool *isSgr)
{
    const int n = in.size();
    int i = pos + 1;
    if (i >= n)
        return n - pos;
    const ushort kind = in.at(i).unicode();
    if (kind == '[') {
        // CSI: parameter bytes, intermediate bytes, one final byte.
        int j = i + 1;
        while (j < n && in.at(j).unicode() >= 0x30 && in.at(j).unicode() <= 0x3F)
            ++j;
        const int paramEnd = j;
        while (j < n && in.at(j).unicode() >= 0x20 && in.at(j).unicode() <= 0x2F)
            ++j;
        if (j >= n)
            return n - pos;
        if (in.at(j).unicode() == 'm' && paramEnd == j) {
            *sgr = in.mid(i + 1, paramEnd - i - 1);
            *isSgr = true;
        }
        return j + 1 - pos;
    }
    if (kind == ']' || kind == 'P' || kind == '_' || kind == '^' || kind == 'X') {
        // String sequences (OSC window titles, DCS ...): up to BEL or ESC \.
        for (int j = i + 1; j < n; ++j) {
            if (in.at(j).unicode() == 0x07)
                return j + 1 - pos;
            if (in.at(j).unicode() == Esc && j + 1 < n && in.at(j + 1) == QLatin1Char('\\'))
                return j + 2 - pos;
        }
        return n - pos;
    }
    // Other two-byte and character-set sequences: intermediates, then final.
    int j = i;
    while (j < n && in.at(j).unicode() >= 0x20 && in.at(j).unicode() <= 0x2F)
        ++j;
    return (j < n ? j + 1 : n) - pos;
}

} // namespace

QString parse(const QString &in, QVector<Run> *runs)
{
    const int n = in.size();
    const QChar *data = in.constData();
    int first = 0;
    while (first < n && (data[first].unicode() >= 0x20 || isKeptControl(data[first].unicode()))
           && data[first].unicode() != 0x7F)
        ++first;
    if (first == n) {
        // Nearly every line a server writes: nothing to remove.
        if (runs)
            *runs = {Run{0, n, QColor(), false}};
        return in;
    }

    QString out;
    out.reserve(n);
    out.append(data, first);
    Attributes current;
    QVector<Run> found;
    int runStart = 0;
    auto closeRun = [&](const Attributes &next) {
        if (next == current)
            return;
        if (out.size() > runStart)
            found.append(Run{runStart, int(out.size()) - runStart, current.color, current.bold});
        runStart = out.size();
        current = next;
    };
    for (int i = first; i < n;) {
        const ushort c = data[i].unicode();
        if (c == Esc) {
            QString sgr;
            bool isSgr = false;
            const int length = escapeLength(in, i, &sgr, &isSgr);
            if (isSgr) {
                Attributes next = current;
                applySgr(sgr, next);
                closeRun(next);
            }
            i += length;
        } else if ((c < 0x20 && !isKeptControl(c)) || c == 0x7F) {
            ++i;
        } else {
            out.append(data[i]);
            ++i;
        }
    }
    if (out.size() > runStart || found.isEmpty())
        found.append(Run{runStart, int(out.size()) - runStart, current.color, current.bold});
    if (runs)
        *runs = found;
    return out;
}

} // namespace AnsiText
