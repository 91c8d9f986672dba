#ifndef JOURNALWINDOW_H
#define JOURNALWINDOW_H

#include <QWidget>

class Coordinates;
class Journal;
class JournalFilter;
class JournalModel;

namespace Ui {
class JournalWindow;
}

// The journal of moves in a window of its own, not modal, with Halt at
// hand: the rows newest at the top, the refused and failed ones marked, and
// a filter by source and by device.
class JournalWindow : public QWidget
{
    Q_OBJECT

public:
    explicit JournalWindow(const Journal &journal, QWidget *parent = nullptr);
    // Positions in the units of `coordinates` (micrometres or steps).
    void setCoordinates(const Coordinates *coordinates);
    ~JournalWindow() override;

signals:
    // The Halt button was pressed.
    void haltRequested();

private:
    void applyFilter();

    Ui::JournalWindow *ui;
    JournalModel *model_;
    JournalFilter *filter_;
};

#endif // JOURNALWINDOW_H
