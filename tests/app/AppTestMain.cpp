#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // Synthetic events on Qt's offscreen platform: no display is needed or touched.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
