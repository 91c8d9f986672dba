#ifndef STOREESCAPES_H
#define STOREESCAPES_H

#include <QByteArray>
#include <QString>

// The settings store keeps text outside ASCII as \x escapes of its UTF-16
// units ("\xe9" for é), as QSettings of Qt 5 writes an INI file without a
// codec; builds that read it without a codec read it the same. QSettings of
// Qt 6 writes such text as UTF-8 instead. These turn its file into the Qt 5
// form, byte for byte.

// The INI text `utf8` with every character from U+007F on, and every hex
// digit right after such an escape, written as an escape.
QByteArray escapedStoreText(const QByteArray &utf8);

// Rewrites the INI file that QSettings has just written in the escaped form;
// nothing to do on Qt 5. False when the file could not be rewritten; it then
// keeps the UTF-8 form, which every build that reads it as UTF-8 reads alike.
bool escapeStoreFile(const QString &file);

#endif // STOREESCAPES_H
