#ifndef JOURNALFILE_H
#define JOURNALFILE_H

#include "journalrow.h"

#include <QDate>
#include <QFile>
#include <QObject>
#include <QTimer>

// The journal's files: one a day, named YYYY-MM-DD.csv after the UTC date
// of its rows, in one folder. It lives on the writer's thread: every call may
// wait for the disk. Each line is handed to the system at once and synced to
// the disk within `syncInterval`. The first failure ends all writing and is
// reported by `failed`.
class JournalFile : public QObject
{
    Q_OBJECT

public:
    static constexpr int syncInterval = 1000; // ms
    static constexpr int keepDays = 90;

    explicit JournalFile(const QString &folder, QObject *parent = nullptr);

    // The file of the rows of `date`.
    static QString fileName(const QDate &date);

public slots:
    // Makes the folder if need be and removes the files of days more than
    // `keepDays` before `today`; files of other names stay.
    void start(const QDate &today);
    // Appends the row as a line to the file of its day (of its end when it
    // is settled), with the header line first in a new file.
    void append(const JournalRow &row);
    // Syncs and closes the file.
    void finish();

signals:
    // Writing stopped; `message` says where and why.
    void failed(const QString &message);

private:
    bool openFor(const QDate &date);
    void sync();
    void fail(const QString &message);

    QString folder_;
    QFile file_;
    QDate date_;
    QTimer syncTimer_;
    bool dirty_ = false;
    bool failed_ = false;
};

#endif // JOURNALFILE_H
