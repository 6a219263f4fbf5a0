// SetupConfig against real INI files in temporary application directories.

#include "setting/setupconfig.h"
#include "coresupport.h"
#include "supervision/outputdecoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif
#include <QtTest>

#include <atomic>

namespace {

struct KeyDefault
{
    const char *key;
    const char *text; // the default as it reads back from the file
};

// All 25 keys with the defaults a first start writes, written out literally so
// that a wrong default anywhere (including the platform counterparts) shows.
const KeyDefault kDefaults[] = {
#ifdef Q_OS_WIN
    {"/MediaServer/ProgramPath", "./MediaServer.exe"},
#else
    {"/MediaServer/ProgramPath", "./MediaServer"},
#endif
    {"/MediaServer/WorkPath", ""},
    {"/MediaServer/Param", ""},
    {"/MediaServer/RecordCount", "10000"},
    {"/SipServer/ProgramPath", "java"},
    {"/SipServer/WorkPath", ""},
    {"/SipServer/Param", "-jar wvp-pro-2.3.2-09220952.jar"},
    {"/SipServer/RecordCount", "10000"},
    {"/Font/Size", "12"},
    {"/Mysql/Init", "init.sql"},
    {"/Mysql/Update", "update.sql"},
    {"/Mysql/Clean", "clean.sql"},
    {"/Time/WaitProcess", "4"},
    {"/Mysql/HostName", "127.0.0.1"},
    {"/Mysql/DatabaseName", "wvp"},
    {"/Mysql/UserName", "root"},
    {"/Mysql/Password", "749261"},
    {"/SetupMysql/State", "true"},
#ifdef Q_OS_WIN
    {"/SetupMysql/CmdPath", "C:/Windows/System32/conhost.exe"},
    {"/SetupMysql/MysqlPath", "D:/mysql-8.0.20-winx64/bin"},
    {"/SetupMysql/CmdStr", "net start mysql"},
#else
    {"/SetupMysql/CmdPath", "/usr/sbin/service"},
    {"/SetupMysql/MysqlPath", "/"},
    {"/SetupMysql/CmdStr", "mariadb start"},
#endif
    {"/SetupRedisParam/State", "true"},
#ifdef Q_OS_WIN
    {"/SetupRedisParam/Path", "D:/Redis3.2.100/redis-server.exe"},
    {"/SetupRedisParam/WorkDir", "D:/Redis3.2.100"},
    {"/SetupRedisParam/Parameter", "redis.windows.conf"},
#else
    {"/SetupRedisParam/Path", "/usr/bin/redis-server"},
    {"/SetupRedisParam/WorkDir", "/var/lib/redis"},
    {"/SetupRedisParam/Parameter", "--daemonize no"},
#endif
};

SetupConfig *config() { return SetupConfig::instance(); }

QString scriptName(const QString &path)
{
    const QString prefix = config()->configDir() + QStringLiteral("/mysql/");
    return path.startsWith(prefix) ? path.mid(prefix.size()) : QStringLiteral("<not in scripts dir> ") + path;
}

// What the getters currently say for a key, typed like the member behind it.
QVariant memberValue(const QString &key)
{
    const ServerParam media = config()->mediaServerParam();
    const ServerParam sip = config()->sipServerParam();
    const MysqlParam mysql = config()->mysqlParam();
    const SetupMysqlParam mysqlSetup = config()->setupMysqlParam();
    const SetupRedisParam redis = config()->setupRedisParam();
    const QHash<QString, QVariant> values = {
        {QStringLiteral("/MediaServer/ProgramPath"), media.programPath},
        {QStringLiteral("/MediaServer/WorkPath"), media.workPath},
        {QStringLiteral("/MediaServer/Param"), media.param},
        {QStringLiteral("/MediaServer/RecordCount"), media.recordCount},
        {QStringLiteral("/SipServer/ProgramPath"), sip.programPath},
        {QStringLiteral("/SipServer/WorkPath"), sip.workPath},
        {QStringLiteral("/SipServer/Param"), sip.param},
        {QStringLiteral("/SipServer/RecordCount"), sip.recordCount},
        {QStringLiteral("/Font/Size"), config()->fontSize()},
        {QStringLiteral("/Mysql/Init"), scriptName(config()->initSqlPath())},
        {QStringLiteral("/Mysql/Update"), scriptName(config()->updateSqlPath())},
        {QStringLiteral("/Mysql/Clean"), scriptName(config()->cleanSqlPath())},
        {QStringLiteral("/Time/WaitProcess"), config()->waitProcess()},
        {QStringLiteral("/Mysql/HostName"), mysql.hostName},
        {QStringLiteral("/Mysql/DatabaseName"), mysql.databaseName},
        {QStringLiteral("/Mysql/UserName"), mysql.userName},
        {QStringLiteral("/Mysql/Password"), mysql.password},
        {QStringLiteral("/SetupMysql/State"), mysqlSetup.state},
        {QStringLiteral("/SetupMysql/CmdPath"), mysqlSetup.cmdPath},
        {QStringLiteral("/SetupMysql/MysqlPath"), mysqlSetup.mysqlPath},
        {QStringLiteral("/SetupMysql/CmdStr"), mysqlSetup.cmdStr},
        {QStringLiteral("/SetupRedisParam/State"), redis.state},
        {QStringLiteral("/SetupRedisParam/Path"), redis.path},
        {QStringLiteral("/SetupRedisParam/WorkDir"), redis.workDir},
        {QStringLiteral("/SetupRedisParam/Parameter"), redis.parameter},
    };
    return values.value(key, QStringLiteral("<unknown key %1>").arg(key));
}

// The file as another program (or the operator) would see it.
QMap<QString, QString> fileValues(const QString &iniPath)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    TestSupport::useUtf8(ini);
    QMap<QString, QString> values;
    for (const QString &key : ini.allKeys())
        values.insert(QLatin1Char('/') + key, ini.value(key).toString());
    return values;
}

