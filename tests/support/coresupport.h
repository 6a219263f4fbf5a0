#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class QSettings;

// What every test may use, core tests included: no widgets.
namespace TestSupport {

QString sourceDir();
QString testHelperPath();   // the many-behaviour child program (tests/helpers/testhelper.cpp)
QString launcherPath();     // the real launcher executable

// Makes an INI-format QSettings read and write UTF-8, as the launcher's
// settings file is (Qt 6 always does; Qt 5 must be told).
void useUtf8(QSettings &ini);

// A temporary application directory with SetupConfig initialised on it.
// With withScripts the shipped config/mysql scripts are copied in first.
class TempAppDir
{
public:
    explicit TempAppDir(bool withScripts = false);
    bool isValid() const { return dir.isValid(); }
    QString path() const { return dir.path(); }
    QString iniPath() const;
    // Writes ini text before initialising (for "file already exists" cases).
    void writeIni(const QByteArray &content);
    // Writes config/mysql/<name>; false when it could not be written.
    bool writeScript(const QString &name, const QByteArray &content) const;
    void initialize();

private:
    QTemporaryDir dir;
};

} // namespace TestSupport
