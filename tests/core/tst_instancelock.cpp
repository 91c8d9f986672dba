// One program per store: what is found at the lock's place decides whether
// this program runs and saves, runs without saving, or leaves it to the one
// running.
#include "instancelock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    void lock_data()
    {
        QTest::addColumn<QString>("found"); // what is at the lock's place before
        QTest::addColumn<int>("result");

        QTest::newRow("nothing") << "" << int(InstanceLock::Result::Locked);
        QTest::newRow("held by a running program") << "held" << int(InstanceLock::Result::HeldByOther);
        QTest::newRow("left by a program that is gone") << "gone" << int(InstanceLock::Result::Locked);
        QTest::newRow("empty") << "empty" << int(InstanceLock::Result::Locked);
        QTest::newRow("garbage") << "garbage" << int(InstanceLock::Result::Locked);
        QTest::newRow("a folder in its way") << "folder" << int(InstanceLock::Result::Failed);
    }

    void lock()
    {
        QFETCH(QString, found);
        QFETCH(int, result);
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("orvex.conf"));
        InstanceLock first(store);
        InstanceLock lock(store);
        const QString path = lock.fileName();
        QFile file(path);
        if (found == QLatin1String("held")) {
            QCOMPARE(first.lock(), InstanceLock::Result::Locked);
        } else if (found == QLatin1String("gone")) {
            // A process of this machine that has ended.
            QProcess ended;
            ended.start(QStringLiteral("sleep"), QStringList{QStringLiteral("60")});
            QVERIFY(ended.waitForStarted(10000));
            const qint64 gone = ended.processId();
            ended.kill();
            QVERIFY(ended.waitForFinished(10000));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray::number(gone) + "\nkesmarcontrol\n" + QSysInfo::machineHostName().toUtf8() + "\n");
            file.close();
        } else if (found == QLatin1String("empty") || found == QLatin1String("garbage")) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(found == QLatin1String("garbage") ? QByteArray("\x01\xffnot a lock\n") : QByteArray());
            file.close();
        } else if (found == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        }
        QCOMPARE(int(lock.lock()), result);
        if (result == int(InstanceLock::Result::HeldByOther))
            QCOMPARE(lock.runningPid(), QCoreApplication::applicationPid());
        QCOMPARE(lock.failure().isEmpty(), result != int(InstanceLock::Result::Failed));
    }
};

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
