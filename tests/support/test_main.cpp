// Test entry point: a QApplication on the offscreen platform, settings in a
// temporary home, and a fixed time zone unless the test environment set one.
#include "tests/support/temp_env.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TZ", "Europe/Moscow", 0);
    tzset();
    UseTemporaryHome();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
