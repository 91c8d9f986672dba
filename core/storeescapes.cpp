#include "storeescapes.h"

#include <QFile>
#include <QSaveFile>
#include <QtGlobal>

namespace {

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

} // namespace

QByteArray escapedStoreText(const QByteArray &utf8)
{
    QByteArray out;
    out.reserve(utf8.size());
    // Keys, section names and the escapes already written are ASCII, so only
    // values change. A hex digit right after an escape is escaped too, or it
    // would read as part of it.
    bool afterEscape = false;
    for (const QChar c : QString::fromUtf8(utf8)) {
        const ushort unit = c.unicode();
        if (unit >= 0x7f || (afterEscape && isHexDigit(c))) {
            out += "\\x" + QByteArray::number(unit, 16);
            afterEscape = true;
        } else {
            out += char(unit);
            afterEscape = false;
        }
    }
    return out;
}

bool escapeStoreFile(const QString &file)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray written = in.readAll();
    in.close();
    const QByteArray escaped = escapedStoreText(written);
    if (escaped == written)
        return true;
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(escaped) == escaped.size() && out.commit();
#else
    Q_UNUSED(file)
    return true;
#endif
}
