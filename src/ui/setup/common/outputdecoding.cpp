#include "ui/setup/common/outputdecoding.h"

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>
#else
#include <QTextCodec>
#endif

namespace OutputDecoding {

QString fromSystemCodePage(const QByteArray &bytes, const char *sourcePath)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6's System converter is the ANSI code page on Windows and the
    // locale's encoding elsewhere, as the "System" codec was. A fresh decoder
    // per chunk: a character cut between two chunks shows as replacement
    // characters, as before.
    Q_UNUSED(sourcePath)
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
#else
#if defined(Q_OS_WIN)
    QTextCodec *pTextCodec = QTextCodec::codecForName("System");
#else
    // Only Windows registers a codec under the name "System"; elsewhere the
    // local 8-bit encoding is the locale's.
    QTextCodec *pTextCodec = QTextCodec::codecForLocale();
#endif
    if (pTextCodec == nullptr)
        qt_assert("pTextCodec != nullptr", sourcePath, __LINE__);
    return pTextCodec->toUnicode(bytes);
#endif
}

QString fromUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

QByteArray withoutZeroBytes(const QByteArray &bytes)
{
    if (!bytes.contains('\0'))
        return bytes;
    QByteArray kept = bytes;
    kept.replace('\0', QByteArray());
    return kept;
}

} // namespace OutputDecoding
