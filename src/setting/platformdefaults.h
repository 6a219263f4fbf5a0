#pragma once

#include <QString>

// Every settings default that differs between Windows and the other
// platforms; each platform's file in src/platform/ gives its values.
namespace PlatformDefaults {

QString mediaServerProgram();
QString sipServerProgram();
QString sipServerParam();

QString mysqlCmdPath();
QString mysqlWorkDir();
QString mysqlCmdStr();

QString redisPath();
QString redisWorkDir();
QString redisParameter();

// True when a dropped file counts as a program: the exact "exe" complete
// suffix on Windows, the owner's execute permission elsewhere.
bool isProgramFile(const QString &filePath);

} // namespace PlatformDefaults