// An operator's edit between runs. Done through QSettings so that the edit is
// seen by every later QSettings in this process, whatever the file's mtime.
void editFile(const QString &iniPath, const QMap<QString, QString> &edits)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    TestSupport::useUtf8(ini);
    for (auto it = edits.cbegin(); it != edits.cend(); ++it)
        ini.setValue(it.key(), it.value());
    ini.sync();
    QCOMPARE(ini.status(), QSettings::NoError);
}

QByteArray section(const char *key)
{
    return QByteArray(key).mid(1).split('/').first();
}

QByteArray name(const char *key)
{
    return QByteArray(key).mid(1).split('/').last();
}

} // namespace

class TestSetupConfig : public QObject
{
    Q_OBJECT

private slots:
    void instanceIsOneObjectForAllThreads();

    void firstStartWritesEveryKey_data();
    void firstStartWritesEveryKey();
    void firstStartGettersReturnDefaults_data();
    void firstStartGettersReturnDefaults();
    void firstStartCreatesMissingDirectories();

    void missingKeysAreCompletedAndPresentOnesRead();
    void addedKeysAreReadByALaterStart();

    void emptyStringsStayEmpty_data();
    void emptyStringsStayEmpty();
    void passwordFileIsTheOwnersAlone();
    void stopGraceBounds_data();
    void stopGraceBounds();
    void conversions_data();
    void conversions();

    void saveWritesOnlyItsOwnKeys_data();
    void saveWritesOnlyItsOwnKeys();

    void scriptPaths_data();
    void scriptPaths();

    void handWrittenTextIsReadAsWritten_data();
    void handWrittenTextIsReadAsWritten();
    void savedTextReadsBackExactly_data();
    void savedTextReadsBackExactly();

    void chineseTextIsReadAsUtf8();
    void chineseTextIsWrittenAsUtf8();
    void handWrittenGbkIsReadAndKept();

    void unreadableFileYieldsDefaults();
};

void TestSetupConfig::instanceIsOneObjectForAllThreads()
{
    SetupConfig *mine = SetupConfig::instance();
    QVERIFY(mine);
    std::atomic<SetupConfig *> seen{nullptr};
    QScopedPointer<QThread> thread(QThread::create([&seen] { seen = SetupConfig::instance(); }));
    thread->start();
    QVERIFY(thread->wait(30000));
    QCOMPARE(seen.load(), mine);
    QCOMPARE(SetupConfig::instance(), mine);
}

