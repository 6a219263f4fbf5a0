#pragma once

#include <QByteArray>
#include <QString>

// How the text a server program writes is turned into Unicode.
namespace OutputDecoding {

// The platform's local 8-bit code page (Windows' "System" code page, the
// locale's encoding elsewhere), one chunk at a time. sourcePath names the
// caller in the assertion that stops the program where no such codec exists.
QString fromSystemCodePage(const QByteArray &bytes, const char *sourcePath);

// UTF-8, up to (not including) the first zero byte.
QString fromUtf8UntilZero(const QByteArray &bytes);

} // namespace OutputDecoding
