#include "SaveForm.h"
#include "Errors.h"
#include "FileAccess.h"
#include "ID3v1.h"
#include "MsgUtils.h"
#include "MutagenTags.h"
#include "Segmora.h"
#include "TestFiles.h"

#include "UiTestSupport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

QString Q(const std::string& Text) {
    return QString::fromStdString(Text);
}

class TFolders : public IFolderHistory {
public:
    QString Open, Save;
    QString LastOpenFolder() const override { return Open; }
    QString LastSaveFolder() const override { return Save; }
    void SetLastSaveFolder(const QString& Value) override { Save = Value; }
};

// Answers every message box that comes up while it lives: with the buttons
// named in Answers in turn, then with OK. Seen holds "Caption: text" of each.
class TBoxAnswers {
public:
    explicit TBoxAnswers(QStringList Answers = {}) : FAnswers(std::move(Answers)) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
        FTimer.start(5);
    }
    QStringList Seen;

private:
    void Poll() {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!Box || !Box->isVisible())
            return;
        Seen << Box->windowTitle() + QStringLiteral(": ") + Box->text();
        const QString Answer = FAnswers.isEmpty() ? QStringLiteral("OK") : FAnswers.takeFirst();
        for (QPushButton* Button : Box->findChildren<QPushButton*>())
            if (Button->text() == Answer) {
                Button->click();
                return;
            }
        ADD_FAILURE() << "no button " << Answer.toStdString();
        Box->reject();
    }
    QStringList FAnswers;
    QTimer FTimer;
};

class SaveFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        Main.setGeometry(70, 90, 640, 480);
        Main.show();
        SetMainWindow(&Main);
        Dialog = std::make_unique<TfrmSave>(&Main, &Folders);
        frmSave = Dialog.get();
    }
    void TearDown() override {
        frmSave = nullptr;
        SetMainWindow(nullptr);
    }

    template <typename T> T* Child(const char* Name) const {
        T* Found = Dialog->findChild<T*>(QLatin1String(Name));
        EXPECT_NE(Found, nullptr) << Name;
        return Found;
    }
    QString Path(const std::string& Name) const { return Q(Temp.File(Name)); }
    void Fill(const QString& Folder, const QString& Name) {
        Dialog->edtFolder()->setText(Folder);
        Dialog->edtFileName()->setText(Name);
    }
    // Clicks OK on the dialog shown without a modal loop; true when that
    // closed it with OK.
    bool PressOK() {
        Dialog->setResult(0);
        Dialog->show();
        Child<QPushButton>("btnOK")->click();
        return !Dialog->isVisible() && Dialog->result() == QDialog::Accepted;
    }
    // The file dialog that the speed button Name opens, handed to Action.
    void RunFileDialog(const char* Name, std::function<void(QFileDialog*)> Action) {
        Dialog->show();
        OnNextModal([Action](QWidget* Window) {
            auto* Files = qobject_cast<QFileDialog*>(Window);
            ASSERT_NE(Files, nullptr);
            Action(Files);
        });
        Child<QToolButton>(Name)->click();
    }
    QStringList TagFields() const {
        return {Dialog->edtTitle()->text(), Dialog->edtArtist()->text(), Dialog->edtAlbum()->text(),
                Dialog->edtYear()->text(), Dialog->edtComment()->text()};
    }

    TTempDir Temp;
    QWidget Main;
    TFolders Folders;
    std::unique_ptr<TfrmSave> Dialog;
};

const QString FolderMissing =
    QStringLiteral("Information: The destination folder is not selected.");
const QString NameMissing =
    QStringLiteral("Information: The destination file name is not selected.");
const QString CreateQuestion =
    QStringLiteral("Confirm: The destination folder does not exist. Create?");

