#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// Test binaries run without a display (CTest, discovery, CI): pick the
// offscreen platform unless the caller asked for a real one, e.g. under Xvfb.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
