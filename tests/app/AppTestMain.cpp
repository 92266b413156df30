#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // No display is needed or touched, also when the suite is run by hand.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
