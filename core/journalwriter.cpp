#include "journalwriter.h"

#include "journal.h"
#include "journalfile.h"

#include <QDateTime>
#include <QDir>

#include <utility>

JournalWriter::JournalWriter(const Journal &journal, const QString &folder, QObject *parent)
    : QObject(parent)
    , folder_(folder)
    , file_(new JournalFile(folder))
{
    qRegisterMetaType<JournalRow>();
    thread_.setObjectName(QStringLiteral("journal writer"));
    file_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, file_, &QObject::deleteLater);
    connect(file_, &JournalFile::failed, this, &JournalWriter::turnOff);
    feeds_ << connect(&journal, &Journal::rowAdded, file_, &JournalFile::append)
           << connect(&journal, &Journal::rowChanged, file_, &JournalFile::append);
    thread_.start(QThread::LowPriority);
    const QDate today = QDateTime::currentDateTimeUtc().date();
    QMetaObject::invokeMethod(file_, [file = file_, today] { file->start(today); });
}

JournalWriter::~JournalWriter()
{
    // Queued after every row already sent, so they are all written first.
    QMetaObject::invokeMethod(file_, &JournalFile::finish, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

QString JournalWriter::defaultFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir(state).filePath(QStringLiteral("kesmarcontrol/journal"));
}

void JournalWriter::turnOff(const QString &message)
{
    if (!on_)
        return;
    on_ = false;
    failure_ = message;
    for (const QMetaObject::Connection &feed : std::as_const(feeds_))
        disconnect(feed);
    emit turnedOff(message);
}
