#include "Errors.h"
#include "FileDlg.h"
#include "FileLib.h"
#include "PathDialog.h"
#include "ShellUtils.h"

#include "TestFiles.h"
#include "UiTestSupport.h"

#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The OK button: QFileDialog checks the name typed or selected first.
void Accept(QFileDialog* Dialog) {
    static_cast<QDialog*>(Dialog)->accept();
}

class FolderTest : public ::testing::Test {
protected:
    QString Path(const QString& Name) const { return Q(Temp.Path()) + QLatin1Char('/') + Name; }
    TTempDir Temp;
};

TEST_F(FolderTest, DirectoryExistsOnlyForFolders) {
    WriteFileBytes(Temp.File("file"), {1, 2, 3});
    EXPECT_TRUE(DirectoryExists(Q(Temp.Path())));
    EXPECT_FALSE(DirectoryExists(Path("file")));
    EXPECT_FALSE(DirectoryExists(Path("missing")));
    EXPECT_FALSE(DirectoryExists(QString()));
}

TEST_F(FolderTest, ForceDirectoriesBuildsEveryMissingLevel) {
    EXPECT_TRUE(ForceDirectories(Path("a/b/c/d")));
    EXPECT_TRUE(DirectoryExists(Path("a/b/c/d")));
    EXPECT_TRUE(ForceDirectories(Path("a/b/e/"))); // trailing separator
    EXPECT_TRUE(DirectoryExists(Path("a/b/e")));
    EXPECT_TRUE(ForceDirectories(Path("a/b"))); // already there
    EXPECT_TRUE(ForceDirectories(QStringLiteral("/")));
}

TEST_F(FolderTest, ForceDirectoriesWithAShortRelativeName) {
    const QString Before = QDir::currentPath();
    QDir::setCurrent(Q(Temp.Path()));
    const bool Made = ForceDirectories(QStringLiteral("x"));
    QDir::setCurrent(Before);
    EXPECT_TRUE(Made);
    EXPECT_TRUE(DirectoryExists(Path("x")));
}

TEST_F(FolderTest, ForceDirectoriesFailsBelowAFileAndRefusesAnEmptyPath) {
    WriteFileBytes(Temp.File("file"), {1});
    EXPECT_FALSE(ForceDirectories(Path("file/sub")));
    try {
        ForceDirectories(QString());
        ADD_FAILURE() << "no exception";
    } catch (const Exception& Error) {
        EXPECT_EQ(Error.Message(), "Unable to create directory");
    }
}

