#include "ui/setup/common/launchrules.h"

#include "setting/platformdefaults.h"

#include <QFileInfo>

namespace LaunchRules {

QStringList splitArguments(const QString &text)
{
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char(' '), Qt::KeepEmptyParts, Qt::CaseSensitive);
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
                result.param = info.fileName();
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
