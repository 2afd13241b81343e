#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need a QApplication. Linking this file into a test executable replaces the
// QCoreApplication main of brindle_testsupport.
int main(int argc, char **argv) {
    // Headless unless a platform is asked for: ctest's test discovery runs the executable
    // without the tests' environment, and tests should not open windows on a desktop.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
