#include <QCoreApplication>
#include <gtest/gtest.h>

// Components process pending events inside their loops, so every test runs with an
// application object, as the program does.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
