#pragma once

#include "setting/serverparam.h"

#include <QMutex>
#include <QSqlDatabase>
#include <QString>

// The launcher's one connection to the SIP server's database, and the runner
// of the three scripts shipped in config/mysql. One object per process.
//
// Every operation returns an empty text on success, otherwise the message for
// the operator. All of them are called by SqlProcessThread's worker thread:
// the QMYSQL driver sets up per-thread client state when it opens and tears it
// down when it closes, and Qt binds a connection to the thread that added it,
// so the connection is opened, used and closed by that one thread. A script
// task on any other thread finds no connection and says so.
// What the database work needs from the settings, copied on the thread that
// owns the settings: the worker never reads them while the GUI writes them.
struct DatabaseSettings
{
    MysqlParam mysql;
    QString cleanSqlPath;
    QString initSqlPath;
    QString updateSqlPath;
    int timeoutSeconds = 30;

    static DatabaseSettings fromConfig();
};

class SetupDatabase
{
public:
    static SetupDatabase *instance();

    // The settings the next operations use; until then, those of
    // SetupConfig as they are when an operation reads them.
    void useSettings(const DatabaseSettings &settings);

    // Opens a fresh default connection with the settings' host, database and
    // user; the password only when there is one, every other option at the
    // driver's defaults. The previous connection is closed first.
    QString openDatabase(const MysqlParam &settings);

    // Run a script on the connection task 0 opened. A script that is not
    // UTF-8, or larger than the server takes in one packet, is refused with
    // nothing of it run. A connection found dead is opened again first, so
    // a step that failed can be run again on a live one.
    QString execCleanScript();
    QString execInitScript();
    QString execUpdateScript();

    // Closes the connection and unregisters it, when the calling thread is the
    // one that opened it; a connection of another thread is left alone.
    void closeDatabase();

private:
    template <typename> friend class Singleton;
    SetupDatabase() = default;
    Q_DISABLE_COPY(SetupDatabase)

    QString open(const MysqlParam &settings);
    QString execScript(const QString &path);
    bool ownsConnection() const;
    // Empty when the held connection answers, after opening it again if it
    // did not; packetLimit receives the server's max_allowed_packet.
    QString makeLive(const QString &path, qint64 *packetLimit);
    void releaseConnection();

    // Keeps the held handle consistent should two workers ever live at once;
    // in the launcher one worker at a time uses this object.
    QMutex mutex;
    QSqlDatabase db;
    // A connection was asked for and opened, and not closed since: scripts
    // may then reopen it when they find it dead.
    bool connected = false;
    bool settingsGiven = false;
    DatabaseSettings given;
    DatabaseSettings current() const;
};
