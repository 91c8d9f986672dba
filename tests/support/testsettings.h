#ifndef TESTSETTINGS_H
#define TESTSETTINGS_H

#include <QString>

// Gives the test process a settings store of its own, in a temporary folder,
// so no test reads or writes the user's real store. Call isolate() before the
// first QSettings object is created (initTestCase).
namespace TestSettings {

void isolate();

// Path of the program's store file ("quellmark"/"orvex", default format).
QString storeFile();

// Removes the store, so the next QSettings starts from nothing.
void clear();

// Replaces the store file by the given text.
void writeStore(const QByteArray &text);

// The store file's text.
QByteArray readStore();

} // namespace TestSettings

#endif // TESTSETTINGS_H
