// The window tests need a QApplication around every case.

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The listing run at build time gets no environment of its own.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    // Qt's file dialogs keep their history in the user's settings; the tests
    // keep theirs, and every other setting, in a folder of their own.
    QTemporaryDir Settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Settings.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
