#pragma once

#include <QString>
#include <QVector>

// Server consoles often colour their logs with ANSI escape sequences. This
// turns such text into what a terminal would show: the text without any
// escape or control sequence, and the stretches of it that SGR gave a
// colour or boldness.
namespace AnsiText {

// A colour as the server asked for it; the console chooses how it shows
// (lightened to read on its ground).
struct Colour
{
    enum Kind : quint8 { Default, Indexed, Rgb };
    Kind kind = Default;    // Default: the caller's default colour
    quint32 value = 0;      // palette index 0..255, or 0xRRGGBB
    bool operator==(const Colour &o) const { return kind == o.kind && value == o.value; }
    bool operator!=(const Colour &o) const { return !(*this == o); }
};

struct Run
{
    int start = 0;
    int length = 0;
    Colour color;
    bool bold = false;
};

// One output stream's parser. A pipe read may end anywhere, also inside a
// sequence, so the state (a sequence begun, the current colour) carries on
// into the next feed(). What a server writes cannot cost much or hide text:
//  - a sequence's parameters are kept up to kMaxSequence characters; past
//    that the sequence still ends where its syntax ends, but does nothing;
//  - a string sequence (window title, DCS ...) ends at BEL or ESC \, at a
//    line end (kept as text: a title never spans log lines), or after
//    kMaxSequence characters, when the text after it shows again;
//  - a CSI sequence ends at its final byte; any other character ends it
//    too and is shown.
class Parser
{
public:
    static constexpr int kMaxSequence = 4096;

    // Returns the visible text; runs (optional) cover it in order, gap-free.
    // Tab, line feed and carriage return stay; every other control character
    // and every escape sequence is removed.
    QString feed(const QString &in, QVector<Run> *runs);

    struct Attributes
    {
        Colour color;
        bool bold = false;
        bool operator==(const Attributes &o) const { return color == o.color && bold == o.bold; }
    };

private:
    enum class State { Ground, Escape, EscapeIntermediate, Csi, String, StringEscape };

    State state = State::Ground;
    QString params;         // of the CSI sequence being read
    bool csiPlain = true;   // no intermediate bytes, parameters within bounds
    int stringLength = 0;
    Attributes current;
};

} // namespace AnsiText
