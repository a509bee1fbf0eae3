#include "HelpFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A tree as `cmake --install --prefix` leaves it: prefix/bin with the
// program and prefix/share/segmora with the manual.
TEST(HelpFile, FindsTheManualBesideTheProgramFirstThenInTheInstalledDataFolder) {
    QTemporaryDir Prefix;
    const QString Bin = Prefix.filePath(QStringLiteral("bin"));
    const QString Beside = Prefix.filePath(QStringLiteral("bin/manual.html"));
    const QString Installed = Prefix.filePath(QStringLiteral("share/segmora/manual.html"));
    const QString Configured = QStringLiteral(SEGMORA_TEST_INSTALLED_MANUAL);
    ASSERT_TRUE(QDir().mkpath(Bin) && QDir().mkpath(QFileInfo(Installed).path()));
    EXPECT_EQ(ManualPlaces(Bin).value(2), Configured);
    // Only the configured installation may hold a manual now.
    EXPECT_EQ(FindManual(Bin), QFileInfo(Configured).isFile() ? Configured : QString());

    for (const QString& Place : {Installed, Beside}) {
        QFile File(Place);
        ASSERT_TRUE(File.open(QIODevice::WriteOnly));
        EXPECT_EQ(FindManual(Bin), Place);
    }
    // A folder of that name is no manual.
    ASSERT_TRUE(QFile::remove(Beside) && QDir().mkpath(Beside));
    EXPECT_EQ(FindManual(Bin), Installed);
}

} // namespace
