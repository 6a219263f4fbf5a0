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
class SetupDatabase
{
public:
    static SetupDatabase *instance();

    // Opens a fresh default connection with the settings' host, database and
    // user; the password only when there is one, every other option at the
    // driver's defaults. The previous connection is closed first.
    QString openDatabase(const MysqlParam &settings);

    QString execCleanScript();
    QString execInitScript();
    QString execUpdateScript();

    // Closes the connection and unregisters it, when the calling thread is the
    // one that opened it; a connection of another thread is left alone.
    void closeDatabase();

private:
    SetupDatabase() = default;
    Q_DISABLE_COPY(SetupDatabase)

    QString execScript(const QString &path);
    bool ownsOpenConnection() const;
    void releaseConnection();

    // Keeps the held handle consistent should two workers ever live at once;
    // in the launcher one worker at a time uses this object.
    QMutex mutex;
    QSqlDatabase db;
};