TEST(DroppedFileName, FirstLocalFileWhole) {
    const QString Long = QStringLiteral("/tmp/") + QString(150, QLatin1Char('d')) +
                         QLatin1Char('/') + QString(200, QLatin1Char('f')) +
                         QStringLiteral(" song.mp3");
    ASSERT_GT(Long.size(), 299);
    QMimeData Data;
    Data.setUrls({QUrl(QStringLiteral("https://example.invalid/a.mp3")), QUrl::fromLocalFile(Long),
                  QUrl::fromLocalFile(QStringLiteral("/tmp/second.mp3"))});
    EXPECT_EQ(GetDroppedFileName(&Data), Long);
    EXPECT_TRUE(HasDroppedFileName(&Data));

    QDropEvent Drop(QPointF(1, 1), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(GetDroppedFileName(&Drop), Long);
}

TEST(DroppedFileName, NothingLocal) {
    QMimeData Data;
    Data.setText(QStringLiteral("/tmp/a.mp3"));
    EXPECT_EQ(GetDroppedFileName(&Data), QString());
    Data.setUrls({QUrl(QStringLiteral("https://example.invalid/a.mp3"))});
    EXPECT_FALSE(HasDroppedFileName(&Data));
}

TEST_F(FolderTest, PathDialogDirectorySetter) {
    TPathDialog Dialog;
    Dialog.SetDirectory(Path("music/"));
    EXPECT_EQ(Dialog.Directory(), Path("music"));
    Dialog.SetDirectory(QStringLiteral("/"));
    EXPECT_EQ(Dialog.Directory(), QStringLiteral("/"));
    Dialog.SetDirectory(QString());
    EXPECT_EQ(Dialog.Directory(), QDir::currentPath());
}

TEST_F(FolderTest, PathDialogRunsQtsFolderDialog) {
    ASSERT_TRUE(ForceDirectories(Path("in/sub")));
    TPathDialog Dialog;
    Dialog.SetTitle(QStringLiteral("Select the output folder"));
    Dialog.SetDirectory(Path("in"));
    Dialog.SetShowStatus(true);
    Dialog.SetStatusText(QStringLiteral("first"));
    int Shown = 0;
    QStringList Selected;
    Dialog.SetOnShow([&](TPathDialog* Sender) {
        EXPECT_EQ(Sender, &Dialog);
        ++Shown;
        Sender->SetStatusText(QStringLiteral("second"));
    });
    Dialog.SetOnSelect([&](TPathDialog*, const QString& Path) { Selected << Path; });

    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        ASSERT_NE(Files, nullptr);
        EXPECT_EQ(Files->windowTitle(), QStringLiteral("Select the output folder"));
        EXPECT_EQ(Files->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(Files->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(QDir(Files->directory()).absolutePath(), Path("in"));
        auto* Status = Files->findChild<QLabel*>(QStringLiteral("lblStatus"));
        ASSERT_NE(Status, nullptr);
        EXPECT_EQ(Status->text(), QStringLiteral("second"));
        emit Files->currentChanged(Path("in/sub"));
        Dialog.SetDirectory(Path("in/sub")); // moves the open dialog
        EXPECT_EQ(QDir(Files->directory()).absolutePath(), Path("in/sub"));
        Accept(Files);
    });
    ASSERT_TRUE(Dialog.Execute());
    EXPECT_EQ(Dialog.Directory(), Path("in/sub"));
    EXPECT_EQ(Shown, 1);
    EXPECT_EQ(Selected, QStringList{Path("in/sub")});
}

TEST_F(FolderTest, PathDialogCancelled) {
    TPathDialog Dialog;
    Dialog.SetDirectory(Q(Temp.Path()));
    OnNextModal([](QWidget* Window) { qobject_cast<QDialog*>(Window)->reject(); });
    EXPECT_FALSE(Dialog.Execute());
    EXPECT_EQ(Dialog.Directory(), Q(Temp.Path()));
}

TEST_F(FolderTest, PathDialogShowsAHandlersErrorAndCarriesOn) {
    TPathDialog Dialog;
    Dialog.SetDirectory(Q(Temp.Path()));
    Dialog.SetOnSelect([](TPathDialog*, const QString&) { throw Exception("Bad folder"); });
    QString Message;
    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        OnNextModal(
            [&](QWidget* Box) {
                Message = qobject_cast<QMessageBox*>(Box)->text();
                qobject_cast<QDialog*>(Box)->accept();
            },
            Files);
        emit Files->currentChanged(Q(Temp.Path()));
        Accept(Files);
    });
    EXPECT_TRUE(Dialog.Execute());
    EXPECT_EQ(Message, QStringLiteral("Bad folder"));
}

class FileDialogTest : public FolderTest {
protected:
    void SetUp() override {
        for (const char* Name : {"a.mp3", "b.mp3", "c.txt"})
            WriteFileBytes(Temp.File(Name), {0});
    }
};

