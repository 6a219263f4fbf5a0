#include "supervision/ansitext.h"

#include <QStringList>

namespace AnsiText {

namespace {

constexpr ushort Esc = 0x1B;

bool isKeptControl(ushort c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

using Attributes = Parser::Attributes;

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
            a.color = {Colour::Indexed, quint32(code - 30)};
        } else if (code >= 90 && code <= 97) {
            a.color = {Colour::Indexed, quint32(code - 90 + 8)};
        } else if (code == 39) {
            a.color = Colour();
        } else if (code == 38 || code == 48) {
            Colour extended;
            const auto component = [&](int at) { return quint32(qBound(0, parts.at(at).toInt(), 255)); };
            if (i + 2 < parts.size() && parts.at(i + 1) == QLatin1String("5")) {
                extended = {Colour::Indexed, component(i + 2)};
                i += 2;
            } else if (i + 4 < parts.size() && parts.at(i + 1) == QLatin1String("2")) {
                extended = {Colour::Rgb, component(i + 2) << 16 | component(i + 3) << 8 | component(i + 4)};
                i += 4;
            } else {
                i = parts.size();   // malformed: ignore the rest
            }
            if (code == 38 && extended.kind != Colour::Default)
                a.color = extended;
        }
    }
}

bool isStringIntroducer(ushort c)
{
    return c == ']' || c == 'P' || c == '_' || c == '^' || c == 'X';
}

} // namespace

QString Parser::feed(const QString &in, QVector<Run> *runs)
{
    const int n = in.size();
    const QChar *data = in.constData();
    int first = 0;
    if (state == State::Ground) {
        while (first < n && (data[first].unicode() >= 0x20 || isKeptControl(data[first].unicode()))
               && data[first].unicode() != 0x7F)
            ++first;
    }
    if (first == n) {
        // Nearly every line a server writes: nothing to remove.
        if (runs)
            *runs = {Run{0, n, current.color, current.bold}};
        return in;
    }

    QString out;
    out.reserve(n);
    out.append(data, first);
    QVector<Run> found;
    int runStart = 0;
    auto switchTo = [&](const Attributes &next) {
        if (next == current)
            return;
        if (out.size() > runStart)
            found.append(Run{runStart, int(out.size()) - runStart, current.color, current.bold});
        runStart = out.size();
        current = next;
    };
    for (int i = first; i < n;) {
        const ushort c = data[i].unicode();
        switch (state) {
        case State::Ground:
            if (c == Esc)
                state = State::Escape;
            else if ((c >= 0x20 && c != 0x7F) || isKeptControl(c))
                out.append(data[i]);
            ++i;
            break;
        case State::Escape:
            if (c == '[') {
                state = State::Csi;
                params.clear();
                csiPlain = true;
            } else if (isStringIntroducer(c)) {
                state = State::String;
                stringLength = 0;
            } else if (c >= 0x20 && c <= 0x2F) {
                state = State::EscapeIntermediate;
                stringLength = 0;
            } else if (c == Esc) {
                // A new sequence begins.
            } else {
                // A final byte ends it; anything else is text again.
                state = State::Ground;
                if (c < 0x30 || c > 0x7E)
                    continue;
            }
            ++i;
            break;
        case State::EscapeIntermediate:
            if (c >= 0x20 && c <= 0x2F && ++stringLength <= kMaxSequence) {
                ++i;
                break;
            }
            state = State::Ground;
            if (c >= 0x30 && c <= 0x7E)
                ++i;
            break;
        case State::Csi:
            if (c >= 0x30 && c <= 0x3F) {
                if (params.size() < kMaxSequence)
                    params.append(data[i]);
                else
                    csiPlain = false;
                ++i;
            } else if (c >= 0x20 && c <= 0x2F) {
                csiPlain = false;
                ++i;
            } else if (c >= 0x40 && c <= 0x7E) {
                if (c == 'm' && csiPlain) {
                    Attributes next = current;
                    applySgr(params, next);
                    switchTo(next);
                }
                params.clear();
                state = State::Ground;
                ++i;
            } else {
                params.clear();
                state = c == Esc ? State::Escape : State::Ground;
                if (c == Esc)
                    ++i;
            }
            break;
        case State::String:
            if (c == 0x07) {
                state = State::Ground;
                ++i;
            } else if (c == Esc) {
                state = State::StringEscape;
                ++i;
            } else if (c == '\n' || ++stringLength > kMaxSequence) {
                state = State::Ground;      // the line end, or what follows, shows
            } else {
                ++i;
            }
            break;
        case State::StringEscape:
            // ESC \ ends the string; any other ESC begins a new sequence.
            state = State::Escape;
            if (c == '\\') {
                state = State::Ground;
                ++i;
            }
            break;
        }
    }
    if (out.size() > runStart || found.isEmpty())
        found.append(Run{runStart, int(out.size()) - runStart, current.color, current.bold});
    if (runs)
        *runs = found;
    return out;
}

} // namespace AnsiText
