#pragma once

#include <QByteArray>
#include <QString>

// How the text a server program writes is turned into Unicode.
namespace OutputDecoding {

// The platform's local 8-bit code page (Windows' "System" code page, the
// locale's encoding elsewhere), one chunk at a time. sourcePath names the
// caller in the assertion that stops the program where no such codec exists.
QString fromSystemCodePage(const QByteArray &bytes, const char *sourcePath);

// UTF-8.
QString fromUtf8(const QByteArray &bytes);

// The bytes without their zero bytes, which show nothing and once cut off
// the rest of a read (no code page uses a zero byte inside a character).
QByteArray withoutZeroBytes(const QByteArray &bytes);

} // namespace OutputDecoding
