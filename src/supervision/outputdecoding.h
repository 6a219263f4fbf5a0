#pragma once

#include <QByteArray>
#include <QString>

// How the text a server program writes is turned into Unicode.
namespace OutputDecoding {

// The platform's local 8-bit code page (Windows' "System" code page, the
// locale's encoding elsewhere), one chunk at a time. sourcePath names the
// caller in the assertion that stops the program where no such codec exists.
QString fromSystemCodePage(const QByteArray &bytes, const char *sourcePath);

// Characters that could make a line look like another (a bare carriage
// return or backspaces overwriting it in a terminal, bidirectional overrides
// reordering it, C1 controls) made visible: C0 controls as their Control
// Pictures (U+2400...), the others as U+FFFD. Tabs, line ends, ESC and BEL
// (for the colour parser: BEL ends a title sequence) stay; so does a
// carriage return before a line feed or at the very end (half a CRLF cut by
// the pipe).
QString visibleControls(const QString &text);

// The bytes without their zero bytes, which show nothing and once cut off
// the rest of a read (no code page uses a zero byte inside a character).
QByteArray withoutZeroBytes(const QByteArray &bytes);
// A chunk of a server's output as the console shows it: zero bytes dropped,
// decoded (UTF-8, or else the system code page), look-alike controls made
// visible.
QString decode(const QByteArray &bytes, bool utf8, const char *sourcePath);

} // namespace OutputDecoding
