// The widget tests run in one QApplication on Qt's offscreen platform unless another one is asked for.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
