#include "ui/setup/common/launchrules.h"

#include "setting/platformdefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace LaunchRules {

QStringList splitArguments(const QString &text)
{
    if (text.isEmpty())
        return {};
    const QChar quote = QLatin1Char('"');
    QStringList arguments;
    QString current;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == quote) {
            if (quoted && i + 1 < text.size() && text.at(i + 1) == quote) {
                current += quote;
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == QLatin1Char(' ') && !quoted) {
            arguments.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    arguments.append(current);
    return arguments;
}

QString quoteArgument(const QString &argument)
{
    const QChar quote = QLatin1Char('"');
    if (!argument.isEmpty() && !argument.contains(QLatin1Char(' ')) && !argument.contains(quote))
        return argument;
    QString doubled = argument;
    doubled.replace(quote, QStringLiteral("\"\""));
    return quote + doubled + quote;
}

QString resolveProgram(const QString &program, const QString &base)
{
    if (program.isEmpty() || QDir::isAbsolutePath(program))
        return program;
    const bool bareName = !program.contains(QLatin1Char('/')) && !program.contains(QLatin1Char('\\'));
    if (bareName) {
        const QString onPath = QStandardPaths::findExecutable(program);
        if (!onPath.isEmpty())
            return onPath;
    }
    return QDir::cleanPath(QDir(base).absoluteFilePath(program));
}

QString resolveDir(const QString &dir, const QString &base)
{
    if (dir.isEmpty() || QDir::isAbsolutePath(dir))
        return dir;
    return QDir::cleanPath(QDir(base).absoluteFilePath(dir));
}

QString workingDirectory(const QString &program, const QString &field, QString *correctedField)
{
    const QString programDir = QFileInfo(program).absolutePath();
    *correctedField = field;
    if (field.isEmpty())
        return programDir;
    const QFileInfo info(field);
    if (!info.exists()) {
        correctedField->clear();
        return programDir;
    }
    if (info.isFile()) {
        *correctedField = info.absolutePath();
        return info.absolutePath();
    }
    return field;
}

DropResult dropTarget(const QStringList &localPaths)
{
    DropResult result;
    for (const QString &path : localPaths) {
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isFile()) {
            result.matched = true;
            if (PlatformDefaults::isProgramFile(path)) {
                result.programPath = info.absoluteFilePath();
            } else {
                result.workDir = info.absolutePath();
                result.param = quoteArgument(info.fileName());
            }
            return result;
        }
        if (info.isDir()) {
            result.matched = true;
            result.workDir = path;
            return result;
        }
    }
    return result;
}

} // namespace LaunchRules
