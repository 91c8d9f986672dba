// The journal of moves: the ring and its table (newest on top, the cap,
// settling, new rows shown together), the CSV line, and the daily files over real folders (rotation,
// removal by age, a folder that cannot be written).
#include "fakekesmarctl.h"
#include "journal.h"
#include "journalcheck.h"
#include "journalfile.h"
#include "journalmodel.h"
#include "journalwriter.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(JournalRow::Outcome)
Q_DECLARE_METATYPE(JournalRow::End)

namespace {

JournalRow sentRow(int x, qint64 timeMs = 0)
{
    JournalRow row;
    row.timeMs = timeMs;
    row.device = 1;
    row.source = JournalRow::Source::Goto;
    row.before = JournalRow::Xyz{100, 200, 300};
    row.target = {x, 200, 250};
    return row;
}

// The lines of a file, without their ends.
QStringList lines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

qint64 msAt(const QDate &date, int hour)
{
    return QDateTime(date, QTime(hour, 0), Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    // The newest row on top of the table, the oldest going past the cap;
    // the table stays consistent with the journal all the while.
    void ring_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("recorded");
        QTest::addColumn<bool>("tested"); // by the model tester, which is slow on many rows
        QTest::newRow("one") << 3 << 1 << true;
        QTest::newRow("exactly the cap") << 3 << 3 << true;
        QTest::newRow("past the cap") << 3 << 10 << true;
        QTest::newRow("past the cap of the program")
            << Journal::defaultCapacity << Journal::defaultCapacity + 7 << false;
    }

    void ring()
    {
        QFETCH(int, capacity);
        QFETCH(int, recorded);
        QFETCH(bool, tested);
        Journal journal(capacity);
        JournalModel model(journal);
        std::unique_ptr<QAbstractItemModelTester> tester;
        if (tested)
            tester = std::make_unique<QAbstractItemModelTester>(&model,
                                                                QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Under the model tester the table shows each row before the next
        // comes; else all come at once.
        for (int i = 1; i <= recorded; ++i) {
            QCOMPARE(journal.record(sentRow(i)), quint64(i));
            if (tested)
                QTRY_COMPARE(model.index(0, 0).data(JournalModel::IdRole).toULongLong(), qulonglong(i));
        }

        const int kept = std::min(recorded, capacity);
        QCOMPARE(journal.size(), kept);
        QTRY_COMPARE(model.rowCount(), kept);
        QCOMPARE(model.index(0, 0).data(JournalModel::IdRole).toULongLong(), qulonglong(recorded));
        QCOMPARE(model.index(0, JournalModel::Target).data().toString(), QStringLiteral("%1 200 250").arg(recorded));
        const qulonglong oldest = qulonglong(recorded - kept + 1);
        QCOMPARE(model.index(kept - 1, 0).data(JournalModel::IdRole).toULongLong(), oldest);
        QCOMPARE(journal.row(oldest - 1), nullptr);

        const QList<JournalRow> last = journal.last(3);
        QCOMPARE(last.size(), std::min(3, kept));
        QCOMPARE(last.constLast().id, quint64(recorded));
        QCOMPARE(last.constFirst().id, quint64(recorded - last.size() + 1));
        QCOMPARE(journal.last(recorded + 100).size(), kept);
    }

    // Only a sent row still kept and still open settles, once.
    void settle_data()
    {
        QTest::addColumn<JournalRow::Outcome>("outcome");
        QTest::addColumn<int>("pushedOut"); // rows recorded after it
        QTest::addColumn<int>("settledBefore"); // earlier settles of it
        QTest::addColumn<JournalRow::End>("end");
        QTest::addColumn<QString>("shown"); // "" when it must not settle
        using E = JournalRow::End;
        using O = JournalRow::Outcome;
        QTest::newRow("arrived") << O::Sent << 0 << 0 << E::Arrived << "arrived";
        QTest::newRow("stopped short, rows above it")
            << O::Sent << 2 << 0 << E::StoppedShort << "stopped short at 7 8 9";
        QTest::newRow("halted") << O::Sent << 0 << 0 << E::Halted << "halted at 7 8 9";
        QTest::newRow("settled before") << O::Sent << 0 << 1 << E::Halted << "";
        QTest::newRow("refused") << O::Refused << 0 << 0 << E::Arrived << "";
        QTest::newRow("failed") << O::Failed << 0 << 0 << E::Arrived << "";
        QTest::newRow("back to open") << O::Sent << 0 << 0 << E::Open << "";
        QTest::newRow("no longer kept") << O::Sent << 3 << 0 << E::Arrived << "";
    }

    void settle()
    {
        QFETCH(JournalRow::Outcome, outcome);
        QFETCH(int, pushedOut);
        QFETCH(int, settledBefore);
        QFETCH(JournalRow::End, end);
        QFETCH(QString, shown);
        Journal journal(3);
        JournalModel model(journal);
        JournalRow row = sentRow(1);
        row.outcome = outcome;
        const quint64 id = journal.record(row);
        for (int i = 0; i < pushedOut; ++i)
            journal.record(sentRow(2));
        QTRY_COMPARE(model.rowCount(), std::min(pushedOut + 1, journal.capacity()));
        for (int i = 0; i < settledBefore; ++i)
            QVERIFY(journal.settle(id, JournalRow::End::Arrived, {1, 2, 3}));
        const QString before
            = pushedOut < journal.capacity() ? model.index(pushedOut, JournalModel::End).data().toString() : QString();

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy rowChanged(&journal, &Journal::rowChanged);
        QCOMPARE(journal.settle(id, end, {7, 8, 9}), !shown.isEmpty());
        QCOMPARE(rowChanged.size(), shown.isEmpty() ? 0 : 1);
        QCOMPARE(changed.size(), shown.isEmpty() ? 0 : 1);
        if (shown.isEmpty()) {
            if (pushedOut < journal.capacity())
                QCOMPARE(model.index(pushedOut, JournalModel::End).data().toString(), before);
            return;
        }
        QCOMPARE(changed.first().at(0).toModelIndex().row(), pushedOut);
        QCOMPARE(model.index(pushedOut, JournalModel::End).data().toString(), shown);
        QVERIFY(journal.row(id)->endMs >= journal.row(id)->timeMs);
    }

    // Each field of the line as CSV needs it: quoted where it holds a
    // separator, a quote or a line break.
    void csvLine_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << "Y 21000 is outside 0..20500"
                               << "Y 21000 is outside 0..20500";
        QTest::newRow("comma") << "no answer, timed out"
                               << "\"no answer, timed out\"";
        QTest::newRow("quote") << "unit said \"busy\""
                               << "\"unit said \"\"busy\"\"\"";
        QTest::newRow("line break") << "first\nsecond"
                                    << "\"first\nsecond\"";
        QTest::newRow("leading space") << " padded"
                                       << "\" padded\"";
    }

    void csvLine()
    {
        QFETCH(QString, message);
        QFETCH(QString, field);
        JournalRow row = sentRow(5, msAt(QDate(2026, 12, 8), 11) + 123);
        row.id = 42;
        row.outcome = JournalRow::Outcome::Refused;
        row.message = message;
        row.source = JournalRow::Source::Return;
        row.stage = QStringLiteral("lateral");
        const QString expected
            = "42,2026-12-08T11:00:00.123Z,1,Return,lateral,100,200,300,5,200,250,-95,0,-50,refused," + field + ",,,,,";
        QCOMPARE(row.csvLine(), expected);
        QCOMPARE(JournalRow::csvHeader().count(QLatin1Char(',')), expected.count(QLatin1Char(',')) - field.count(','));
    }

    // $XDG_STATE_HOME/kesmarcontrol/journal; an unset or relative one
    // stands for ~/.local/state.
    void defaultFolder_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QString>("folder");
        const QString home = QDir::homePath() + "/.local/state/kesmarcontrol/journal";
        QTest::newRow("set") << QByteArray("/var/tmp/st") << "/var/tmp/st/kesmarcontrol/journal";
        QTest::newRow("unset") << QByteArray() << home;
        QTest::newRow("relative") << QByteArray("st") << home;
    }