void TestSetupConfig::firstStartWritesEveryKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    for (const KeyDefault &d : kDefaults)
        QTest::newRow(d.key) << QString::fromLatin1(d.key) << QString::fromUtf8(d.text);
}

void TestSetupConfig::firstStartWritesEveryKey()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);

    TestSupport::TempAppDir app;
    QVERIFY(app.isValid());
    QVERIFY(!QFileInfo::exists(app.path() + QStringLiteral("/config")));
    app.initialize();

    QVERIFY(QFileInfo(app.iniPath()).isFile());
    const QMap<QString, QString> values = fileValues(app.iniPath());
    QCOMPARE(values.size(), 25);
    QVERIFY2(values.contains(key), qPrintable(key));
    QCOMPARE(values.value(key), expected);

    QSettings ini(app.iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.childGroups(),
             QStringList({QStringLiteral("Font"), QStringLiteral("MediaServer"), QStringLiteral("Mysql"),
                          QStringLiteral("SetupMysql"), QStringLiteral("SetupRedisParam"),
                          QStringLiteral("SipServer"), QStringLiteral("Time")}));
}

void TestSetupConfig::firstStartGettersReturnDefaults_data()
{
    firstStartWritesEveryKey_data();
}

void TestSetupConfig::firstStartGettersReturnDefaults()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);

    TestSupport::TempAppDir app;
    app.initialize();
    QCOMPARE(memberValue(key).toString(), expected);
}

void TestSetupConfig::firstStartCreatesMissingDirectories()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString appDir = root.path() + QStringLiteral("/not/there/yet");
    config()->initialize(appDir);

    QCOMPARE(config()->configDir(), appDir + QStringLiteral("/config"));
    QCOMPARE(config()->configFilePath(), appDir + QStringLiteral("/config/SetupConfig.ini"));
    QVERIFY(QFileInfo(appDir + QStringLiteral("/config")).isDir());
    QCOMPARE(fileValues(config()->configFilePath()).size(), 25);
}

void TestSetupConfig::missingKeysAreCompletedAndPresentOnesRead()
{
    TestSupport::TempAppDir app;
    app.writeIni("[MediaServer]\n"
                 "Param=-c my.conf\n"
                 "RecordCount=500\n"
                 "[Font]\n"
                 "Size=20\n"
                 "[Mysql]\n"
                 "Init=my_init.sql\n"
                 "Password=secret\n"
                 "[SetupRedisParam]\n"
                 "State=false\n");
    app.initialize();

    // Present keys are read.
    QCOMPARE(config()->mediaServerParam().param, QStringLiteral("-c my.conf"));
    QCOMPARE(config()->mediaServerParam().recordCount, 500);
    QCOMPARE(config()->fontSize(), 20);
    QCOMPARE(scriptName(config()->initSqlPath()), QStringLiteral("my_init.sql"));
    QCOMPARE(config()->mysqlParam().password, QStringLiteral("secret"));
    QCOMPARE(config()->setupRedisParam().state, false);

    // Missing ones keep their defaults in memory and are added to the file,
    // while the present ones stay as the operator wrote them.
    const QMap<QString, QString> values = fileValues(app.iniPath());
    QCOMPARE(values.size(), 25);
    for (const KeyDefault &d : kDefaults) {
        const QString key = QString::fromLatin1(d.key);
        QVERIFY2(values.contains(key), d.key);
        static const QMap<QString, QString> present = {
            {QStringLiteral("/MediaServer/Param"), QStringLiteral("-c my.conf")},
            {QStringLiteral("/MediaServer/RecordCount"), QStringLiteral("500")},
            {QStringLiteral("/Font/Size"), QStringLiteral("20")},
            {QStringLiteral("/Mysql/Init"), QStringLiteral("my_init.sql")},
            {QStringLiteral("/Mysql/Password"), QStringLiteral("secret")},
            {QStringLiteral("/SetupRedisParam/State"), QStringLiteral("false")},
        };
        const QString expected = present.value(key, QString::fromUtf8(d.text));
        QVERIFY2(values.value(key) == expected, d.key);
        QVERIFY2(memberValue(key).toString() == expected, d.key);
    }
}