TEST_F(SaveFormTest, TheFormAsDesigned) {
    EXPECT_EQ(Dialog->windowTitle(), QStringLiteral("Save"));
    EXPECT_EQ(Dialog->size(), QSize(444, 328));
    EXPECT_EQ(Dialog->minimumSize(), Dialog->maximumSize()) << "not resizable";

    struct TPlace {
        const char* Name;
        QRect Geometry; // width or height 0: not fixed
        const char* Text;
    };
    const TPlace Places[] = {
        {"GroupBox1", {10, 7, 423, 94}, " Destination "},
        {"edtFolder", {68, 24, 269, 0}, nullptr},
        {"sbnSelect", {344, 24, 60, 22}, "Select"},
        {"edtFileName", {68, 56, 149, 0}, nullptr},
        {"Label8", {224, 60, 0, 0}, ".mp3"},
        {"GroupBox2", {10, 109, 423, 172}, " ID3 "},
        {"btnOK", {279, 293, 75, 25}, "OK"},
        {"btnCancel", {358, 293, 75, 25}, "Cancel"},
    };
    for (const auto& Place : Places) {
        auto* Widget = Child<QWidget>(Place.Name);
        ASSERT_NE(Widget, nullptr);
        const QRect Is = Widget->geometry();
        EXPECT_EQ(Is.topLeft(), Place.Geometry.topLeft()) << Place.Name;
        if (Place.Geometry.width()) {
            EXPECT_EQ(Is.width(), Place.Geometry.width()) << Place.Name;
        }
        if (Place.Geometry.height()) {
            EXPECT_EQ(Is.height(), Place.Geometry.height()) << Place.Name;
        }
        if (!Place.Text)
            continue;
        QString Text;
        if (auto* Box = qobject_cast<QGroupBox*>(Widget))
            Text = Box->title();
        else if (auto* Button = qobject_cast<QAbstractButton*>(Widget))
            Text = Button->text();
        else if (auto* Label = qobject_cast<QLabel*>(Widget))
            Text = Label->text();
        EXPECT_EQ(Text, QLatin1String(Place.Text)) << Place.Name;
    }
    const std::pair<const char*, const char*> Labels[] = {
        {"Label1", "Folder"}, {"Label2", "File name"}, {"Label3", "Title"}, {"Label4", "Artist"},
        {"Label5", "Album"},  {"Label7", "Comment"},   {"Label6", "Year"}};
    for (const auto& [Name, Text] : Labels)
        EXPECT_EQ(Child<QLabel>(Name)->text(), QLatin1String(Text));

    const std::pair<QLineEdit*, int> Limits[] = {
        {Dialog->edtFolder(), 200}, {Dialog->edtFileName(), 100}, {Dialog->edtTitle(), 30},
        {Dialog->edtArtist(), 30},  {Dialog->edtAlbum(), 30},     {Dialog->edtComment(), 30},
        {Dialog->edtYear(), 4}};
    for (const auto& [Edit, Limit] : Limits)
        EXPECT_EQ(Edit->maxLength(), Limit) << Edit->objectName().toStdString();
    EXPECT_EQ(Dialog->edtTitle()->width(), 337);
    EXPECT_EQ(Dialog->edtComment()->width(), 337);
    EXPECT_EQ(Dialog->edtYear()->width(), 49);
    EXPECT_LT(Dialog->edtComment()->y(), Dialog->edtYear()->y());
    auto* Load = Child<QToolButton>("sbnLoadFromFile");
    EXPECT_EQ(Load->size(), QSize(100, 24));
    EXPECT_EQ(Load->geometry().right(), Dialog->edtComment()->geometry().right());
    EXPECT_GT(Load->geometry().bottom(), Dialog->edtYear()->y());

    // Tab walks the edits only, the year before the comment.
    QStringList Order;
    QWidget* At = Dialog->edtFolder();
    do {
        if (At->focusPolicy() & Qt::TabFocus)
            Order << At->objectName();
        At = At->nextInFocusChain();
    } while (At != Dialog->edtFolder());
    EXPECT_EQ(Order, (QStringList{"edtFolder", "edtFileName", "edtTitle", "edtArtist", "edtAlbum",
                                  "edtYear", "edtComment"}));
    EXPECT_TRUE(Child<QPushButton>("btnOK")->isDefault());

    // The buttons keep to the lower right corner, Load to the group's right.
    Dialog->show();
    Dialog->setFixedSize(544, 428);
    EXPECT_EQ(Child<QPushButton>("btnOK")->pos(), QPoint(379, 393));
    EXPECT_EQ(Child<QPushButton>("btnCancel")->pos(), QPoint(458, 393));
    const QPoint LoadAt = Load->pos();
    Child<QGroupBox>("GroupBox2")->resize(523, 172);
    EXPECT_EQ(Load->pos(), LoadAt + QPoint(100, 0));
}