TEST_F(FileDialogTest, OpenDialogSettingsAndResult) {
    TFileOpenDialog Open;
    EXPECT_EQ(Open.Options, 0x81004u);
    Open.InitialDir = Q(Temp.Path());
    Open.Title = QStringLiteral("Open");
    Open.Filter = QStringLiteral("MP3 Files|*.mp3|All Files|*.*");
    Open.FileName = Path("c.txt"); // never offered as the default
    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        ASSERT_NE(Files, nullptr);
        EXPECT_TRUE(Files->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(Files->windowTitle(), QStringLiteral("Open"));
        EXPECT_EQ(Files->nameFilters(), (QStringList{"MP3 Files (*.mp3)", "All Files (*.*)"}));
        EXPECT_EQ(Files->selectedNameFilter(), QStringLiteral("MP3 Files (*.mp3)"));
        EXPECT_EQ(Files->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(QDir(Files->directory()).absolutePath(), Q(Temp.Path()));
        auto* Name = Files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(Name, nullptr);
        EXPECT_TRUE(Name->text().isEmpty());
        Files->selectFile(Path("b.mp3"));
        Accept(Files);
    });
    ASSERT_TRUE(Open.Execute());
    EXPECT_EQ(Open.FileName, Path("b.mp3"));
}

TEST_F(FileDialogTest, OpenDialogFilterIndexAndCancel) {
    TFileOpenDialog Open;
    Open.InitialDir = Q(Temp.Path());
    Open.Filter = QStringLiteral("Songs (*.mp3;*.mp2)|*.mp3;*.mp2|All Files|*.*");
    Open.FilterIndex = 2;
    Open.FileName = QStringLiteral("kept");
    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        EXPECT_EQ(Files->nameFilters(), (QStringList{"Songs (*.mp3 *.mp2)", "All Files (*.*)"}));
        EXPECT_EQ(Files->selectedNameFilter(), QStringLiteral("All Files (*.*)"));
        Files->reject();
    });
    EXPECT_FALSE(Open.Execute());
    EXPECT_EQ(Open.FileName, QStringLiteral("kept"));
}

TEST_F(FileDialogTest, MultipleSelection) {
    TFileOpenDialog Open;
    Open.InitialDir = Q(Temp.Path());
    Open.MultiSelect = true;
    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        EXPECT_EQ(Files->fileMode(), QFileDialog::ExistingFiles);
        Files->selectFile(Path("a.mp3"));
        Accept(Files);
    });
    ASSERT_TRUE(Open.Execute());
    EXPECT_EQ(Open.Files, QStringList{Path("a.mp3")});
    EXPECT_EQ(Open.FileName, Path("a.mp3"));
    EXPECT_TRUE(Open.Options & OFN_ALLOWMULTISELECT);
    EXPECT_EQ(Open.BufferSize, 30720);

    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        Files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"a.mp3\" \"c.txt\""));
        Accept(Files);
    });
    ASSERT_TRUE(Open.Execute());
    EXPECT_EQ(Open.Files, (QStringList{Path("a.mp3"), Path("c.txt")}));
    EXPECT_EQ(Open.FileName, Path("a.mp3"));
}

TEST_F(FileDialogTest, SaveDialogAddsTheExtensionAndAsksAboutOverwriting) {
    TFileSaveDialog Save;
    EXPECT_EQ(Save.Options, 0x81006u);
    Save.InitialDir = Q(Temp.Path());
    Save.DefaultExt = QStringLiteral("mp3");
    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        EXPECT_EQ(Files->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(Files->testOption(QFileDialog::DontConfirmOverwrite));
        Files->selectFile(QStringLiteral("new"));
        Accept(Files);
    });
    ASSERT_TRUE(Save.Execute());
    EXPECT_EQ(Save.FileName, Path("new.mp3"));

    // The save dialog of the program asks on its own OK button instead.
    Save.Options &= ~OFN_OVERWRITEPROMPT;
    OnNextModal([&](QWidget* Window) {
        auto* Files = qobject_cast<QFileDialog*>(Window);
        EXPECT_TRUE(Files->testOption(QFileDialog::DontConfirmOverwrite));
        Files->selectFile(Path("a.mp3"));
        Accept(Files);
    });
    ASSERT_TRUE(Save.Execute());
    EXPECT_EQ(Save.FileName, Path("a.mp3"));
}

} // namespace
