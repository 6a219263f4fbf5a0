#include "supervision/outputdecoding.h"

#include "platform/platform.h"

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
    QTextCodec *pTextCodec = Platform::systemCodec();
    if (pTextCodec == nullptr)
        qt_assert("pTextCodec != nullptr", sourcePath, __LINE__);
    return pTextCodec->toUnicode(bytes);
#endif
}

QString visibleControls(const QString &text)
{
    const auto suspicious = [](char16_t c) {
        return (c < 0x20 && c != u'\t' && c != u'\n' && c != 0x1b && c != 0x07) || c == 0x7f || (c >= 0x80 && c <= 0x9f)
            || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
    };
    QString out;
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!suspicious(c)) {
            if (!out.isNull())
                out += QChar(c);
            continue;
        }
        if (out.isNull())
            out = text.left(i);
        if (c == u'\r' && (i + 1 == n || text.at(i + 1) == QLatin1Char('\n')))
            out += QChar(c);
        else if (c < 0x20)
            out += QChar(char16_t(0x2400 + c));
        else if (c == 0x7f)
            out += QChar(char16_t(0x2421));
        else
            out += QChar(QChar::ReplacementCharacter);
    }
    return out.isNull() ? text : out;
}

QByteArray withoutZeroBytes(const QByteArray &bytes)
{
    if (!bytes.contains('\0'))
        return bytes;
    QByteArray kept = bytes;
    kept.replace('\0', QByteArray());
    return kept;
}

QString decode(const QByteArray &bytes, bool utf8, const char *sourcePath)
{
    // All four servers' output alike: a zero byte is dropped, never the
    // text after it.
    const QByteArray kept = withoutZeroBytes(bytes);
    return visibleControls(utf8 ? QString::fromUtf8(kept) : fromSystemCodePage(kept, sourcePath));
}

} // namespace OutputDecoding
