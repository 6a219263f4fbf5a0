#include "supervision/launchrules.h"

#include "setting/platformdefaults.h"

#include <QDir>
#include <QFile>
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

quint16 redisPort(const QString &parameter, const QString &workDir)
{
    const auto valid = [](const QString &text, quint16 *port) {
        bool ok = false;
        const uint value = text.toUInt(&ok);
        if (ok && value >= 1 && value <= 65535)
            *port = static_cast<quint16>(value);
        return ok && value >= 1 && value <= 65535;
    };
    quint16 port = 6379;
    const QStringList words = parameter.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int flag = words.indexOf(QStringLiteral("--port"));
    if (flag >= 0 && flag + 1 < words.size() && valid(words.at(flag + 1), &port))
        return port;
    if (words.isEmpty() || words.first().startsWith(QLatin1String("--")))
        return port;
    QFile config(QDir(workDir).absoluteFilePath(words.first()));
    if (config.size() > 1024 * 1024 || !config.open(QIODevice::ReadOnly | QIODevice::Text))
        return port;
    while (!config.atEnd()) {
        const QStringList line = QString::fromUtf8(config.readLine()).simplified().split(QLatin1Char(' '));
        if (line.size() >= 2 && line.first() == QLatin1String("port"))
            valid(line.at(1), &port);
    }
    return port;
}

} // namespace LaunchRules
