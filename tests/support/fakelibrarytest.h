#ifndef FAKELIBRARYTEST_H
#define FAKELIBRARYTEST_H

#include <QObject>

// Base of the unit tests that run the program against the test double of the
// control library: the test process gets a settings store of its own, and
// every test function starts with an empty store and a fresh script.
class FakeLibraryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
};

#endif // FAKELIBRARYTEST_H