void TestSetupConfig::addedKeysAreReadByALaterStart()
{
    TestSupport::TempAppDir app;
    app.writeIni("[Font]\nSize=30\n");
    app.initialize();
    QCOMPARE(config()->waitProcess(), 4);

    // The keys the completion pass added are ordinary keys from now on.
    editFile(app.iniPath(), {{QStringLiteral("/Time/WaitProcess"), QStringLiteral("17")},
                             {QStringLiteral("/SetupMysql/CmdStr"), QStringLiteral("start mysqld")},
                             {QStringLiteral("/Mysql/Clean"), QStringLiteral("wipe.sql")}});
    app.initialize();
    QCOMPARE(config()->waitProcess(), 17);
    QCOMPARE(config()->setupMysqlParam().cmdStr, QStringLiteral("start mysqld"));
    QCOMPARE(scriptName(config()->cleanSqlPath()), QStringLiteral("wipe.sql"));
    QCOMPARE(config()->fontSize(), 30);
    QCOMPARE(fileValues(app.iniPath()).size(), 25);
}

void TestSetupConfig::emptyStringsStayEmpty_data()
{
    QTest::addColumn<QString>("key");
    // String keys with a default that an empty value must not bring back,
    // plus one whose default is empty anyway.
    const char *keys[] = {"/MediaServer/ProgramPath", "/MediaServer/Param", "/SipServer/ProgramPath",
                          "/SipServer/Param", "/Mysql/Init", "/Mysql/HostName", "/Mysql/Password",
                          "/SetupMysql/CmdPath", "/SetupMysql/CmdStr", "/SetupRedisParam/Path",
                          "/SetupRedisParam/WorkDir", "/SetupRedisParam/Parameter"};
    for (const char *key : keys)
        QTest::newRow(key) << QString::fromLatin1(key);
}

void TestSetupConfig::emptyStringsStayEmpty()
{
    QFETCH(QString, key);
    const QByteArray k = key.toLatin1();

    TestSupport::TempAppDir app;
    app.writeIni("[" + section(k.constData()) + "]\n" + name(k.constData()) + "=\n");
    app.initialize();

    QCOMPARE(memberValue(key).toString(), QString());
    QCOMPARE(fileValues(app.iniPath()).value(key, QStringLiteral("<missing>")), QString());
}

// The file holds the database password in clear text.
void TestSetupConfig::passwordFileIsTheOwnersAlone()
{
#if defined(Q_OS_WIN)
    QSKIP("Windows: the installer's folder permissions protect config\\");
#else
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QFileDevice::Permissions groupRead = ownerOnly | QFileDevice::ReadGroup;
    TestSupport::TempAppDir app;
    app.initialize();
    // Owner, group and others (the "user" bits repeat the owner's for root).
    const auto mode = [&app] { return QFile::permissions(app.iniPath()) & 0xF0FF; };
    QCOMPARE(mode(), ownerOnly);
    // A mode its owner chose stays through a save.
    QVERIFY(QFile::setPermissions(app.iniPath(), groupRead));
    QVERIFY(config()->saveMediaServerParam({QStringLiteral("/x"), QString(), QStringLiteral("changed"), 10}));
    QCOMPARE(mode(), groupRead);
#endif
}

void TestSetupConfig::stopGraceBounds_data()
{
    QTest::addColumn<QByteArray>("text");   // empty: no key
    QTest::addColumn<int>("seconds");
    QTest::addColumn<bool>("ignored");
    QTest::newRow("absent") << QByteArray() << 5 << false;
    QTest::newRow("0") << QByteArray("0") << 0 << false;
    QTest::newRow("600") << QByteArray(" 600 ") << 600 << false;
    QTest::newRow("601") << QByteArray("601") << 5 << true;
    QTest::newRow("-1") << QByteArray("-1") << 5 << true;
    // Once an overflow of the millisecond count: 0.74 s, a kill at once, never.
    QTest::newRow("4294968") << QByteArray("4294968") << 5 << true;
    QTest::newRow("999999999") << QByteArray("999999999") << 5 << true;
    QTest::newRow("2147483") << QByteArray("2147483") << 5 << true;
    QTest::newRow("not a number") << QByteArray("5s") << 5 << true;
}

