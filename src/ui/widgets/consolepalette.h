#pragma once

#include "supervision/ansitext.h"

#include <QColor>

// The console's colours, kept together so that every colour a server line
// can get is chosen against the one background they are read on.
namespace ConsolePalette {

QColor background();     // the style sheet's console ground
QColor text();           // standard output
QColor header();         // the "(信息)" line of each record
QColor errorText();      // standard error
QColor started();        // start and normal-end banners
QColor failed();         // failure banners
QColor note();           // the console's own remarks (skipped output)
QColor markBackground(); // search hits
QColor markText();       // text on a search hit

// ANSI SGR colour 0..255 (0..15 the standard and bright colours), already
// made legible on the background.
QColor ansi(int index);
// Any colour a server asked for, lightened until it reads on the background
// (contrast ratio at least 4.5:1).
QColor legible(const QColor &wanted);
// What a server's colour shows as: invalid for the default colour.
QColor of(const AnsiText::Colour &colour);
// WCAG contrast ratio of two colours, 1..21.
double contrast(const QColor &a, const QColor &b);

} // namespace ConsolePalette
