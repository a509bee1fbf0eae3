#include "Settings.h"

#include "TestFiles.h"

#include <QSettings>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

const QString MainFormKey = FormsKey + QStringLiteral("frmMain");

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(Folder.Path()));
    }

    // What is stored, read back without the functions under test.
    QVariant Stored(const QString& Name) const {
        QSettings Settings(QStringLiteral("quenby"), QStringLiteral("segmora"));
        return Settings.value(Name);
    }

    TTempDir Folder;
};

TEST_F(SettingsTest, MissingValuesReadAsEmpty) {
    EXPECT_EQ(ReadRegString(SegmoraKey, QStringLiteral("LastOpenFolder")), QString());
    QWidget Form;
    Form.move(231, 239);
    Form.resize(300, 200);
    RestoreFormPlacement(MainFormKey, &Form, false);
    EXPECT_EQ(Form.pos(), QPoint(231, 239));
    EXPECT_EQ(Form.size(), QSize(300, 200));
}

TEST_F(SettingsTest, StringsRoundTripUnderTheKeysGroup) {
    const QString Folder = QStringLiteral("/home/user/Music, old/Bänd \"x\"");
    WriteRegString(SegmoraKey, QStringLiteral("LastSaveFolder"), Folder);
    WriteRegString(MainFormKey, QStringLiteral("Note"), QStringLiteral("deep"));
    EXPECT_EQ(ReadRegString(SegmoraKey, QStringLiteral("LastSaveFolder")), Folder);
    EXPECT_EQ(Stored(QStringLiteral("LastSaveFolder")).toString(), Folder);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Note")).toString(), QStringLiteral("deep"));
    EXPECT_EQ(ReadRegString(SegmoraKey, QStringLiteral("LastOpenFolder")), QString());
}

TEST_F(SettingsTest, NormalWindowStoresAllFiveValues) {
    QWidget Form;
    Form.setGeometry(120, 80, 330, 210);
    Form.show();
    const QPoint Position = Form.pos();
    SaveFormPlacement(MainFormKey, &Form);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Top")).toInt(), Position.y());
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Left")).toInt(), Position.x());
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Width")).toInt(), 330);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Height")).toInt(), 210);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/WindowState")).toInt(), 0);

    QWidget Again;
    Again.resize(100, 100);
    RestoreFormPlacement(MainFormKey, &Again, false);
    EXPECT_EQ(Again.pos(), Position);
    EXPECT_EQ(Again.size(), QSize(330, 210));
}

TEST_F(SettingsTest, PositionOnlyLeavesSizeAndState) {
    {
        QSettings Settings(QStringLiteral("quenby"), QStringLiteral("segmora"));
        Settings.setValue(QStringLiteral("forms/frmMain/Top"), 40);
        Settings.setValue(QStringLiteral("forms/frmMain/Left"), 50);
        Settings.setValue(QStringLiteral("forms/frmMain/Width"), 999);
        Settings.setValue(QStringLiteral("forms/frmMain/WindowState"), 1);
    }
    QWidget Form;
    Form.resize(300, 200);
    RestoreFormPlacement(MainFormKey, &Form, true);
    EXPECT_EQ(Form.pos(), QPoint(50, 40));
    EXPECT_EQ(Form.size(), QSize(300, 200));
    EXPECT_FALSE(Form.windowState() & Qt::WindowMaximized);

    RestoreFormPlacement(MainFormKey, &Form, false);
    EXPECT_EQ(Form.width(), 999);
    EXPECT_TRUE(Form.windowState() & Qt::WindowMaximized);
}

TEST_F(SettingsTest, MaximizedKeepsTheNormalBoundsAndMinimizedWritesNothing) {
    QWidget Form;
    Form.setGeometry(120, 80, 330, 210);
    SaveFormPlacement(MainFormKey, &Form);
    QSettings(QStringLiteral("quenby"), QStringLiteral("segmora"))
        .setValue(QStringLiteral("forms/frmMain/Top"), 12345);

    Form.setWindowState(Qt::WindowMaximized);
    SaveFormPlacement(MainFormKey, &Form);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/WindowState")).toInt(), 1);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Top")).toInt(), 12345);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/Width")).toInt(), 330);

    Form.setWindowState(Qt::WindowMinimized);
    SaveFormPlacement(MainFormKey, &Form);
    EXPECT_EQ(Stored(QStringLiteral("forms/frmMain/WindowState")).toInt(), 1);
}

TEST_F(SettingsTest, StoredValuesAreAppliedAsTheyAre) {
    {
        QSettings Settings(QStringLiteral("quenby"), QStringLiteral("segmora"));
        Settings.setValue(QStringLiteral("forms/frmMain/Top"), -5000); // off every screen
        Settings.setValue(QStringLiteral("forms/frmMain/Left"), QStringLiteral("abc"));
        Settings.setValue(QStringLiteral("forms/frmMain/WindowState"), 7);
    }
    QWidget Form;
    Form.move(231, 239);
    RestoreFormPlacement(MainFormKey, &Form, false);
    EXPECT_EQ(Form.pos(), QPoint(231, -5000)); // a value that is no number is skipped
    EXPECT_EQ(Form.windowState(), Qt::WindowNoState);
}

TEST_F(SettingsTest, KeysOutsideTheUsersSoftwareAreIgnored) {
    EXPECT_EQ(OpenRegKey(QStringLiteral("\\System\\x")), nullptr);
    WriteRegString(QStringLiteral("\\Software"), QStringLiteral("A"), QStringLiteral("b"));
    EXPECT_EQ(ReadRegString(QStringLiteral("\\Software"), QStringLiteral("A")), QString());
    QWidget Form;
    Form.move(1, 2);
    SaveFormPlacement(QStringLiteral("forms"), &Form);
    RestoreFormPlacement(QStringLiteral("forms"), &Form, false);
    EXPECT_EQ(Form.pos(), QPoint(1, 2));
}

} // namespace