void TestSetupConfig::stopGraceBounds()
{
    QFETCH(QByteArray, text);
    QFETCH(int, seconds);
    QFETCH(bool, ignored);
    TestSupport::TempAppDir app;
    app.writeIni(text.isNull() ? QByteArray("[Time]\n") : "[Time]\nStopGrace=" + text + "\n");
    app.initialize();
    QCOMPARE(config()->stopGrace(), seconds);
    QCOMPARE(!config()->stopGraceIgnored().isNull(), ignored);
}

void TestSetupConfig::conversions_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("int abc") << "/MediaServer/RecordCount" << QByteArray("abc") << QVariant(0);
    QTest::newRow("int trailing letters") << "/SipServer/RecordCount" << QByteArray("12abc") << QVariant(0);
    QTest::newRow("int empty") << "/Time/WaitProcess" << QByteArray("") << QVariant(0);
    QTest::newRow("int negative") << "/Time/WaitProcess" << QByteArray("-3") << QVariant(-3);
    QTest::newRow("font size 100 as is") << "/Font/Size" << QByteArray("100") << QVariant(100);
    QTest::newRow("font size 8 as is") << "/Font/Size" << QByteArray("8") << QVariant(8);
    QTest::newRow("font size abc") << "/Font/Size" << QByteArray("abc") << QVariant(0);
    QTest::newRow("bool no") << "/SetupMysql/State" << QByteArray("no") << QVariant(true);
    QTest::newRow("bool off") << "/SetupMysql/State" << QByteArray("off") << QVariant(true);
    QTest::newRow("bool 1") << "/SetupMysql/State" << QByteArray("1") << QVariant(true);
    QTest::newRow("bool true") << "/SetupMysql/State" << QByteArray("true") << QVariant(true);
    QTest::newRow("bool false") << "/SetupMysql/State" << QByteArray("false") << QVariant(false);
    QTest::newRow("bool FALSE") << "/SetupMysql/State" << QByteArray("FALSE") << QVariant(false);
    QTest::newRow("bool False") << "/SetupRedisParam/State" << QByteArray("False") << QVariant(false);
    QTest::newRow("bool 0") << "/SetupRedisParam/State" << QByteArray("0") << QVariant(false);
    QTest::newRow("bool empty") << "/SetupRedisParam/State" << QByteArray("") << QVariant(false);
    QTest::newRow("string digits") << "/MediaServer/Param" << QByteArray("42") << QVariant(QStringLiteral("42"));
    QTest::newRow("string false") << "/Mysql/Password" << QByteArray("false") << QVariant(QStringLiteral("false"));
}

void TestSetupConfig::conversions()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, text);
    QFETCH(QVariant, expected);
    const QByteArray k = key.toLatin1();

    TestSupport::TempAppDir app;
    app.writeIni("[" + section(k.constData()) + "]\n" + name(k.constData()) + "=" + text + "\n");
    app.initialize();

    const QVariant actual = memberValue(key);
    QCOMPARE(actual.userType(), expected.userType());
    QCOMPARE(actual, expected);
    // The operator's text stays in the file; reading never rewrites it.
    QCOMPARE(fileValues(app.iniPath()).value(key), QString::fromLatin1(text));
}

void TestSetupConfig::saveWritesOnlyItsOwnKeys_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QStringList>("ownKeys");
    QTest::addColumn<QStringList>("ownValues");

    QTest::newRow("media server")
        << "media"
        << QStringList{"/MediaServer/ProgramPath", "/MediaServer/WorkPath", "/MediaServer/Param"}
        << QStringList{"/opt/媒体/MediaServer", "/opt/媒体", "-c media.ini"};
    QTest::newRow("sip server")
        << "sip"
        << QStringList{"/SipServer/ProgramPath", "/SipServer/WorkPath", "/SipServer/Param"}
        << QStringList{"/usr/bin/java", "", "-jar other.jar --debug"};
    QTest::newRow("font size") << "font" << QStringList{"/Font/Size"} << QStringList{"33"};
}

