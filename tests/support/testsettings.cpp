#include "testsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace TestSettings {
namespace {

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

} // namespace

void isolate()
{
    QVERIFY2(folder().isValid(), "cannot create a temporary settings folder");
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder().path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder().path());
    clear();
}

QString storeFile()
{
    return folder().path() + QStringLiteral("/quellmark/orvex.conf");
}

void clear()
{
    QSettings store(QStringLiteral("quellmark"), QStringLiteral("orvex"));
    store.clear();
    store.sync();
    QFile::remove(storeFile());
}

void writeStore(const QByteArray &text)
{
    clear();
    QDir().mkpath(QFileInfo(storeFile()).path());
    QFile file(storeFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), qint64(text.size()));
}

QByteArray readStore()
{
    QFile file(storeFile());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace TestSettings
