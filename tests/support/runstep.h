#ifndef RUNSTEP_H
#define RUNSTEP_H

#include <QtTest>

// Runs a helper step that checks with QVERIFY/QCOMPARE and ends the calling
// test function if the step failed.
#define RUN_STEP(step)                                                                                                 \
    do {                                                                                                               \
        step;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (0)

#endif // RUNSTEP_H