void TestSetupConfig::saveWritesOnlyItsOwnKeys()
{
    QFETCH(QString, which);
    QFETCH(QStringList, ownKeys);
    QFETCH(QStringList, ownValues);

    TestSupport::TempAppDir app;
    app.initialize();

    // Hand edits to every key after the start, plus a key the launcher does
    // not know: a save must carry none of its in-memory values over them.
    QMap<QString, QString> edits;
    int n = 500;
    for (const KeyDefault &d : kDefaults) {
        const QString key = QString::fromLatin1(d.key);
        const QVariant current = memberValue(key);
        if (current.userType() == QMetaType::Int)
            edits.insert(key, QString::number(++n));
        else if (current.userType() == QMetaType::Bool)
            edits.insert(key, QStringLiteral("false"));
        else
            edits.insert(key, QStringLiteral("hand ") + key);
    }
    edits.insert(QStringLiteral("/Hand/Note"), QStringLiteral("kept"));
    editFile(app.iniPath(), edits);
    QCOMPARE(fileValues(app.iniPath()), edits);

    ServerParam p;
    if (which != QLatin1String("font")) {
        p.programPath = ownValues.at(0);
        p.workPath = ownValues.at(1);
        p.param = ownValues.at(2);
        p.recordCount = 77; // differs from the file's hand-edited RecordCount
    }
    if (which == QLatin1String("media"))
        config()->saveMediaServerParam(p);
    else if (which == QLatin1String("sip"))
        config()->saveSipServerParam(p);
    else
        config()->saveFontSize(ownValues.at(0).toInt());

    QMap<QString, QString> expected = edits;
    for (int i = 0; i < ownKeys.size(); ++i)
        expected.insert(ownKeys.at(i), ownValues.at(i));
    QCOMPARE(fileValues(app.iniPath()), expected);

    // The saved record is taken over whole, record limit included; nothing
    // else is re-read from the file.
    if (which == QLatin1String("font")) {
        QCOMPARE(config()->fontSize(), 33);
    } else {
        const bool media = which == QLatin1String("media");
        const ServerParam saved = media ? config()->mediaServerParam() : config()->sipServerParam();
        const ServerParam other = media ? config()->sipServerParam() : config()->mediaServerParam();
        QCOMPARE(saved.programPath, p.programPath);
        QCOMPARE(saved.workPath, p.workPath);
        QCOMPARE(saved.param, p.param);
        QCOMPARE(saved.recordCount, 77);
        QCOMPARE(other.recordCount, 10000);
        QCOMPARE(config()->fontSize(), 12);
    }
    QCOMPARE(config()->waitProcess(), 4);
}

void TestSetupConfig::scriptPaths_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("defaults") << QByteArray("[Font]\nSize=12\n")
                              << QStringList{"init.sql", "update.sql", "clean.sql"};
    QTest::newRow("own names") << QByteArray("[Mysql]\nInit=a.sql\nUpdate=b.sql\nClean=c.sql\n")
                               << QStringList{"a.sql", "b.sql", "c.sql"};
    QTest::newRow("SipServer names have no effect")
        << QByteArray("[Mysql]\nInit=a.sql\nUpdate=b.sql\n[SipServer]\nInit=x.sql\nUpdate=y.sql\nClean=z.sql\n")
        << QStringList{"a.sql", "b.sql", "clean.sql"};
    QTest::newRow("sub folder") << QByteArray("[Mysql]\nInit=v2/init.sql\n")
                                << QStringList{"v2/init.sql", "update.sql", "clean.sql"};
}

void TestSetupConfig::scriptPaths()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, names);

    TestSupport::TempAppDir app;
    app.writeIni(ini);
    app.initialize();

    const QString dir = app.path() + QStringLiteral("/config/mysql/");
    QCOMPARE(config()->initSqlPath(), dir + names.at(0));
    QCOMPARE(config()->updateSqlPath(), dir + names.at(1));
    QCOMPARE(config()->cleanSqlPath(), dir + names.at(2));
}

