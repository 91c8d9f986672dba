#include "fakelibrarytest.h"

#include "fakekesmarctl.h"
#include "testsettings.h"

void FakeLibraryTest::initTestCase()
{
    TestSettings::isolate();
}

void FakeLibraryTest::init()
{
    TestSettings::clear();
    Fake::reset();
}
