// The window tests need a QApplication around every case.

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The listing run at build time gets no environment of its own.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
