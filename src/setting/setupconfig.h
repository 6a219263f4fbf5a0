#pragma once

#include "setting/serverparam.h"

#include <QString>

// The launcher's settings, held in memory and kept in config/SetupConfig.ini
// beside the executable. Read once at start-up; written back only through the
// save functions: a server's start (its three path keys), 自动重启 and
// 随启动器启动 when toggled, and the font size on quit.
class SetupConfig
{
public:
    static SetupConfig *instance();

    // Sets the application directory and loads (or creates) the INI file.
    // Members go back to their defaults first, so a second call behaves
    // exactly like a first start in that directory.
    void initialize(const QString &path);

    // The launcher's own folder: relative paths in the settings start here.
    QString appDirPath() const { return appDir; }
    QString configDir() const;
    QString configFilePath() const;

    ServerParam mediaServerParam() const { return mediaServer; }
    ServerParam sipServerParam() const { return sipServer; }
    int fontSize() const { return m_fontSize; }
    int waitProcess() const { return m_waitProcess; }
    // Readiness of the SIP server for the update start: a TCP port on
    // 127.0.0.1 (0: none) and a pattern for its output (empty: none).
    int sipReadyPort() const { return m_sipReadyPort; }
    QString sipReadyPattern() const { return m_sipReadyPattern; }
    MysqlParam mysqlParam() const { return mysql; }
    SetupMysqlParam setupMysqlParam() const { return mysqlSetup; }
    SetupRedisParam setupRedisParam() const { return redisSetup; }
    // Seconds a stopped server has to end before it is killed (0 to 600;
    // 0 kills at once).
    int stopGrace() const { return m_stopGrace; }
    // The file's /Time/StopGrace when it was not a number of 0 to 600 (the
    // default applies then); null when it was fine or absent.
    QString stopGraceIgnored() const { return m_stopGraceIgnored; }
    // Seconds the database may keep one statement's answer waiting (1 to
    // 86400, optional key /Time/DbTimeout); connecting has 10 seconds.
    int dbTimeout() const { return m_dbTimeout; }
    // Whether the panel of this group ("MediaServer", "SipServer") restarts
    // its server when it ends by itself.
    bool autoRestart(const QString &group) const;
    // Whether the server of this group starts when the launcher (window or
    // service) starts.
    bool startWithLauncher(const QString &group) const;

    QString initSqlPath() const;
    QString updateSqlPath() const;
    QString cleanSqlPath() const;

    // Each returns false when the file could not be written; the values are
    // kept in memory all the same.
    bool saveMediaServerParam(const ServerParam &p);
    bool saveSipServerParam(const ServerParam &p);
    bool saveFontSize(int n);
    bool saveAutoRestart(const QString &group, bool on);
    bool saveStartWithLauncher(const QString &group, bool on);
    // Whether a save would be written, found without changing the file.
    bool canSave() const;

private:
    template <typename> friend class Singleton;
    SetupConfig();
    void setDefaults();
    void load();
    bool saveServerParam(const QString &group, const ServerParam &p);
    // A server's yes/no keys, one set per group.
    struct ServerFlags
    {
        bool autoRestart = false;
        bool startWithLauncher = false;
    };
    ServerFlags &flagsOf(const QString &group);
    const ServerFlags &flagsOf(const QString &group) const;
    bool saveFlag(const QString &group, const char *key, bool on);
    QString scriptPath(const QString &name) const;

    QString appDir;
    ServerParam mediaServer;
    ServerParam sipServer;
    int m_fontSize = 12;
    QString initScript;
    QString updateScript;
    QString cleanScript;
    int m_waitProcess = 4;
    int m_sipReadyPort = 0;
    QString m_sipReadyPattern;
    MysqlParam mysql;
    SetupMysqlParam mysqlSetup;
    SetupRedisParam redisSetup;
    // Read when present, never added by the completion pass.
    int m_stopGrace = 5;
    QString m_stopGraceIgnored;
    int m_dbTimeout = 300;
    ServerFlags mediaFlags;
    ServerFlags sipFlags;
};
