#ifndef JOURNALWRITER_H
#define JOURNALWRITER_H

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

class Journal;
class JournalFile;

// Writes the journal's rows, and their settling, to the daily files in
// `folder` on a thread of its own: the journal's signals reach the file
// queued, so a row costs its recorder no disk time and a slow or failing
// disk never holds up a move. At the start the files older than the days
// kept are removed. When a file cannot be written, the writer turns itself
// off: `turnedOff` carries the message for the operator, and the rows stay
// in memory only.
class JournalWriter : public QObject
{
    Q_OBJECT

public:
    JournalWriter(const Journal &journal, const QString &folder, QObject *parent = nullptr);
    // Writes what is queued, syncs and closes the file.
    ~JournalWriter() override;

    // $XDG_STATE_HOME/kesmarcontrol/journal, with ~/.local/state for an
    // unset or relative XDG_STATE_HOME. Read from the environment when
    // called: call it once, at the start.
    static QString defaultFolder();

    QString folder() const { return folder_; }
    bool isOn() const { return on_; }
    // Why writing stopped; empty while it is on.
    QString failure() const { return failure_; }

signals:
    void turnedOff(const QString &message);

private:
    void turnOff(const QString &message);

    QString folder_;
    QThread thread_;
    JournalFile *file_;
    bool on_ = true;
    QString failure_;
    QList<QMetaObject::Connection> feeds_;
};

#endif // JOURNALWRITER_H
