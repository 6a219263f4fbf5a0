#pragma once

#include <QString>
#include <QStringList>

// How a panel's field texts become a command line. Shared by both panels and
// by the SIP panel's MySQL command.
namespace LaunchRules {

// Split at every single blank, keeping empty pieces: "-a  -b" gives "-a",
// "", "-b". An empty text gives no arguments at all. Double quotes keep
// blanks inside one argument and are not passed on ("media server.ini" is
// one argument); inside quotes, two double quotes stand for one.
QStringList splitArguments(const QString &text);

// The text that splitArguments() turns back into exactly this one argument.
QString quoteArgument(const QString &argument);

// Where a program field's text points. A relative path ("./MediaServer")
// starts at base, the launcher's own folder, never at the current folder
// (where anybody may have put a program of that name); a bare name is
// looked up on PATH, and otherwise in base.
QString resolveProgram(const QString &program, const QString &base);
// A relative folder starts at base; an empty text stays empty.
QString resolveDir(const QString &dir, const QString &base);

// The working directory for a program, from the working-directory field's
// text. correctedField receives what the field should show afterwards
// (cleared for a path that does not exist, the folder for a file).
QString workingDirectory(const QString &program, const QString &field, QString *correctedField);

// What a drop on a panel sets, decided by the first URL that names an
// existing file or directory.
struct DropResult
{
    bool matched = false;
    QString programPath;   // set for a program file
    QString workDir;       // set for another file (its folder) or a directory
    QString param;         // set for another file (its name, quoted if need be)
};
DropResult dropTarget(const QStringList &localPaths);

// The TCP port Redis listens on, from its single parameter: "--port N" in
// it, else a "port N" line of the configuration file it names (relative to
// workDir), else Redis's default 6379.
quint16 redisPort(const QString &parameter, const QString &workDir);

} // namespace LaunchRules