void TestSetupConfig::handWrittenTextIsReadAsWritten_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");   // the text after "=", as typed into the file
    QTest::addColumn<QString>("expected");

    const auto same = [](const char *name, const char *key, const QString &text) {
        QTest::newRow(name) << QString::fromLatin1(key) << text << text;
    };
    same("commas", "/SipServer/Param", QStringLiteral("-jar wvp.jar -Dspring.profiles.active=dev,mysql"));
    same("password with comma", "/Mysql/Password", QStringLiteral("abc,123"));
    same("semicolon", "/SipServer/Param", QStringLiteral("-cp D:/wvp/wvp.jar;old"));
    same("quotes", "/MediaServer/Param", QStringLiteral("\"media server.ini\" -x \"\""));
    same("blanks at both ends", "/Mysql/Password", QStringLiteral("  pw  "));
    same("backslash path", "/SetupMysql/MysqlPath", QStringLiteral("C:\\new\\table\\xampp\\bin"));
    same("at sign", "/Mysql/UserName", QStringLiteral("@ByteArray(x)"));
    same("non-ASCII", "/SetupRedisParam/WorkDir", QStringLiteral("D:/视频 平台/缓存"));
    // What QSettings, and so earlier versions, wrote.
    QTest::newRow("quoted by QSettings") << "/SipServer/Param" << QStringLiteral("\"-jar x.jar --a=b\"")
                                         << QStringLiteral("-jar x.jar --a=b");
    QTest::newRow("escaped by QSettings") << "/SipServer/ProgramPath" << QStringLiteral("C:\\\\Java\\\\bin\\\\java")
                                          << QStringLiteral("C:\\Java\\bin\\java");
}

void TestSetupConfig::handWrittenTextIsReadAsWritten()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    const QByteArray k = key.toLatin1();
    const QByteArray line = name(k.constData()) + '=' + stored.toUtf8() + "\r\n";

    TestSupport::TempAppDir app;
    app.writeIni("; hand-made\r\n[" + section(k.constData()) + "]\r\n" + line);
    app.initialize();
    QCOMPARE(memberValue(key).toString(), expected);

    // Completing the file and saving other keys leave the line as it was.
    config()->saveFontSize(20);
    if (key.startsWith(QLatin1String("/MediaServer")))
        config()->saveSipServerParam(config()->sipServerParam());
    else
        config()->saveMediaServerParam(config()->mediaServerParam());
    QFile file(app.iniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.startsWith("; hand-made\r\n") && bytes.contains("]\r\n" + line), bytes.constData());
    QCOMPARE(fileValues(app.iniPath()).size(), 25);
    app.initialize();
    QCOMPARE(memberValue(key).toString(), expected);
}

void TestSetupConfig::savedTextReadsBackExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("commas and =") << QStringLiteral("-Dspring.profiles.active=dev,mysql");
    QTest::newRow("semicolon") << QStringLiteral("-cp a.jar;b.jar");
    QTest::newRow("quotes") << QStringLiteral("\"media server.ini\" \"a,b\" \\\"");
    QTest::newRow("whole text quoted") << QStringLiteral("\"-Dname=a b\"");
    QTest::newRow("leading blanks") << QStringLiteral("  -x ");
    QTest::newRow("backslashes") << QStringLiteral("C:\\new\\\\x0a\\");
    QTest::newRow("control characters") << QStringLiteral("a\tb\nc\r\x01" "9");
    QTest::newRow("at sign") << QStringLiteral("@@x");
    QTest::newRow("non-ASCII") << QStringLiteral("-名称 测试,国标;平台");
    QTest::newRow("100 kB") << QStringLiteral("-Dx=a,b;c ").repeated(10240);
}

void TestSetupConfig::savedTextReadsBackExactly()
{
    QFETCH(QString, text);
    TestSupport::TempAppDir app;
    app.initialize();
    config()->saveSipServerParam({text, text, text, 10});

    app.initialize();
    const ServerParam read = config()->sipServerParam();
    QCOMPARE(read.programPath, text);
    QCOMPARE(read.workPath, text);
    QCOMPARE(read.param, text);
    // The file stays one QSettings reads the same way.
    QCOMPARE(fileValues(app.iniPath()).value(QStringLiteral("/SipServer/Param")), text);
}

