#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

#if !defined(Q_OS_WIN)
// The program a desktop session runs for an Exec= line, as freedesktop.org
// desktop entries are read: string escapes, then one quoted argument.
QString programOf(const QString &line)
{
    QString value;
    for (int i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('\\') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('\\'))
            ++i;
        value += line.at(i);
    }
    if (!value.startsWith(QStringLiteral("Exec=\"")) || !value.endsWith(QLatin1Char('"')))
        return QString();
    value = value.mid(6).chopped(1);
    QString program;
    for (int i = 0; i < value.size(); ++i) {
        if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size())
            ++i;
        else if (value.at(i) == QLatin1Char('%') && i + 1 < value.size())
            ++i;   // "%%"
        program += value.at(i);
    }
    return program;
}
#endif

} // namespace

// "登录时启动": the launcher registered to start when its user logs in, and
// removed again; nothing else of the user's is touched.
class tst_LoginStart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void registersAndRemoves_data();
    void registersAndRemoves();

private:
    QTemporaryDir config;
};

void tst_LoginStart::initTestCase()
{
#if !defined(Q_OS_WIN)
    // The user's own autostart folder stays as it is.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
#endif
}

void tst_LoginStart::registersAndRemoves_data()
{
    QTest::addColumn<QString>("program");
#if defined(Q_OS_WIN)
    QTest::newRow("plain") << QStringLiteral("C:/Tessarin/tessarin.exe");
    QTest::newRow("blank") << QStringLiteral("C:/Program Files/Orvane Tessarin/tessarin.exe");
#else
    QTest::newRow("plain") << QStringLiteral("/usr/lib/tessarin/tessarin");
    QTest::newRow("blank") << QStringLiteral("/opt/my platform/tessarin");
    QTest::newRow("shell characters") << QStringLiteral("/opt/a\"b$c`d\\e 100%/tessarin");
#endif
}

void tst_LoginStart::registersAndRemoves()
{
    QFETCH(QString, program);
    const QString other = QStringLiteral("/opt/other/tessarin");
    QVERIFY(!Platform::startsAtLogin(program));
    QVERIFY(Platform::setStartAtLogin(program, true));
    QVERIFY(Platform::startsAtLogin(program));
    QVERIFY(!Platform::startsAtLogin(other));
#if !defined(Q_OS_WIN)
    QFile entry(config.path() + QStringLiteral("/autostart/tessarin.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    const auto exec = std::find_if(lines.begin(), lines.end(), [](const QString &l) { return l.startsWith(QStringLiteral("Exec=")); });
    QVERIFY(exec != lines.end());
    QCOMPARE(programOf(*exec), program);
#endif
    QVERIFY(Platform::setStartAtLogin(program, false));
    QVERIFY(!Platform::startsAtLogin(program));
    QVERIFY(Platform::setStartAtLogin(program, false));   // already gone: fine
}

QTEST_GUILESS_MAIN(tst_LoginStart)
#include "tst_loginstart.moc"
