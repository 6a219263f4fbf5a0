#include "coresupport.h"

#include "setting/setupconfig.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace TestSupport {

QString sourceDir() { return QStringLiteral(TESSARIN_SOURCE_DIR); }
QString testHelperPath() { return QStringLiteral(TESSARIN_TESTHELPER); }
QString launcherPath() { return QStringLiteral(TESSARIN_LAUNCHER); }

void useUtf8(QSettings &ini)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    ini.setIniCodec("UTF-8");
#else
    Q_UNUSED(ini)
#endif
}

TempAppDir::TempAppDir(bool withScripts)
{
    if (withScripts) {
        QDir().mkpath(dir.path() + QStringLiteral("/config/mysql"));
        const QDir src(sourceDir() + QStringLiteral("/config/mysql"));
        for (const QString &name : src.entryList({QStringLiteral("*.sql")}, QDir::Files))
            QFile::copy(src.filePath(name), dir.path() + QStringLiteral("/config/mysql/") + name);
    }
}

QString TempAppDir::iniPath() const
{
    return dir.path() + QStringLiteral("/config/SetupConfig.ini");
}

void TempAppDir::writeIni(const QByteArray &content)
{
    QDir().mkpath(dir.path() + QStringLiteral("/config"));
    QFile f(iniPath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

bool TempAppDir::writeScript(const QString &name, const QByteArray &content) const
{
    QDir().mkpath(dir.path() + QStringLiteral("/config/mysql"));
    QFile file(dir.path() + QStringLiteral("/config/mysql/") + name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

void TempAppDir::initialize()
{
    SetupConfig::instance()->initialize(dir.path());
}

} // namespace TestSupport
