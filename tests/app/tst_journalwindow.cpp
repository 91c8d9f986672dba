// The Journal window over a journal: newest on top as rows come, the
// refused and failed rows marked, the filter by source and by device, and
// Halt at hand.
#include "coordinates.h"
#include "journal.h"
#include "journalmodel.h"
#include "journalwindow.h"
#include "panel.h"
#include "toolwindows.h"
#include "widgetlookup.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QtTest>

Q_DECLARE_METATYPE(JournalRow::Outcome)

namespace {

JournalRow row(JournalRow::Source source, int device, JournalRow::Outcome outcome = JournalRow::Outcome::Sent)
{
    JournalRow r;
    r.source = source;
    r.device = device;
    r.target = {device, 2, 3};
    r.outcome = outcome;
    if (outcome != JournalRow::Outcome::Sent)
        r.message = QStringLiteral("why");
    return r;
}

// The ids of the rows the view shows, top to bottom.
QList<qulonglong> shownIds(QTableView *view)
{
    QList<qulonglong> ids;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        ids << view->model()->index(r, 0).data(JournalModel::IdRole).toULongLong();
    return ids;
}

} // namespace

class TestJournalWindow : public QObject
{
    Q_OBJECT

private slots:
    void filter_data()
    {
        QTest::addColumn<QString>("source"); // as the box offers it
        QTest::addColumn<int>("device"); // -1: All
        QTest::addColumn<QList<qulonglong>>("shown");
        QTest::newRow("everything, newest on top") << "All" << -1 << QList<qulonglong>{5, 4, 3, 2, 1};
        QTest::newRow("one source") << "pad" << -1 << QList<qulonglong>{4, 2};
        QTest::newRow("one device") << "All" << 2 << QList<qulonglong>{5, 4};
        QTest::newRow("both") << "pad" << 1 << QList<qulonglong>{2};
        QTest::newRow("none of them") << "Halt" << -1 << QList<qulonglong>{};
    }

    void filter()
    {
        QFETCH(QString, source);
        QFETCH(int, device);
        QFETCH(QList<qulonglong>, shown);
        Journal journal;
        JournalWindow window(journal);
        window.show();
        using S = JournalRow::Source;
        for (const JournalRow &r : {row(S::Goto, 1), row(S::Pad, 1), row(S::Script, 1)})
            journal.record(r);
        auto *sources = widget<QComboBox>(window, "comboBoxSource");
        sources->setCurrentIndex(sources->findText(source));
        QVERIFY(sources->currentIndex() >= 0);
        widget<QSpinBox>(window, "spinBoxDevice")->setValue(device);
        // Rows that come while filtered are filtered too.
        journal.record(row(S::Pad, 2));
        journal.record(row(S::Goto, 2));
        QTRY_COMPARE(shownIds(widget<QTableView>(window, "tableView")), shown);
    }

    // Refused and failed rows carry a colour and an icon besides their text.
    void marked_data()
    {
        QTest::addColumn<JournalRow::Outcome>("outcome");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QString>("text");
        QTest::newRow("sent") << JournalRow::Outcome::Sent << false << "sent";
        QTest::newRow("refused") << JournalRow::Outcome::Refused << true << "refused: why";
        QTest::newRow("failed") << JournalRow::Outcome::Failed << true << "failed: why";
    }

    void marked()
    {
        QFETCH(JournalRow::Outcome, outcome);
        QFETCH(bool, marked);
        QFETCH(QString, text);
        Journal journal;
        JournalWindow window(journal);
        journal.record(row(JournalRow::Source::Key, 1, outcome));
        QAbstractItemModel *shown = widget<QTableView>(window, "tableView")->model();
        QTRY_COMPARE(shown->rowCount(), 1);
        const QModelIndex cell = shown->index(0, JournalModel::Outcome);
        QCOMPARE(cell.data().toString(), text);
        QCOMPARE(cell.data(Qt::ForegroundRole).isValid(), marked);
        QCOMPARE(cell.data(Qt::DecorationRole).isValid(), marked);
    }

    // Positions in the units chosen, by the scale of each row's device;
    // switching the units shows the rows anew.
    void units_data()
    {
        QTest::addColumn<QString>("units");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("header");
        QTest::newRow("steps") << "steps"
                               << "1 2 3"
                               << "Target";
        QTest::newRow("micrometres") << "micrometres"
                                     << "0.5 1.0 6.0"
                                     << "Target, µm";
    }

    void units()
    {
        QFETCH(QString, units);
        QFETCH(QString, target);
        QFETCH(QString, header);
        Journal journal;
        Coordinates coordinates;
        coordinates.fromGroup({{"units", units == "steps" ? "micrometres" : "steps"}, {"1/scale", "2 2 0.5"}});
        JournalWindow window(journal);
        window.setCoordinates(&coordinates);
        journal.record(row(JournalRow::Source::Key, 1));
        QAbstractItemModel *shown = widget<QTableView>(window, "tableView")->model();
        QTRY_COMPARE(shown->rowCount(), 1);
        coordinates.setUnits(units == "steps" ? Coordinates::Units::Steps : Coordinates::Units::Micrometres);
        QCOMPARE(shown->index(0, JournalModel::Target).data().toString(), target);
        QCOMPARE(shown->headerData(JournalModel::Target, Qt::Horizontal).toString(), header);
    }

    void halt()
    {
        Journal journal;
        JournalWindow window(journal);
        window.show();
        QSignalSpy halt(&window, &JournalWindow::haltRequested);
        QTest::mouseClick(widget<QPushButton>(window, "pushButtonHalt"), Qt::LeftButton);
        QCOMPARE(halt.size(), 1);
        QVERIFY(!window.isModal());
    }

    // Window > Journal opens one window, raised when asked again, whose Halt
    // reaches the main window.
    void oneAtATime()
    {
        Panel panel;
        QWidget main;
        ToolWindows tools(panel, &main);
        const auto open = [] {
            int n = 0;
            for (QWidget *w : QApplication::topLevelWidgets())
                n += qobject_cast<JournalWindow *>(w) && w->isVisible();
            return n;
        };
        tools.showJournal();
        QCOMPARE(open(), 0); // no journal to show
        Journal journal;
        tools.setJournal(&journal);
        tools.showJournal();
        tools.showJournal();
        QCOMPARE(open(), 1);
        QSignalSpy halt(&tools, &ToolWindows::haltRequested);
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<JournalWindow *>(w))
                widget<QPushButton>(*w, "pushButtonHalt")->click();
        }
        QCOMPARE(halt.size(), 1);
        tools.closeAll();
        QTRY_COMPARE(open(), 0);
    }
};

QTEST_MAIN(TestJournalWindow)
#include "tst_journalwindow.moc"