TEST_F(SaveFormTest, OkJoinsFolderAndNameAsTypedAndKeepsTheTagUntrimmed) {
    ASSERT_TRUE(QDir().mkpath(Path("out")));
    const struct {
        QString Folder, Name, Expected;
    } Cases[] = {
        {Path("out"), "part1", Path("out/part1.mp3")},
        {Path("out/"), "part1", Path("out//part1.mp3")},
        {Path("out"), "song.mp3", Path("out/song.mp3.mp3")},
        {Path("out"), " two words ", Path("out/ two words .mp3")},
    };
    for (const auto& Case : Cases) {
        Fill(Case.Folder, Case.Name);
        TBoxAnswers Boxes;
        EXPECT_TRUE(PressOK()) << Case.Name.toStdString();
        EXPECT_EQ(Dialog->FileName(), Case.Expected);
        EXPECT_EQ(Boxes.Seen, QStringList());
    }

    Dialog->edtTitle()->setText(QStringLiteral(" Title "));
    Dialog->edtArtist()->setText(QStringLiteral("Artist  "));
    Dialog->edtAlbum()->clear();
    Dialog->edtYear()->setText(QStringLiteral("19x9"));
    Dialog->edtComment()->setText(QStringLiteral("  a comment"));
    ASSERT_TRUE(PressOK());
    EXPECT_EQ(Dialog->ID3Info(), (TID3Info{" Title ", "Artist  ", "", "19x9", "  a comment", 255}));
    EXPECT_TRUE(std::filesystem::is_empty(Temp.File("out"))) << "the dialog writes no file";
}

TEST_F(SaveFormTest, MissingEntriesKeepItOpen) {
    const QString Blank = QStringLiteral("   ");
    const struct {
        QString Folder, Name;
        QStringList Seen;
    } Cases[] = {
        {"", "", {FolderMissing}},
        {"", "x", {FolderMissing}},
        {Path(""), "", {NameMissing}},
        {Blank, "x", {}},
        {QStringLiteral(" \t\x01"), "x", {}},
    };
    for (const auto& Case : Cases) {
        Fill(Case.Folder, Case.Name);
        TBoxAnswers Boxes;
        EXPECT_FALSE(PressOK());
        EXPECT_TRUE(Dialog->isVisible());
        EXPECT_EQ(Boxes.Seen, Case.Seen)
            << Case.Folder.toStdString() << "|" << Case.Name.toStdString();
    }
    EXPECT_FALSE(QDir(Q(Temp.Path())).exists(Blank)) << "a blank folder is never made";
}

TEST_F(SaveFormTest, AMissingFolderIsMadeOnlyWhenTheAnswerIsYes) {
    Fill(Path("a/b/c"), QStringLiteral("part"));
    {
        TBoxAnswers Boxes({QStringLiteral("Cancel")});
        EXPECT_FALSE(PressOK());
        EXPECT_EQ(Boxes.Seen, QStringList{CreateQuestion});
    }
    EXPECT_FALSE(QDir(Path("a")).exists());
    {
        TBoxAnswers Boxes({QStringLiteral("&Yes")});
        EXPECT_TRUE(PressOK());
        EXPECT_EQ(Boxes.Seen, QStringList{CreateQuestion});
    }
    EXPECT_TRUE(QDir(Path("a/b/c")).exists());
    EXPECT_EQ(Dialog->FileName(), Path("a/b/c/part.mp3"));

    // Below a file no folder can be made.
    WriteFileBytes(Temp.File("file"), {1});
    Fill(Path("file/sub"), QStringLiteral("part"));
    TBoxAnswers Boxes({QStringLiteral("&Yes")});
    EXPECT_FALSE(PressOK());
    EXPECT_EQ(Boxes.Seen,
              (QStringList{CreateQuestion,
                           QStringLiteral("Warning: Unable to create the destination folder.")}));
    EXPECT_FALSE(CheckDestFolder(QStringLiteral(" \n ")));
    EXPECT_EQ(Boxes.Seen.size(), 2) << "a blank folder is refused without a word";
}

TEST_F(SaveFormTest, AnExistingFileIsReplacedOnlyWhenTheAnswerIsYes) {
    WriteFileBytes(Temp.File("part1.mp3"), {7});
    const QString Question = QStringLiteral("Confirm: The file \"") + Path("part1.mp3") +
                             QStringLiteral("\" already exists. Do you want to overwrite it?");
    Fill(Q(Temp.Path()), QStringLiteral("part1"));
    {
        TBoxAnswers Boxes({QStringLiteral("Cancel")});
        EXPECT_FALSE(PressOK());
        EXPECT_EQ(Boxes.Seen, QStringList{Question});
    }
    TBoxAnswers Boxes({QStringLiteral("&Yes")});
    EXPECT_TRUE(PressOK());
    EXPECT_EQ(Boxes.Seen, QStringList{Question});
    EXPECT_EQ(ReadFileBytes(Temp.File("part1.mp3")), std::vector<uint8_t>{7});
}

