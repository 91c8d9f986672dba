// The scripting interface against the test double: what each call answers,
// error names included, seen over the session bus (the test runs under
// dbus-run-session).
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "kesmarbus.h"
#include "kesmarcontrol.h"
#include "scriptbridge.h"
#include "testsettings.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <functional>
#include <memory>

using Setup = std::function<void(KesmarControl &)>;
Q_DECLARE_METATYPE(Setup)

class TestScriptBridge : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void cleanup() { QDir(TestSettings::storeFile()).removeRecursively(); }
    void answers_data();
    void answers();
};

void TestScriptBridge::answers_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QString>("error"); // empty for success
    QTest::addColumn<QString>("message"); // part of the error's text
    QTest::addColumn<int>("deviceAfter");

    const Setup nothing = [](KesmarControl &) {
    };
    const Setup selectFails = [](KesmarControl &) {
        Fake::script().onSelect = [](uint8_t id) {
            return id == 50 ? -1 : 0;
        };
    };
    const Setup staleReading = [](KesmarControl &w) {
        // Polling runs, but its polls come from the test.
        w.link().setPollInterval(3600 * 1000);
        w.link().resumePolling();
        w.link().poll();
        Fake::script().position.result = -1;
        w.link().poll();
    };
    const Setup reopened = [](KesmarControl &w) {
        w.link().reconnect();
        w.link().stopPolling();
    };
    const Setup storeUnwritable = [](KesmarControl &) {
        QFile::remove(TestSettings::storeFile());
        QVERIFY(QDir().mkpath(TestSettings::storeFile()));
    };
    const QString failed = KesmarBus::errorFailed;
    QTest::newRow("device out of range") << nothing << "SelectDevice" << QVariantList{150} << KesmarBus::errorOutOfRange
                                         << "Device 150 is outside 0..99" << 1;
    QTest::newRow("device selected") << nothing << "SelectDevice" << QVariantList{2} << QString() << QString() << 2;
    QTest::newRow("selection fails: device 1 is driven")
        << selectFails << "SelectDevice" << QVariantList{2} << failed << "Device 2 select failed" << 1;
    QTest::newRow("position when stale") << staleReading << "Position" << QVariantList{} << KesmarBus::errorNoReading
                                         << "is stale" << 1;
    QTest::newRow("position before a reading")
        << reopened << "Position" << QVariantList{} << KesmarBus::errorNoReading << "No reading yet" << 1;
    QTest::newRow("store not saved") << storeUnwritable << "StorePosition" << QVariantList{"A"} << failed
                                     << "Settings not saved" << 1;
    QTest::newRow("store saved") << nothing << "StorePosition" << QVariantList{"A"} << QString() << QString() << 1;
    QTest::newRow("goto out of range") << nothing << "Goto" << QVariantList{0, 20501, 0} << KesmarBus::errorOutOfRange
                                       << "Y 20501 is outside 0..20500" << 1;
    QTest::newRow("unknown position") << nothing << "GotoPosition" << QVariantList{"Nowhere"}
                                      << KesmarBus::errorUnknownPosition << "Nowhere" << 1;
    const Setup zCeiling = [](KesmarControl &w) {
        TravelLimits limits;
        limits.enabled = true;
        limits.max[2] = 15000;
        QVERIFY(w.setLimits(limits).ok());
    };
    QTest::newRow("goto above the ceiling") << zCeiling << "Goto" << QVariantList{0, 0, 16000}
                                            << KesmarBus::errorOutOfRange << "Z 16000 is above the limit 15000" << 1;
    QTest::newRow("limits: a minimum above its maximum")
        << nothing << "SetLimits" << QVariantList{true, 0, 20500, 0, 20500, 9000, 8000} << KesmarBus::errorOutOfRange
        << "Z minimum 9000 is above its maximum 8000" << 1;
    QTest::newRow("retract without a live reading")
        << nothing << "Retract" << QVariantList{} << KesmarBus::errorNoReading << "needs a live reading" << 1;
    QTest::newRow("return before a retract")
        << nothing << "Return" << QVariantList{} << failed << "Nothing to return to" << 1;
}

void TestScriptBridge::answers()
{
    QFETCH(Setup, setup);
    QFETCH(QString, method);
    QFETCH(QVariantList, args);
    QFETCH(QString, error);
    QFETCH(QString, message);
    QFETCH(int, deviceAfter);
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a session bus: run under dbus-run-session");

    KesmarControl w;
    QTRY_VERIFY_WITH_TIMEOUT(w.link().isOpen(), 10000);
    w.link().stopPolling();
    std::unique_ptr<ScriptBridge> bridge(new ScriptBridge(&w));
    QVERIFY(bridge->registerOnSessionBus());
    setup(w);

    QDBusInterface panel(KesmarBus::service, KesmarBus::path, KesmarBus::interface);
    const QDBusMessage reply = panel.callWithArgumentList(QDBus::Block, method, args);
    if (error.isEmpty()) {
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    } else {
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), error);
        QVERIFY2(reply.errorMessage().contains(message), qPrintable(reply.errorMessage()));
    }
    const QDBusMessage device = panel.call(QStringLiteral("Device"));
    QCOMPARE(device.arguments().value(0).toInt(), deviceAfter);
    QCOMPARE(w.link().device(), deviceAfter);
}

QTEST_MAIN(TestScriptBridge)
#include "tst_scriptbridge.moc"
