#ifndef ACTRESULT_H
#define ACTRESULT_H

#include <QString>

// What came of an act of the operator's or a script's: its kind, which the
// callers decide by, and the operator's message, which they only show.
struct ActResult
{
    enum class Kind
    {
        Sent, // a move went out to the unit
        Done, // anything else that succeeded
        Failed, // the library or the store failed; the message says why
        Refused, // the act does not apply now (e.g. nothing live to copy)
        OutOfRange, // a value outside what the act takes
        NoReading, // the act needs a reading that is not there
        Unknown // a named position that does not exist
    };

    Kind kind = Kind::Done;
    QString message;

    bool ok() const { return kind == Kind::Sent || kind == Kind::Done; }

    static ActResult sent(const QString &message) { return {Kind::Sent, message}; }
    static ActResult done(const QString &message) { return {Kind::Done, message}; }
    static ActResult failed(const QString &message) { return {Kind::Failed, message}; }
};

#endif // ACTRESULT_H
