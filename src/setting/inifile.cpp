#include "setting/inifile.h"

#include "platform/platform.h"
#include "supervision/outputdecoding.h"

#include <QFile>
#include <QSaveFile>

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

QString hexEscape(QChar c)
{
    return QStringLiteral("\\x") + QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
}

QByteArray withoutCr(const QByteArray &line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// "[Name]" gives Name; anything else a null array.
QByteArray sectionName(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (!trimmed.startsWith('['))
        return QByteArray();
    const int close = trimmed.indexOf(']');
    return trimmed.mid(1, close < 0 ? -1 : close - 1);
}

// The name of a "name=value" line; a null array for other lines.
QByteArray keyName(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    const int equals = line.indexOf('=');
    if (equals < 0 || trimmed.startsWith(';') || trimmed.startsWith('#') || trimmed.startsWith('['))
        return QByteArray();
    return line.left(equals).trimmed();
}

void splitKey(const QString &key, QByteArray *section, QByteArray *name)
{
    const QString path = key.startsWith(QLatin1Char('/')) ? key.mid(1) : key;
    const int slash = path.indexOf(QLatin1Char('/'));
    *section = slash < 0 ? QByteArrayLiteral("General") : path.left(slash).toUtf8();
    *name = path.mid(slash + 1).toUtf8();
}

} // namespace

IniFile::IniFile(const QString &filePath)
    : path(filePath)
{
    lineEnd = Platform::textLineEnd();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    if (bytes.startsWith(kUtf8Bom)) {
        bom = kUtf8Bom;
        bytes.remove(0, bom.size());
    }
    if (bytes.isEmpty())
        return;
    lines = bytes.split('\n');
    const int firstEnd = bytes.indexOf('\n');
    if (firstEnd >= 0)
        lineEnd = firstEnd > 0 && bytes.at(firstEnd - 1) == '\r' ? "\r\n" : "\n";
}

IniFile::Location IniFile::locate(const QString &key) const
{
    QByteArray section;
    QByteArray name;
    splitKey(key, &section, &name);

    Location found;
    bool inSection = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = withoutCr(lines.at(i));
        const QByteArray header = sectionName(line);
        if (!header.isNull()) {
            inSection = header == section;
            if (inSection)
                found.sectionEnd = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        const QByteArray lineKey = keyName(line);
        if (lineKey.isNull())
            continue;
        found.sectionEnd = i + 1;
        // QSettings lets the last of two equal keys win; so does this.
        if (lineKey == name)
            found.line = i;
    }
    return found;
}

bool IniFile::contains(const QString &key) const
{
    return locate(key).line >= 0;
}

QString IniFile::value(const QString &key, const QString &fallback) const
{
    const int line = locate(key).line;
    if (line < 0)
        return fallback;
    const QByteArray text = withoutCr(lines.at(line));
    const QByteArray stored = text.mid(text.indexOf('=') + 1);
    QString unicode = QString::fromUtf8(stored);
    // Not UTF-8: a value written by hand in the system's code page (Notepad
    // on a Chinese Windows saves GBK).
    if (unicode.toUtf8() != stored)
        unicode = OutputDecoding::fromSystemCodePage(stored, __FILE__);
    return decode(unicode);
}

void IniFile::setValue(const QString &key, const QString &text)
{
    const QByteArray cr = lineEnd.startsWith('\r') ? QByteArrayLiteral("\r") : QByteArray();
    const QByteArray stored = encode(text).toUtf8();
    const Location at = locate(key);
    // The same text again leaves the line's bytes as they are, whatever
    // their encoding or quoting.
    if (at.line >= 0 && value(key, QString()) == text)
        return;
    changed = true;
    if (at.line >= 0) {
        const QByteArray &line = lines.at(at.line);
        lines[at.line] = line.left(line.indexOf('=') + 1) + stored + (line.endsWith('\r') ? cr : QByteArray());
        return;
    }
    QByteArray section;
    QByteArray name;
    splitKey(key, &section, &name);
    const QByteArray entry = name + '=' + stored + cr;
    if (at.sectionEnd >= 0) {
        lines.insert(at.sectionEnd, entry);
        return;
    }
    // A new section at the end, after a blank line, as QSettings lays it out;
    // a last empty piece is the file's final line end.
    const bool endsWithLineEnd = !lines.isEmpty() && lines.last().isEmpty();
    if (endsWithLineEnd)
        lines.removeLast();
    if (!lines.isEmpty() && !withoutCr(lines.last()).trimmed().isEmpty())
        lines.append(cr);
    lines << '[' + section + ']' + cr << entry << QByteArray();
}

bool IniFile::save()
{
    if (!changed)
        return true;
    const bool fresh = !QFile::exists(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // It holds the database password: a new file is its owner's alone; an
    // existing one keeps the mode its owner gave it. (On Windows the
    // installer's folder permissions do this.)
    if (fresh)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray bytes = bom + lines.join('\n');
    if (file.write(bytes) != bytes.size())
        return false;
    changed = !file.commit();
    return !changed;
}

QString IniFile::encode(const QString &text)
{
    // QSettings marks its own typed values with a leading "@" and doubles
    // the "@" of a plain text.
    const QString plain = text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
    QString stored;
    bool needsQuotes = false;
    bool escapeNextIfHexDigit = false;
    for (const QChar c : plain) {
        if (c == QLatin1Char(';') || c == QLatin1Char(',') || c == QLatin1Char('='))
            needsQuotes = true;
        if (escapeNextIfHexDigit && isHexDigit(c)) {
            stored += hexEscape(c);
            continue;
        }
        escapeNextIfHexDigit = false;
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            stored += QLatin1Char('\\');
            stored += c;
        } else if (c.unicode() < 0x20) {
            // Two hex digits, unlike QSettings' "\n" or "\x9": a hand-written
            // Windows path such as C:\new or C:\xampp must not read as this form.
            stored += hexEscape(c);
            escapeNextIfHexDigit = true;
        } else {
            stored += c;
        }
    }
    if (needsQuotes || stored.startsWith(QLatin1Char(' ')) || stored.endsWith(QLatin1Char(' ')))
        stored = QLatin1Char('"') + stored + QLatin1Char('"');
    return stored;
}

QString IniFile::decode(const QString &stored)
{
    QString body = stored;
    if (stored.size() >= 2 && stored.startsWith(QLatin1Char('"')) && stored.endsWith(QLatin1Char('"')))
        body = stored.mid(1, stored.size() - 2);
    QString text;
    for (int i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c == QLatin1Char('"'))
            return stored;
        if (c != QLatin1Char('\\')) {
            text += c;
            continue;
        }
        if (++i == body.size())
            return stored;
        const QChar escaped = body.at(i);
        if (escaped == QLatin1Char('\\') || escaped == QLatin1Char('"')) {
            text += escaped;
        } else if (escaped == QLatin1Char('x')) {
            int end = i + 1;
            while (end < body.size() && end - i <= 4 && isHexDigit(body.at(end)))
                ++end;
            bool ok = false;
            const ushort code = body.mid(i + 1, end - i - 1).toUShort(&ok, 16);
            if (!ok)
                return stored;
            text += QChar(code);
            i = end - 1;
        } else {
            return stored;
        }
    }
    if (text.startsWith(QLatin1String("@@")))
        text.remove(0, 1);
    return encode(text) == stored ? text : stored;
}