void TestSetupConfig::chineseTextIsReadAsUtf8()
{
    TestSupport::TempAppDir app;
    app.writeIni(QStringLiteral("[Mysql]\nPassword=密码七四九\n"
                                "[MediaServer]\nProgramPath=D:/视频平台/媒体服务.exe\n")
                     .toUtf8());
    app.initialize();
    QCOMPARE(config()->mysqlParam().password, QStringLiteral("密码七四九"));
    QCOMPARE(config()->mediaServerParam().programPath, QStringLiteral("D:/视频平台/媒体服务.exe"));
}

void TestSetupConfig::chineseTextIsWrittenAsUtf8()
{
    TestSupport::TempAppDir app;
    app.initialize();

    const ServerParam p{QStringLiteral("/srv/国标/信令服务"), QStringLiteral("/srv/国标"),
                        QStringLiteral("-名称 测试"), 10};
    config()->saveSipServerParam(p);

    QFile file(app.iniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.contains("ProgramPath=" + p.programPath.toUtf8()), bytes.constData());
    QVERIFY2(bytes.contains("WorkPath=" + p.workPath.toUtf8()), bytes.constData());
    QVERIFY2(bytes.contains("Param=" + p.param.toUtf8()), bytes.constData());

    app.initialize();
    QCOMPARE(config()->sipServerParam().programPath, p.programPath);
    QCOMPARE(config()->sipServerParam().workPath, p.workPath);
    QCOMPARE(config()->sipServerParam().param, p.param);
}

// A value saved by Notepad on a Chinese Windows (GBK): read in the system's
// code page, and its bytes left alone by saves that do not change it.
void TestSetupConfig::handWrittenGbkIsReadAndKept()
{
    const QByteArray gbkLine = "Param=-\xc3\xfb\xb3\xc6 \xb2\xe2\xca\xd4";   // "-名称 测试"
    TestSupport::TempAppDir app;
    app.writeIni("[SipServer]\nProgramPath=./sip\n" + gbkLine + "\nWorkPath=\n");
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) && !defined(Q_OS_WIN)
    // The code page a Chinese Windows has; elsewhere the locale's is UTF-8.
    QTextCodec *const previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("GBK"));
    const auto restore = qScopeGuard([previous] { QTextCodec::setCodecForLocale(previous); });
#endif
    app.initialize();
    ServerParam p = config()->sipServerParam();
    if (OutputDecoding::fromSystemCodePage("\xc3\xfb\xb3\xc6", __FILE__) == QStringLiteral("名称"))
        QCOMPARE(p.param, QStringLiteral("-名称 测试"));
    else
        qInfo("The system code page is not GBK here: only the bytes are checked.");
    QVERIFY(config()->saveSipServerParam(p));
    p.programPath = QStringLiteral("./sip2");
    QVERIFY(config()->saveSipServerParam(p));
    QFile file(app.iniPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.contains(gbkLine + "\n"), bytes.constData());
    QVERIFY(bytes.contains("ProgramPath=./sip2"));
}

void TestSetupConfig::unreadableFileYieldsDefaults()
{
    // A folder where the file should be: it can be neither read nor written,
    // whoever runs the test.
    TestSupport::TempAppDir app;
    app.writeIni("[Font]\nSize=40\n");
    app.initialize();
    QCOMPARE(config()->fontSize(), 40);
    QVERIFY(QFile::remove(app.iniPath()));
    QVERIFY(QDir().mkpath(app.iniPath()));

    app.initialize();
    for (const KeyDefault &d : kDefaults)
        QVERIFY2(memberValue(QString::fromLatin1(d.key)).toString() == QString::fromUtf8(d.text), d.key);
    QVERIFY(QFileInfo(app.iniPath()).isDir());
}

QTEST_GUILESS_MAIN(TestSetupConfig)
#include "tst_setupconfig.moc"
