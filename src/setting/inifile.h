#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The settings file, read and edited line by line in the INI syntax of
// QSettings. QSettings itself would read a hand-written "a,b" as a list, cut
// a value at ";", drop blanks around it, and on every write put all values
// of the file back in its own form; here a value is the text after "=" as it
// stands, and a write replaces only the lines of the keys it sets, leaving
// every other byte of the file alone.
//
// Values are written in QSettings' own quoting when they need it (a comma,
// semicolon, "=", a double quote, a backslash, a control character, a blank
// at either end), so QSettings still reads them right. On reading, a value
// is taken as such a quoted form only when it is exactly what writing its
// unquoted text gives; anything else is plain text, kept as it is.
//
// Keys are addressed as "/Section/Name".
class IniFile
{
public:
    // Reads the file; a missing or unreadable one reads as empty.
    explicit IniFile(const QString &path);

    bool contains(const QString &key) const;
    // The stored text of the key, unquoted as described above.
    QString value(const QString &key, const QString &fallback) const;
    void setValue(const QString &key, const QString &text);

    // Writes the file when a value was set; true when nothing failed.
    bool save();

    // The stored form of a text, and the text of a stored form.
    static QString encode(const QString &text);
    static QString decode(const QString &stored);

private:
    struct Location
    {
        int line = -1;          // the key's line, -1 when missing
        int sectionEnd = -1;    // where a new key of the section goes, -1 when no section
    };
    Location locate(const QString &key) const;

    QString path;
    QByteArray bom;
    QByteArray lineEnd;
    QList<QByteArray> lines;    // as read, each with its '\r' if it had one
    bool changed = false;
};