TEST_F(SaveFormTest, SelectTakesFolderAndNameOfTheChosenFile) {
    ASSERT_TRUE(QDir().mkpath(Path("in")));
    ASSERT_TRUE(QDir().mkpath(Path("music")));
    const struct {
        QString Chosen, Folder, Name;
    } Cases[] = {
        {Path("music/take.wav"), Path("music"), "take"},
        {Path("music/a.b.mp3"), Path("music"), "a.b"},
        {"/take.wav", "/", "take"},
    };
    for (const auto& Case : Cases) {
        Folders.Save = Path("in");
        Fill("", "old");
        RunFileDialog("sbnSelect", [&](QFileDialog* Files) {
            EXPECT_EQ(QDir(Files->directory()).absolutePath(), Path("in"));
            EXPECT_EQ(Files->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(Files->nameFilters(), (QStringList{"MP3 Files (*.mp3)", "All Files (*.*)"}));
            EXPECT_EQ(Files->defaultSuffix(), QStringLiteral("mp3"));
            EXPECT_TRUE(Files->testOption(QFileDialog::DontConfirmOverwrite));
            Files->selectFile(Case.Chosen);
            static_cast<QDialog*>(Files)->accept();
        });
        EXPECT_EQ(Dialog->edtFolder()->text(), Case.Folder);
        EXPECT_EQ(Dialog->edtFileName()->text(), Case.Name);
        EXPECT_EQ(Dialog->edtFileName()->selectedText(), Case.Name);
        EXPECT_EQ(Folders.Save, Case.Folder);
    }

    RunFileDialog("sbnSelect", [](QFileDialog* Files) { Files->reject(); });
    EXPECT_EQ(Dialog->edtFolder()->text(), QStringLiteral("/"));
    EXPECT_EQ(Dialog->edtFileName()->text(), QStringLiteral("take"));
}

TEST_F(SaveFormTest, LoadFillsTheTagFieldsOrEmptiesThem) {
    const QString Tagged = Q(FixturePath("id3v1-end.mp3"));
    const QString DataDir = QFileInfo(Tagged).absolutePath();
    TID3Info Source;
    ASSERT_TRUE(ReadID3Tag(FixturePath("id3v1-end.mp3"), Source));
    Folders.Open = DataDir;
    Dialog->edtTitle()->setText(QStringLiteral("before"));
    RunFileDialog("sbnLoadFromFile", [&](QFileDialog* Files) {
        EXPECT_EQ(QDir(Files->directory()).absolutePath(), Folders.Open);
        EXPECT_EQ(Files->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(Files->nameFilters(), (QStringList{"MP3 Files (*.mp3)", "All Files (*.*)"}));
        Files->selectFile(Tagged);
        static_cast<QDialog*>(Files)->accept();
    });
    EXPECT_EQ(TagFields(), (QStringList{Q(Source.Title), Q(Source.Artist), Q(Source.Album),
                                        Q(Source.Year), Q(Source.Comment)}));
    EXPECT_FALSE(Source.Title.empty());

    // A file that can't be read (another open keeps everyone out): the
    // error is shown, the fields stay.
    WriteFileBytes(Temp.File("busy.mp3"), ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    {
        const int Busy = FileOpen(Temp.File("busy.mp3"), fmOpenReadWrite | fmShareExclusive);
        ASSERT_GE(Busy, 0);
        TBoxAnswers Boxes;
        RunFileDialog("sbnLoadFromFile", [&](QFileDialog* Files) {
            Files->selectFile(Path("busy.mp3"));
            static_cast<QDialog*>(Files)->accept();
        });
        FileClose(Busy);
        ASSERT_EQ(Boxes.Seen.size(), 1);
        EXPECT_TRUE(Boxes.Seen[0].startsWith(QStringLiteral("Error: ")))
            << Boxes.Seen[0].toStdString();
    }
    EXPECT_EQ(Dialog->edtTitle()->text(), Q(Source.Title));
    EXPECT_THROW(Dialog->LoadID3Info(Path("gone.mp3")), EOSError);

    Dialog->LoadID3Info(Q(FixturePath("cbr-128-info.mp3")));
    EXPECT_EQ(TagFields(), QStringList(5, QString()));
    EXPECT_EQ(Folders.Open, DataDir) << "Load keeps the open folder";
}

TEST_F(SaveFormTest, ShowPlacesFocusesAndAnswersEnterAndEsc) {
    ASSERT_TRUE(QDir().mkpath(Path("out")));
    QWidget* Focused = nullptr;
    QPoint Placed;
    OnNextModal([&](QWidget* Window) {
        Placed = Window->pos();
        Focused = Window->focusWidget();
        TypeKey(Window, Qt::Key_Escape);
    });
    EXPECT_FALSE(ShowSaveDialog());
    EXPECT_EQ(Placed, Main.pos() + QPoint(3, 22));
    EXPECT_EQ(Focused, Dialog->edtFolder()) << "an empty folder box is focused";

    Fill(Path("out"), QStringLiteral("part1"));
    QString Selected;
    OnNextModal([&](QWidget* Window) {
        Focused = Window->focusWidget();
        Selected = Dialog->edtFileName()->selectedText();
        TypeKey(Window, Qt::Key_Return);
    });
    EXPECT_TRUE(ShowSaveDialog());
    EXPECT_EQ(Focused, Dialog->edtFileName());
    EXPECT_EQ(Selected, QStringLiteral("part1"));
    EXPECT_EQ(Dialog->FileName(), Path("out/part1.mp3"));

    OnNextModal([&](QWidget*) { Child<QPushButton>("btnCancel")->click(); });
    EXPECT_FALSE(ShowSaveDialog());
}

// The tag leaves the dialog in ISO-8859-1 and goes through the cutter into
// the file, where every tag reader finds the same characters; without text
// the segment gets no tag.
TEST_F(SaveFormTest, TheCutterWritesTheDialogsTag) {
    ASSERT_TRUE(QDir().mkpath(Path("out")));
    auto Save = [&](const QString& Name) {
        Fill(Path("out"), Name);
        EXPECT_TRUE(PressOK());
        TSegmora Cutter;
        Cutter.SetSourceFile(FixturePath("cbr-128-info.mp3"));
        Cutter.SetDestFile(QFile::encodeName(Dialog->FileName()).toStdString());
        Cutter.SetSelStart(2);
        Cutter.SetSelEnd(8);
        Cutter.SetID3Info(Dialog->ID3Info());
        Cutter.Execute(true);
        return Temp.File("out/" + Name.toStdString() + ".mp3");
    };

    // "e" and a combining acute accent make one "é".
    Dialog->edtTitle()->setText(QStringLiteral("Beyonc\u00e9"));
    Dialog->edtArtist()->setText(QStringLiteral("\u00dcber e\u0301"));
    Dialog->edtAlbum()->setText(QStringLiteral("\u2713 done"));
    Dialog->edtYear()->setText(QStringLiteral("\u00bd\u2713"));
    Dialog->edtComment()->setText(QString(30, QChar(0x00e9)));
    const std::string Tagged = Save(QStringLiteral("tagged"));
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Tagged, Tag));
    EXPECT_EQ(Tag, (TID3Info{"Beyonc\xE9",
                             "\xDC"
                             "ber \xE9",
                             "? done", "\xBD?", std::string(30, '\xE9'), 255}));

    for (QLineEdit* Edit : {Dialog->edtTitle(), Dialog->edtArtist(), Dialog->edtAlbum(),
                            Dialog->edtYear(), Dialog->edtComment()})
        Edit->clear();
    const std::string Plain = Save(QStringLiteral("plain"));
    EXPECT_FALSE(ReadID3Tag(Plain, Tag)) << "no text, no tag";
    EXPECT_EQ(FileSizeOf(Plain) + 128, FileSizeOf(Tagged));

    if (!MutagenAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing";
    const std::string Read = MutagenReadID3v1(Tagged);
    for (const char* Line : {"TIT2=Beyonc\xC3\xA9\n",
                             "TPE1=\xC3\x9C"
                             "ber \xC3\xA9\n",
                             "TALB=? done\n"})
        EXPECT_NE(Read.find(Line), std::string::npos) << Read;
}

// A tag another program wrote in ISO-8859-1 shows as it was meant.
TEST_F(SaveFormTest, LoadDecodesIso8859_1) {
    if (!MutagenAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing";
    const std::string File = Temp.File("other.mp3");
    WriteFileBytes(File, ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    ASSERT_TRUE(MutagenWriteID3v1(File, "Beyonc\xC3\xA9",
                                  "\xC3\x9C"
                                  "ber",
                                  "\xC2\xBD"));
    Dialog->LoadID3Info(Q(File));
    EXPECT_EQ(Dialog->edtTitle()->text(), QStringLiteral("Beyonc\u00e9"));
    EXPECT_EQ(Dialog->edtArtist()->text(), QStringLiteral("\u00dcber"));
    EXPECT_EQ(Dialog->edtAlbum()->text(), QStringLiteral("\u00bd"));
}

} // namespace