    void defaultFolder()
    {
        QFETCH(QByteArray, state);
        QFETCH(QString, folder);
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        if (state.isNull())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", state);
        const QString made = JournalWriter::defaultFolder();
        qputenv("XDG_STATE_HOME", saved);
        QCOMPARE(made, folder);
    }

    // Rows go to the file of their UTC day, each file with one header line;
    // a settled move adds a line for its end.
    void rotation_data()
    {
        QTest::addColumn<QList<int>>("days"); // of each row, from today
        QTest::addColumn<bool>("settle"); // the last row, after a restart
        QTest::newRow("one day") << QList<int>{0, 0, 0} << false;
        QTest::newRow("across midnight") << QList<int>{-2, -1, -1, 0} << false;
        QTest::newRow("a restart the same day, then a settle") << QList<int>{0} << true;
    }

    void rotation()
    {
        QFETCH(QList<int>, days);
        QFETCH(bool, settle);
        QTemporaryDir dir;
        const QString folder = dir.filePath("state/journal");
        const QDate today = QDateTime::currentDateTimeUtc().date();
        Journal journal;
        QMap<QDate, QStringList> written;
        {
            JournalWriter writer(journal, folder);
            for (int day : days) {
                const quint64 id = journal.record(sentRow(int(day + 10), msAt(today.addDays(day), 0)));
                written[today.addDays(day)] << journal.row(id)->csvLine();
            }
        }
        if (settle) {
            JournalWriter writer(journal, folder);
            QVERIFY(journal.settle(journal.newestId(), JournalRow::End::Arrived, {10, 200, 250}));
            written[today] << journal.row(journal.newestId())->csvLine();
        }
        const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
        QCOMPARE(files.size(), written.size());
        for (auto day = written.cbegin(); day != written.cend(); ++day)
            QCOMPARE(lines(folder + '/' + JournalFile::fileName(day.key())),
                     QStringList{JournalRow::csvHeader()} + day.value());
        if (settle)
            QVERIFY(written[today].last().contains(",arrived,10,200,250,"));
    }

