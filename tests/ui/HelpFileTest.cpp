#include "HelpFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& Path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Path).path()));
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
}

// A tree as `cmake --install --prefix` leaves it: prefix/bin with the
// program and prefix/share/segmora with the manual.
TEST(HelpFile, FindsTheManualBesideTheProgramFirstThenInTheInstalledDataFolder) {
    QTemporaryDir Prefix;
    const QString Bin = Prefix.filePath(QStringLiteral("bin"));
    const QString Beside = Prefix.filePath(QStringLiteral("bin/manual.html"));
    const QString Installed = Prefix.filePath(QStringLiteral("share/segmora/manual.html"));
    ASSERT_TRUE(QDir().mkpath(Bin));

    const QStringList Places = ManualPlaces(Bin);
    ASSERT_GE(Places.size(), 3);
    EXPECT_EQ(Places[0], Beside);
    EXPECT_EQ(Places[1], Installed);
    EXPECT_EQ(Places[2], QStringLiteral(SEGMORA_TEST_INSTALLED_MANUAL));

    // Only the configured installation may hold a manual now.
    const QString Configured = QStringLiteral(SEGMORA_TEST_INSTALLED_MANUAL);
    EXPECT_EQ(FindManual(Bin), QFileInfo(Configured).isFile() ? Configured : QString());

    Touch(Installed);
    EXPECT_EQ(FindManual(Bin), Installed);
    Touch(Beside);
    EXPECT_EQ(FindManual(Bin), Beside);

    // A folder of that name is no manual.
    ASSERT_TRUE(QFile::remove(Beside));
    ASSERT_TRUE(QDir().mkpath(Beside));
    EXPECT_EQ(FindManual(Bin), Installed);
}

} // namespace
