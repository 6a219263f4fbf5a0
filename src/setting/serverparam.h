#pragma once

#include <QString>

// Plain value records handed out by SetupConfig; callers always get copies.

struct ServerParam
{
    QString programPath;
    QString workPath;
    QString param;
    int recordCount = 0;
};

struct MysqlParam
{
    QString hostName;
    QString databaseName;
    QString userName;
    QString password;
};

struct SetupMysqlParam
{
    bool state = false;
    QString cmdPath;
    QString mysqlPath;
    QString cmdStr;
};

struct SetupRedisParam
{
    bool state = false;
    QString path;
    QString workDir;
    QString parameter;
};
