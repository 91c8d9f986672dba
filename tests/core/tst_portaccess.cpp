// The hint for a port this account may not open, seen from an account without
// rights of its own: a child process gives up root's rights before it asks.
#include "portaccess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// portAccessHint(path) as the account "nobody" (outside every group) sees it.
QString hintForNobody(const QString &path)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return QStringLiteral("(no pipe)");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(1);
        const QByteArray hint = portAccessHint(path).toUtf8();
        const bool written = ::write(channel[1], hint.constData(), size_t(hint.size())) == hint.size();
        ::_exit(written ? 0 : 1);
    }
    ::close(channel[1]);
    QByteArray hint;
    char buffer[256];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        hint.append(buffer, int(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? QString::fromUtf8(hint) : QStringLiteral("(child failed)");
}

} // namespace

class TestPortAccess : public QObject
{
    Q_OBJECT

private slots:
    void hint_data();
    void hint();
};

void TestPortAccess::hint_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected"); // %1: the port's path

    QTest::newRow("group may read and write")
        << true << 0660
        << QStringLiteral("add your account to the group dialout, then log in again, or install the udev rule "
                          "70-kesmarcontrol.rules (package kesmarcontrol), which gives the user at the seat the USB "
                          "serial ports");
    QTest::newRow("only the owner may") << true << 0600
                                        << QStringLiteral("ask the administrator for read and write access to %1");
    QTest::newRow("group may only read") << true << 0640
                                         << QStringLiteral("ask the administrator for read and write access to %1");
    QTest::newRow("everyone may") << true << 0666 << QString();
    QTest::newRow("missing") << false << 0 << QString();
}

void TestPortAccess::hint()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to take the rights of an account without access");
    const struct group *dialout = ::getgrnam("dialout");
    if (!dialout)
        QSKIP("no group dialout on this system");
    QFETCH(bool, exists);
    QFETCH(int, mode);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
    const QString port = dir.filePath(QStringLiteral("ttyTEST"));
    if (exists) {
        QFile file(port);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray path = QFile::encodeName(port);
        QCOMPARE(::chown(path.constData(), 0, dialout->gr_gid), 0);
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
    }
    QCOMPARE(hintForNobody(port), expected.contains(QLatin1String("%1")) ? expected.arg(port) : expected);
}

QTEST_GUILESS_MAIN(TestPortAccess)
#include "tst_portaccess.moc"
