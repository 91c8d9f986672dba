// Only the operator's explicit acts move the manipulator, once per act, and
// the device box shows the device that is driven.
#include "fakekesmarctl.h"
#include "fakelibrarytest.h"
#include "positionview.h"
#include "testsettings.h"

#include <QCheckBox>
#include <QLCDNumber>
#include <QtTest>

#include <functional>

using namespace PositionView;

using Act = std::function<void(KesmarControl &)>;
Q_DECLARE_METATYPE(Act)

class TestOperatorSafety : public FakeLibraryTest
{
    Q_OBJECT

private slots:
    void onlyExplicitActsMove_data();
    void onlyExplicitActsMove();
};

namespace {

void click(KesmarControl &w, const char *button)
{
    widget<QPushButton>(w, button)->click();
}

// The library calls made so far, as "open" and "select <id>", the latter
// marked when made without a connection.
QStringList startCalls()
{
    QStringList out;
    for (const Fake::Call &call : Fake::calls()) {
        if (call.name == QLatin1String("open"))
            out << call.name;
        else if (call.name == QLatin1String("select_dev"))
            out << QStringLiteral("select %1%2")
                       .arg(call.args[1].toInt())
                       .arg(call.args[0].toULongLong() ? "" : " offline");
    }
    return out;
}

// The targets sent, "id: x y z" per store call directly followed by its goto.
QStringList sent()
{
    QStringList out;
    const QList<Fake::Call> calls = Fake::calls();
    for (int i = 0; i < calls.size(); ++i) {
        const QVariantList a = calls[i].args;
        if (calls[i].name != QLatin1String("store_mem_position_ext"))
            continue;
        const bool goes = i + 1 < calls.size() && calls[i + 1].name == QLatin1String("goto_mem_position_ext");
        out << QStringLiteral("%1: %2 %3 %4%5")
                   .arg(a[1].toInt())
                   .arg(a[2].toInt())
                   .arg(a[3].toInt())
                   .arg(a[4].toInt())
                   .arg(goes ? "" : " (no goto)");
    }
    return out;
}

QVector<int> values(KesmarControl &w, const char *prefix)
{
    QVector<int> v;
    for (const char axis : {'X', 'Y', 'Z'}) {
        const QString name = QLatin1String(prefix) + QLatin1Char(axis);
        const QObject *o = w.findChild<QObject *>(name);
        v << o->property("value").toInt();
    }
    return v;
}

} // namespace