    // At the start, the day files more than 90 days old go; all else stays.
    void removalByAge_data()
    {
        QTest::addColumn<QString>("name"); // "%1" is a day from today
        QTest::addColumn<int>("day");
        QTest::addColumn<bool>("kept");
        QTest::newRow("today") << "%1.csv" << 0 << true;
        QTest::newRow("89 days old") << "%1.csv" << -89 << true;
        QTest::newRow("90 days old") << "%1.csv" << -90 << true;
        QTest::newRow("91 days old") << "%1.csv" << -91 << false;
        QTest::newRow("two years old") << "%1.csv" << -730 << false;
        QTest::newRow("another name, old") << "%1-notes.csv" << -400 << true;
        QTest::newRow("not a date") << "2025-02-30.csv" << 0 << true;
        QTest::newRow("not CSV") << "%1.txt" << -400 << true;
    }

    void removalByAge()
    {
        QFETCH(QString, name);
        QFETCH(int, day);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString folder = dir.filePath("journal");
        QVERIFY(QDir().mkpath(folder));
        const QDate today = QDateTime::currentDateTimeUtc().date();
        QFile file(folder + '/' + QString(name).replace("%1", today.addDays(day).toString(Qt::ISODate)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        {
            Journal journal;
            JournalWriter writer(journal, folder);
        }
        QCOMPARE(file.exists(), kept);
    }

    // A journal that cannot write turns itself off once, with a message
    // naming the place, and goes on keeping rows in memory.
    void unwritable_data()
    {
        QTest::addColumn<QString>("blocker"); // a file or folder in the way
        QTest::addColumn<bool>("isFolder");
        QTest::addColumn<QString>("named"); // in the message
        QTest::newRow("a file in place of the folder") << "journal" << false << "journal";
        QTest::newRow("a folder in place of the day's file") << "journal/%1" << true << ".csv";
    }

    void unwritable()
    {
        QFETCH(QString, blocker);
        QFETCH(bool, isFolder);
        QFETCH(QString, named);
        QTemporaryDir dir;
        const QString folder = dir.filePath("journal");
        const QString path = dir.filePath(
            QString(blocker).replace("%1", JournalFile::fileName(QDateTime::currentDateTimeUtc().date())));
        if (isFolder) {
            QVERIFY(QDir().mkpath(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        Journal journal;
        JournalWriter writer(journal, folder);
        QSignalSpy off(&writer, &JournalWriter::turnedOff);
        journal.record(sentRow(1));
        QVERIFY(off.wait(10000));
        QVERIFY(!writer.isOn());
        QVERIFY(writer.failure().contains(named));
        QCOMPARE(off.first().first().toString(), writer.failure());
        for (int i = 0; i < 3; ++i)
            journal.record(sentRow(2));
        QCOMPARE(journal.size(), 4);
        QCOMPARE(off.size(), 1);
    }

    // The check the move tests hold the journal to, against the test
    // double's record: it finds a move without its row and a row without
    // its move.
    void libraryCheck_data()
    {
        QTest::addColumn<QStringList>("steps"); // "row OUTCOME X" or "send X", "store X" (no goto)
        QTest::addColumn<QString>("found"); // in the mismatch; "" when they agree
        QTest::newRow("each send with its row") << QStringList{"send 1", "row sent 1", "send 2", "row sent 2"} << "";
        QTest::newRow("refused, nothing sent") << QStringList{"row refused 1", "send 2", "row sent 2"} << "";
        QTest::newRow("failed before the library") << QStringList{"row failed 1"} << "";
        QTest::newRow("failed store") << QStringList{"store 1", "row failed 1"} << "";
        QTest::newRow("a send without its row")
            << QStringList{"send 1", "row sent 1", "send 2"} << "2 200 250 without a row";
        QTest::newRow("a row without its send") << QStringList{"row sent 1"} << "saw next: nothing";
        QTest::newRow("a refused row that was sent") << QStringList{"send 1", "row refused 1"} << "without a row";
        QTest::newRow("store without goto, said sent") << QStringList{"store 1", "row sent 1"} << "(no goto)";
        QTest::newRow("out of order") << QStringList{"send 2", "send 1", "row sent 1", "row sent 2"}
                                      << "saw next: device 1: 2 200 250";
    }

    void libraryCheck()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, found);
        Fake::reset();
        kesmarctl_connection *handle = kesmarctl_open("fake", 100);
        QVERIFY(handle);
        Journal journal;
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
            const int x = words.last().toInt();
            if (words.first() == QLatin1String("row")) {
                JournalRow row = sentRow(x);
                row.outcome = *JournalRow::outcomeFromName(words.at(1));
                journal.record(row);
            } else {
                kesmarctl_store_mem_position_ext(handle, 49, x, 200, 250, 0);
                if (words.first() == QLatin1String("send"))
                    kesmarctl_goto_mem_position_ext(handle, 49, 0);
            }
        }
        kesmarctl_close(handle);
        const QString mismatch = JournalCheck::mismatch(journal);
        QVERIFY2(found.isEmpty() ? mismatch.isEmpty() : mismatch.contains(found), qPrintable(mismatch));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
