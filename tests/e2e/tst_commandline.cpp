// Each program's --help, --version and a bad option: the exit status and
// output that help2man and scripts rely on, with no display, no session bus
// and an empty settings folder that must stay empty (no store, no lock). The
// panel would only open its port from its window, which would never exit.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void endsBeforeTouchingAnything_data();
    void endsBeforeTouchingAnything();
};

void TestCommandLine::endsBeforeTouchingAnything_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // What the whole of standard output must match.
    QTest::addColumn<QString>("output");

    const QString version = QStringLiteral(" " KESMAR_PROJECT_VERSION "\n").replace('.', QStringLiteral("\\."));
    const struct
    {
        const char *name;
        QString path;
    } programs[] = {{"kesmarcontrol", QStringLiteral(KESMARCONTROL_PATH)},
                    {"kesmar", QStringLiteral(KESMAR_CLIENT_PATH)},
                    {"kesmarsim", QStringLiteral(KESMARSIM_PATH)}};
    for (const auto &p : programs) {
        const QString name = QString::fromLatin1(p.name);
        QTest::addRow("%s --help", p.name)
            << p.path << QStringList{"--help"} << 0 << QStringLiteral("Usage: \\S*%1 .*").arg(name);
        QTest::addRow("%s --version", p.name) << p.path << QStringList{"--version"} << 0 << name + version;
        QTest::addRow("%s --no-such-option", p.name) << p.path << QStringList{"--no-such-option"} << 2 << QString();
    }
    QTest::newRow("kesmarcontrol -h") << QStringLiteral(KESMARCONTROL_PATH) << QStringList{"-h"} << 0
                                      << QStringLiteral("Usage: \\S*kesmarcontrol .*");
    // Refused before any panel is looked for: a name of bytes that are not UTF-8.
    QTest::newRow("kesmar store, not UTF-8")
        << QStringLiteral("/bin/sh")
        << QStringList{"-c", "exec \"$0\" store \"$(printf 'Site\\377')\"", KESMAR_CLIENT_PATH} << 2 << QString();
    QTest::newRow("kesmar journal -n -1")
        << QStringLiteral(KESMAR_CLIENT_PATH) << QStringList{"journal", "-n", "-1"} << 2 << QString();
    QTest::newRow("kesmar journal -n ten")
        << QStringLiteral(KESMAR_CLIENT_PATH) << QStringList{"journal", "-n", "ten"} << 2 << QString();
    QTest::newRow("kesmarcontrol stray argument")
        << QStringLiteral(KESMARCONTROL_PATH) << QStringList{"/dev/ttyS0"} << 2 << QString();
}

void TestCommandLine::endsBeforeTouchingAnything()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QTemporaryDir config;
    QVERIFY(config.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY2(process.waitForFinished(60000), "still running");
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode,
             qPrintable(QStringLiteral("exit %1: %2").arg(process.exitCode()).arg(err)));
    const QRegularExpression expected(QRegularExpression::anchoredPattern(output),
                                      QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(expected.match(out).hasMatch(), qPrintable(out));
    // A usage error says what to do on standard error.
    QCOMPARE(err.contains(QStringLiteral("--help")), exitCode == 2);
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