void TestOperatorSafety::onlyExplicitActsMove_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("refused"); // a device id whose selection fails; none without a connection succeeds
    QTest::addColumn<int>("chosen"); // entry chosen before Follow Target is set, -1 none
    QTest::addColumn<bool>("follow");
    QTest::addColumn<Act>("act");
    QTest::addColumn<QStringList>("start");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QVector<int>>("targets");
    QTest::addColumn<int>("device"); // the box
    QTest::addColumn<int>("index"); // the list's current entry

    const QByteArray entries = "[positions]\n1\\name=a\n1\\x=1\n1\\y=1\n1\\z=1\n2\\name=b\n2\\x=2\n2\\y=2\n2\\z=2\n"
                               "3\\name=c\n3\\x=3\n3\\y=3\n3\\z=3\nsize=3\n";
    const Act pressGoto = [](KesmarControl &w) {
        click(w, "pushButtonGoto");
    };
    const Act show567 = [](KesmarControl &w) {
        widget<QLCDNumber>(w, "lcdNumberX")->display(5);
        widget<QLCDNumber>(w, "lcdNumberY")->display(6);
        widget<QLCDNumber>(w, "lcdNumberZ")->display(7);
        click(w, "pushButtonCopy");
    };
    const Act copy567 = [](KesmarControl &w) {
        // Polling on and a good poll make the reading live.
        Fake::script().position = {0, 5, 6, 7};
        w.link().resumePolling();
        w.link().poll();
        click(w, "pushButtonCopy");
    };
    const QStringList open1{"open", "select 49"};
    const QVector<int> start{0, 0, 10000};

    QTest::newRow("stored device 2 is shown and driven")
        << QByteArray("[settings]\ndev=2\n") << 0 << -1 << false << pressGoto << QStringList{"open", "select 50"}
        << QStringList{"50: 0 0 10000"} << start << 2 << -1;
    QTest::newRow("stored device out of range starts as 1")
        << QByteArray("[settings]\ndev=150\n") << 0 << -1 << false << pressGoto << open1 << QStringList{"49: 0 0 10000"}
        << start << 1 << -1;
    QTest::newRow("stored device not a number starts as 1")
        << QByteArray("[settings]\ndev=two\n") << 0 << -1 << false << pressGoto << open1 << QStringList{"49: 0 0 10000"}
        << start << 1 << -1;
    QTest::newRow("refused after the open: falls back to 1 and drives 1")
        << QByteArray("[settings]\ndev=2\n") << 50 << -1 << false << pressGoto
        << QStringList{"open", "select 50", "select 49"} << QStringList{"49: 0 0 10000"} << start << 1 << -1;
    QTest::newRow("rename keeps the selection and sends nothing")
        << entries << 0 << 1 << true << Act([](KesmarControl &w) { store(w, {rec("bee", 2, 2, 2)}); }) << open1
        << QStringList() << QVector<int>{2, 2, 2} << 1 << 1;
    QTest::newRow("remove under Follow Target sends nothing")
        << entries << 0 << 1 << true << Act([](KesmarControl &w) { click(w, "pushButtonRemove"); }) << open1
        << QStringList() << QVector<int>{2, 2, 2} << 1 << 1;
    QTest::newRow("a typed value is sent once, when committed")
        << QByteArray() << 0 << -1 << true << Act([](KesmarControl &w) {
               QSpinBox *x = widget<QSpinBox>(w, "targetX");
               x->selectAll();
               QTest::keyClicks(x, QStringLiteral("19000"));
               QTest::keyClick(x, Qt::Key_Enter);
           })
        << open1 << QStringList{"49: 19000 0 10000"} << QVector<int>{19000, 0, 10000} << 1 << -1;
    QTest::newRow("Copy sends the whole target once") << QByteArray() << 0 << -1 << true << copy567 << open1
                                                      << QStringList{"49: 5 6 7"} << QVector<int>{5, 6, 7} << 1 << -1;
    QTest::newRow("Copy without a live reading sends nothing")
        << QByteArray() << 0 << -1 << true << show567 << open1 << QStringList() << start << 1 << -1;
}

void TestOperatorSafety::onlyExplicitActsMove()
{
    QFETCH(QByteArray, store);
    QFETCH(int, refused);
    QFETCH(int, chosen);
    QFETCH(bool, follow);
    QFETCH(Act, act);
    QFETCH(QStringList, start);
    QFETCH(QStringList, sent);
    QFETCH(QVector<int>, targets);
    QFETCH(int, device);
    QFETCH(int, index);

    if (!store.isEmpty())
        TestSettings::writeStore(store);
    // Like the real library, nothing can be selected without a connection.
    const auto selection = [refused](uint8_t id) {
        return Fake::calls().last().args[0].toULongLong() && id != refused ? 0 : -1;
    };
    Fake::script().onSelect = selection;
    KesmarControl w;
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    const QStringList started = startCalls();
    w.link().stopPolling();
    if (chosen >= 0)
        widget<QComboBox>(w, "stores")->setCurrentIndex(chosen);
    widget<QCheckBox>(w, "followTarget")->setChecked(follow);
    Fake::reset();
    Fake::script().onSelect = selection;

    act(w);

    QCOMPARE(::sent(), sent);
    QCOMPARE(values(w, "target"), targets);
    QCOMPARE(values(w, "slider"), targets);
    QCOMPARE(widget<QSpinBox>(w, "dev")->value(), device);
    QCOMPARE(widget<QComboBox>(w, "stores")->currentIndex(), index);
    QCOMPARE(started, start);
    w.link().stopPolling();
}

QTEST_MAIN(TestOperatorSafety)
#include "tst_operatorsafety.moc"
