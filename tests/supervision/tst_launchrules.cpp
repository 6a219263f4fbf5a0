#include "coresupport.h"
#include "processprobe.h"
#include "supervision/launchrules.h"
#include "supervision/serverprocess.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The launch rules and the process tree, without any panel or display.
class tst_LaunchRules : public QObject
{
    Q_OBJECT

private slots:
    void splitArguments_data();
    void splitArguments();
    void workingDirectory_data();
    void workingDirectory();
    void relativePathsStartAtTheLauncher_data();
    void relativePathsStartAtTheLauncher();
    void killTreeEndsGrandchildren();
    void redisPort_data();
    void redisPort();
};

void tst_LaunchRules::splitArguments_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("every single blank") << "-a  -b" << QStringList{"-a", "", "-b"};
    QTest::newRow("commas and semicolons stay") << "-Dp=dev,mysql -cp a.jar;b.jar" << QStringList{"-Dp=dev,mysql", "-cp", "a.jar;b.jar"};
    QTest::newRow("quoted blank") << "-c \"media server.ini\"" << QStringList{"-c", "media server.ini"};
    QTest::newRow("doubled quote inside quotes") << "\"say \"\"hi\"\"\"" << QStringList{"say \"hi\""};
}

void tst_LaunchRules::splitArguments()
{
    QFETCH(QString, text);
    QFETCH(QStringList, arguments);
    QCOMPARE(LaunchRules::splitArguments(text), arguments);
    // What quoting gives back is the same argument.
    for (const QString &argument : arguments)
        QCOMPARE(LaunchRules::splitArguments(LaunchRules::quoteArgument(argument)), QStringList{argument});
}

void tst_LaunchRules::workingDirectory_data()
{
    QTest::addColumn<QString>("field");      // relative to a scratch folder; "@" is the folder itself
    QTest::addColumn<QString>("directory");  // expected, relative likewise ("bin": the program's folder)
    QTest::addColumn<QString>("corrected");  // what the field shows afterwards

    QTest::newRow("empty: the program's folder") << "" << "bin" << "";
    QTest::newRow("missing path is cleared") << "gone" << "bin" << "";
    QTest::newRow("a file means its folder") << "conf/app.ini" << "conf" << "conf";
    QTest::newRow("a directory as typed") << "conf" << "conf" << "conf";
}

void tst_LaunchRules::workingDirectory()
{
    QFETCH(QString, field);
    QFETCH(QString, directory);
    QFETCH(QString, corrected);

    QTemporaryDir scratch;
    QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("bin")) && QDir(scratch.path()).mkpath(QStringLiteral("conf")));
    QFile ini(scratch.filePath(QStringLiteral("conf/app.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    const auto at = [&](const QString &relative) { return relative.isEmpty() ? QString() : scratch.filePath(relative); };

    QString shown;
    const QString dir = LaunchRules::workingDirectory(scratch.filePath(QStringLiteral("bin/server")), at(field), &shown);
    QCOMPARE(QDir(dir).canonicalPath(), QDir(at(directory)).canonicalPath());
    QCOMPARE(QDir::cleanPath(shown), QDir::cleanPath(at(corrected)));
}

// "关闭" must end what the server started, not only the server.
void tst_LaunchRules::relativePathsStartAtTheLauncher_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("underBase");   // expected, relative to the launcher's folder
    QTest::newRow("./program") << "./planted" << "planted";
    QTest::newRow("sub/program") << "bin/../planted" << "planted";
    // Not on PATH: the launcher's folder, not the current one.
    QTest::newRow("bare name") << "planted" << "planted";
}

// The current folder holds a planted program of each name; what runs is the
// launcher's own.
void tst_LaunchRules::relativePathsStartAtTheLauncher()
{
    QFETCH(QString, field);
    QFETCH(QString, underBase);
    QTemporaryDir base, current;
    QVERIFY(base.isValid() && current.isValid());
    QVERIFY(QFile::copy(TestSupport::testHelperPath(), current.filePath(QStringLiteral("planted"))));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(current.path()));
    const QString program = LaunchRules::resolveProgram(field, base.path());
    const QString dir = LaunchRules::resolveDir(QStringLiteral("logs"), base.path());
    QDir::setCurrent(previous);
    QCOMPARE(QDir::cleanPath(program), QDir::cleanPath(base.filePath(underBase)));
    QCOMPARE(QDir::cleanPath(dir), QDir::cleanPath(base.filePath(QStringLiteral("logs"))));
    // Absolute paths and programs on PATH as they are.
    QCOMPARE(LaunchRules::resolveProgram(TestSupport::testHelperPath(), base.path()), TestSupport::testHelperPath());
#if defined(Q_OS_WIN)
    const QString onPath = QStringLiteral("cmd");
#else
    const QString onPath = QStringLiteral("sh");
#endif
    const QString found = LaunchRules::resolveProgram(onPath, base.path());
    QVERIFY2(QDir::isAbsolutePath(found) && !found.startsWith(base.path()), qPrintable(found));
}

void tst_LaunchRules::killTreeEndsGrandchildren()
{
    ServerProcess process;
    process.setProgram(TestSupport::testHelperPath());
    process.setArguments({QStringLiteral("grandchild"), QStringLiteral("forever")});
    QString out;
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [&] { out += QString::fromUtf8(process.readAllStandardOutput()); });
    process.launch();
    QTRY_VERIFY(out.contains(QLatin1Char('\n')));
    const qint64 grandchild = TestSupport::numberAfter(out, QStringLiteral("grandchild"));
    QVERIFY(grandchild > 0);
    QVERIFY(TestSupport::processAlive(grandchild));

    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    process.killTree();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QTRY_VERIFY(!TestSupport::processAlive(grandchild));
}

void tst_LaunchRules::redisPort_data()
{
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QByteArray>("config");     // written as redis.conf in the working directory
    QTest::addColumn<int>("port");

    QTest::newRow("flag") << "--port 7001 --daemonize no" << QByteArray() << 7001;
    QTest::newRow("built-in configuration") << "--daemonize no" << QByteArray() << 6379;
    QTest::newRow("configuration file") << "redis.conf" << QByteArray("bind 127.0.0.1\n  port 6390\r\n") << 6390;
    QTest::newRow("file without port") << "redis.conf" << QByteArray("bind 127.0.0.1\n") << 6379;
    QTest::newRow("port out of range") << "redis.conf" << QByteArray("port 70000\n") << 6379;
    QTest::newRow("missing file") << "absent.conf" << QByteArray() << 6379;
}

void tst_LaunchRules::redisPort()
{
    QFETCH(QString, parameter);
    QFETCH(QByteArray, config);
    QFETCH(int, port);
    QTemporaryDir dir;
    if (!config.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("redis.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(config);
    }
    QCOMPARE(int(LaunchRules::redisPort(parameter, dir.path())), port);
}

QTEST_GUILESS_MAIN(tst_LaunchRules)
#include "tst_launchrules.moc"
