#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// Every test binary runs with a real application object on the offscreen platform, so tests can
// use real widgets, timers and the event loop.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
