// Windows only: what an elevated launcher may load.
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
    // A DLL planted in the current folder is found by the default search
    // order; once the launcher has narrowed it, it is not.
    void plantedDllIsNotLoaded()
    {
        QTemporaryDir planted;
        QVERIFY(planted.isValid());
        // Any real DLL will do; the MinGW runtime is beside every test.
        const QString source = QCoreApplication::applicationDirPath() + QStringLiteral("/libwinpthread-1.dll");
        const QString before = planted.filePath(QStringLiteral("tessarin_planted_a.dll"));
        const QString after = planted.filePath(QStringLiteral("tessarin_planted_b.dll"));
        QVERIFY(QFile::copy(source, before) && QFile::copy(source, after));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(planted.path()));

        HMODULE found = ::LoadLibraryW(L"tessarin_planted_a.dll");
        QVERIFY2(found, "the unrestricted search order does not look in the current folder: the test proves nothing");
        ::FreeLibrary(found);

        Platform::restrictLibrarySearch();
        HMODULE refused = ::LoadLibraryW(L"tessarin_planted_b.dll");
        if (refused)
            ::FreeLibrary(refused);
        QDir::setCurrent(previous);
        QVERIFY(!refused);
        QCOMPARE(QCoreApplication::libraryPaths(),
                 QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/plugins")});
    }
};

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
