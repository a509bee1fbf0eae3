#include "SaveForm.h"
#include "Errors.h"
#include "FileAccess.h"
#include "ID3v1.h"
#include "MsgUtils.h"
#include "MutagenTags.h"
#include "Segmora.h"
#include "TestFiles.h"

#include "UiTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

// The fixture keeps the main window's two folders.
class SaveFormTest : public ::testing::Test, public IFolderHistory {
protected:
    QString LastOpenFolder() const override { return OpenFolder; }
    QString LastSaveFolder() const override { return SaveFolder; }
    void SetLastSaveFolder(const QString& Value) override { SaveFolder = Value; }

    void SetUp() override {
        Main.setGeometry(70, 90, 640, 480);
        Main.show();
        SetMainWindow(&Main);
        Dialog = std::make_unique<TfrmSave>(&Main, this);
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
    // Cuts 0.2 to 0.8 s of cbr-128-info.mp3 to the dialog's file with its
    // ID3v1 record and, when WithFields, its ID3v2 fields; the file's name.
    std::string CutAsTheDialogSays(bool WithFields) {
        TSegmora Cutter;
        Cutter.SetSourceFile(FixturePath("cbr-128-info.mp3"));
        Cutter.SetDestFile(QFile::encodeName(Dialog->FileName()).toStdString());
        Cutter.SetSelStart(200);
        Cutter.SetSelEnd(800);
        Cutter.SetID3Info(Dialog->ID3Info());
        if (WithFields)
            Cutter.SetTagFields(Dialog->TagFields());
        Cutter.Execute(true);
        return QFile::encodeName(Dialog->FileName()).toStdString();
    }
    // Opens the file dialog of the speed button Name, lets Check look at it
    // and chooses Chosen in it; an empty Chosen cancels it.
    void RunFileDialog(
        const char* Name, const QString& Chosen,
        std::function<void(QFileDialog*)> Check = [](QFileDialog*) {}) {
        Dialog->show();
        OnNextModal([&](QWidget* Window) {
            auto* Files = qobject_cast<QFileDialog*>(Window);
            ASSERT_NE(Files, nullptr);
            Check(Files);
            Files->selectFile(Chosen);
            Chosen.isEmpty() ? Files->reject() : static_cast<QDialog*>(Files)->accept();
        });
        Child<QToolButton>(Name)->click();
    }
    QList<QLineEdit*> TagEdits() const {
        return {Dialog->edtTitle(), Dialog->edtArtist(), Dialog->edtAlbum(), Dialog->edtYear(),
                Dialog->edtComment()};
    }
    void SetTagFields(const QStringList& Texts) {
        for (int I = 0; I < 5; ++I)
            TagEdits()[I]->setText(Texts.value(I));
    }
    QStringList TagFields() const {
        QStringList Texts;
        for (QLineEdit* Edit : TagEdits())
            Texts << Edit->text();
        return Texts;
    }

    TTempDir Temp;
    QWidget Main;
    QString OpenFolder, SaveFolder;
    std::unique_ptr<TfrmSave> Dialog;
};

const QString FolderMissing =
    QStringLiteral("Information: The destination folder is not selected.");
const QString NameMissing =
    QStringLiteral("Information: The destination file name is not selected.");
const QString CreateQuestion =
    QStringLiteral("Confirm: The destination folder does not exist. Create?");

// Captions, limits and the order of the edits as the dialog shows them; the
// dialog has a fixed size, so the places of the components are left to the
// form and to a look at the real window.
TEST_F(SaveFormTest, TheFormAsDesigned) {
    EXPECT_EQ(Dialog->windowTitle(), QStringLiteral("Save"));
    EXPECT_EQ(Dialog->size(), QSize(444, 356));
    EXPECT_EQ(Dialog->minimumSize(), Dialog->maximumSize()) << "not resizable";
    const QStringList Names = {"GroupBox1", "GroupBox2", "sbnSelect", "btnOK",  "btnCancel",
                               "Label8",    "Label1",    "Label2",    "Label3", "Label4",
                               "Label5",    "Label6",    "Label7",    "Label9", "Label10"};
    const QStringList Texts = {" Destination ", " ID3 ",  "Select",    "OK",    "Cancel",
                               ".mp3",          "Folder", "File name", "Title", "Artist",
                               "Album",         "Year",   "Comment",   "Track", "Genre"};
    for (int I = 0; I < Names.size(); ++I) {
        QWidget* Widget = Child<QWidget>(Names[I].toLatin1().constData());
        const char* Property = qobject_cast<QGroupBox*>(Widget) ? "title" : "text";
        EXPECT_EQ(Widget->property(Property).toString(), Texts[I]) << Names[I].toStdString();
    }
    // The ID3v2 tag takes the text whole; the ID3v1 tag cuts it at 30 bytes.
    const std::pair<QLineEdit*, int> Limits[] = {
        {Dialog->edtFolder(), 200}, {Dialog->edtFileName(), 100}, {Dialog->edtTitle(), 250},
        {Dialog->edtArtist(), 250}, {Dialog->edtAlbum(), 250},    {Dialog->edtComment(), 250},
        {Dialog->edtYear(), 4},     {Dialog->edtTrack(), 7}};
    for (const auto& [Edit, Limit] : Limits)
        EXPECT_EQ(Edit->maxLength(), Limit) << Edit->objectName().toStdString();
    EXPECT_TRUE(Child<QPushButton>("btnOK")->isDefault());

    // Tab walks the edits only, the year and track before the comment, the
    // genre last.
    QStringList Order;
    QWidget* At = Dialog->edtFolder();
    do {
        if (At->focusPolicy() & Qt::TabFocus)
            Order << At->objectName();
        At = At->nextInFocusChain();
    } while (At != Dialog->edtFolder());
    EXPECT_EQ(Order, (QStringList{"edtFolder", "edtFileName", "edtTitle", "edtArtist", "edtAlbum",
                                  "edtYear", "edtTrack", "edtComment", "cbxGenre"}));
    // No genre first, then the named ones in their ID3v1 order.
    EXPECT_EQ(Dialog->cbxGenre()->itemText(0), QString());
    EXPECT_EQ(Dialog->cbxGenre()->itemText(1), QStringLiteral("Blues"));
    EXPECT_EQ(Dialog->cbxGenre()->count(), static_cast<int>(GenreNames().size()) + 1);
}

// OK joins folder and name as typed, or stays open: with a message for an
// empty entry, silently for a blank folder. The tag goes out untrimmed.
TEST_F(SaveFormTest, OkJoinsFolderAndNameAsTypedOrStaysOpen) {
    ASSERT_TRUE(QDir().mkpath(Path("out")));
    const struct {
        QString Folder, Name, Expected; // Expected empty: the dialog stays open
        QStringList Seen;
    } Cases[] = {
        {Path("out"), "part1", Path("out/part1.mp3"), {}},
        {Path("out/"), "part1", Path("out//part1.mp3"), {}},
        {Path("out"), "song.mp3", Path("out/song.mp3.mp3"), {}},
        {Path("out"), " two words ", Path("out/ two words .mp3"), {}},
        {"", "", "", {FolderMissing}},
        {"", "x", "", {FolderMissing}},
        {Path("out"), "", "", {NameMissing}},
        {"   ", "x", "", {}},
        {" \t\x01", "x", "", {}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE((Case.Folder + "|" + Case.Name).toStdString());
        Fill(Case.Folder, Case.Name);
        TBoxAnswers Boxes;
        EXPECT_EQ(PressOK(), !Case.Expected.isEmpty());
        EXPECT_EQ(Dialog->isVisible(), Case.Expected.isEmpty());
        if (!Case.Expected.isEmpty()) {
            EXPECT_EQ(Dialog->FileName(), Case.Expected);
        }
        EXPECT_EQ(Boxes.Seen, Case.Seen);
    }
    EXPECT_FALSE(QDir(Q(Temp.Path())).exists("   ")) << "a blank folder is never made";

    Fill(Path("out"), "part1");
    SetTagFields({" Title ", "Artist  ", "", "19x9", "  a comment"});
    ASSERT_TRUE(PressOK());
    EXPECT_EQ(Dialog->ID3Info(), (TID3Info{" Title ", "Artist  ", "", "19x9", "  a comment", 255}));
    EXPECT_TRUE(std::filesystem::is_empty(Temp.File("out"))) << "the dialog writes no file";
}

// The two questions: Cancel keeps the dialog open and changes nothing, Yes
// makes the folder with its parents or lets the existing file be replaced.
TEST_F(SaveFormTest, AMissingFolderOrAnExistingFileIsAcceptedOnlyWithYes) {
    WriteFileBytes(Temp.File("part1.mp3"), {7});
    const QString Replace = QStringLiteral("Confirm: The file \"") + Path("part1.mp3") +
                            QStringLiteral("\" already exists. Do you want to overwrite it?");
    const struct {
        QString Folder, Name, Answer, Question;
    } Cases[] = {{Path("a/b/c"), "part", "Cancel", CreateQuestion},
                 {Q(Temp.Path()), "part1", "Cancel", Replace},
                 {Path("a/b/c"), "part", "&Yes", CreateQuestion},
                 {Q(Temp.Path()), "part1", "&Yes", Replace}};
    for (const auto& Case : Cases) {
        Fill(Case.Folder, Case.Name);
        TBoxAnswers Boxes({Case.Answer});
        EXPECT_EQ(PressOK(), Case.Answer == "&Yes");
        EXPECT_EQ(Boxes.Seen, QStringList{Case.Question});
        EXPECT_EQ(QDir(Path("a")).exists(), Case.Answer == "&Yes") << "made only on Yes";
    }
    EXPECT_EQ(Dialog->FileName(), Path("part1.mp3"));
    EXPECT_EQ(ReadFileBytes(Temp.File("part1.mp3")), std::vector<uint8_t>{7});
    EXPECT_TRUE(QDir(Path("a/b/c")).exists());

    // Below a file no folder can be made.
    WriteFileBytes(Temp.File("file"), {1});
    Fill(Path("file/sub"), QStringLiteral("part"));
    TBoxAnswers Boxes({QStringLiteral("&Yes")});
    EXPECT_FALSE(PressOK());
    EXPECT_EQ(Boxes.Seen,
              (QStringList{CreateQuestion,
                           QStringLiteral("Warning: Unable to create the destination folder.")}));
}

TEST_F(SaveFormTest, SelectTakesFolderAndNameOfTheChosenFile) {
    ASSERT_TRUE(QDir().mkpath(Path("in")) && QDir().mkpath(Path("music")));
    const struct {
        QString Chosen, Folder, Name;
    } Cases[] = {
        {Path("music/take.wav"), Path("music"), "take"},
        {Path("music/a.b.mp3"), Path("music"), "a.b"},
        {"/take.wav", "/", "take"},
    };
    for (const auto& Case : Cases) {
        SaveFolder = Path("in");
        Fill("", "old");
        RunFileDialog("sbnSelect", Case.Chosen, [&](QFileDialog* Files) {
            EXPECT_EQ(QDir(Files->directory()).absolutePath(), Path("in"));
            EXPECT_EQ(Files->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(Files->nameFilters(), (QStringList{"MP3 Files (*.mp3)", "All Files (*.*)"}));
            EXPECT_EQ(Files->defaultSuffix(), QStringLiteral("mp3"));
            EXPECT_TRUE(Files->testOption(QFileDialog::DontConfirmOverwrite));
        });
        EXPECT_EQ(Dialog->edtFolder()->text(), Case.Folder);
        EXPECT_EQ(Dialog->edtFileName()->selectedText(), Case.Name) << "all of the name selected";
        EXPECT_EQ(SaveFolder, Case.Folder);
    }
    RunFileDialog("sbnSelect", "");
    EXPECT_EQ(Dialog->edtFolder()->text() + Dialog->edtFileName()->text(), QStringLiteral("/take"));
}

TEST_F(SaveFormTest, LoadFillsTheTagFieldsOrEmptiesThem) {
    const QString Tagged = Q(FixturePath("id3v1-end.mp3"));
    TID3Info Source;
    ASSERT_TRUE(ReadID3Tag(FixturePath("id3v1-end.mp3"), Source));
    ASSERT_FALSE(Source.Title.empty());
    OpenFolder = QFileInfo(Tagged).absolutePath();
    RunFileDialog("sbnLoadFromFile", Tagged, [&](QFileDialog* Files) {
        EXPECT_EQ(QDir(Files->directory()).absolutePath(), OpenFolder);
        EXPECT_EQ(Files->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(Files->nameFilters(), (QStringList{"MP3 Files (*.mp3)", "All Files (*.*)"}));
    });
    EXPECT_EQ(TagFields(), (QStringList{Q(Source.Title), Q(Source.Artist), Q(Source.Album),
                                        Q(Source.Year), Q(Source.Comment)}));

    // A file that can't be read (another open keeps everyone out): the
    // error is shown, the fields stay.
    WriteFileBytes(Temp.File("busy.mp3"), {1});
    const int Busy = FileOpen(Temp.File("busy.mp3"), fmOpenReadWrite | fmShareExclusive);
    ASSERT_GE(Busy, 0);
    TBoxAnswers Boxes;
    RunFileDialog("sbnLoadFromFile", Path("busy.mp3"));
    FileClose(Busy);
    ASSERT_EQ(Boxes.Seen.size(), 1);
    EXPECT_TRUE(Boxes.Seen[0].startsWith(QStringLiteral("Error: "))) << Boxes.Seen[0].toStdString();
    EXPECT_EQ(Dialog->edtTitle()->text(), Q(Source.Title));

    Dialog->LoadID3Info(Q(FixturePath("cbr-128-info.mp3")));
    EXPECT_EQ(TagFields(), QStringList(5, QString()));
    EXPECT_EQ(OpenFolder, QFileInfo(Tagged).absolutePath()) << "Load keeps the open folder";

    // A tag another program wrote in ISO-8859-1 shows as it was meant.
    SKIP_WITHOUT_MUTAGEN();
    ASSERT_TRUE(MutagenTaggedCopy(Temp.File("other.mp3")));
    Dialog->LoadID3Info(Path("other.mp3"));
    EXPECT_EQ(TagFields(), (QStringList{"Beyonc\u00e9", "\u00dcber", "\u00bd", "", ""}));
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
    auto Save = [&](const QString& Name) {
        Fill(Q(Temp.Path()), Name);
        EXPECT_TRUE(PressOK());
        return CutAsTheDialogSays(false);
    };
    // "e" and a combining acute accent make one "é".
    SetTagFields({"Beyonc\u00e9", "\u00dcber e\u0301", "\u2713 done", "\u00bd\u2713",
                  QString(30, QChar(0x00e9))});
    const std::string Tagged = Save(QStringLiteral("tagged"));
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Tagged, Tag));
    EXPECT_EQ(Tag, (TID3Info{"Beyonc\xE9",
                             "\xDC"
                             "ber \xE9",
                             "? done", "\xBD?", std::string(30, '\xE9'), 255}));

    SetTagFields({});
    const std::string Plain = Save(QStringLiteral("plain"));
    EXPECT_FALSE(ReadID3Tag(Plain, Tag)) << "no text, no tag";
    EXPECT_EQ(FileSizeOf(Plain) + 128, FileSizeOf(Tagged));

    SKIP_WITHOUT_MUTAGEN();
    const std::string Read = "TIT2=Beyonc\xC3\xA9\nTPE1=\xC3\x9C"
                             "ber \xC3\xA9\nTALB=? done\n";
    EXPECT_EQ(MutagenReadID3v1(Tagged).substr(0, Read.size()), Read);
}

} // namespace

// The fields show an ID3v2 tag in full, before any ID3v1 tag; they leave
// the dialog as typed for the ID3v2 tag and in ISO-8859-1 for the ID3v1 tag,
// an empty field not given.
TEST_F(SaveFormTest, LoadReadsID3v2FirstAndStoreKeepsTheTextForIt) {
    SKIP_WITHOUT_MUTAGEN();
    ASSERT_TRUE(MutagenChapteredCopy(Temp.File("v24.mp3")));
    Dialog->LoadID3Info(Path("v24.mp3"));
    const QString Title = QString::fromUtf8(MutagenUnicodeTitle);
    EXPECT_EQ(TagFields(), (QStringList{Title, QStringLiteral("Ærø"), QStringLiteral("Chapters"),
                                        "2024", "Three chapters"}));
    EXPECT_EQ(Dialog->edtTrack()->text(), QStringLiteral("3/7"));
    EXPECT_EQ(Dialog->cbxGenre()->currentText(), QStringLiteral("Ambient"));

    Dialog->edtAlbum()->clear();
    Fill(Q(Temp.Path()), QStringLiteral("out"));
    ASSERT_TRUE(PressOK());
    TTagFields Expected{Title.toStdString(), "Ærø", std::nullopt, "2024",
                        "Three chapters",    "3/7", "Ambient"};
    EXPECT_EQ(Dialog->TagFields(), Expected);
    EXPECT_EQ(Dialog->ID3Info().Title, "Beyonc\xE9 ? D\xE9j\xE0 vu ?");
    EXPECT_EQ(Dialog->ID3Info().Genre, 26);
    EXPECT_EQ(Dialog->ID3Info().Track, 3);

    // A file with neither tag empties every field.
    Dialog->LoadID3Info(Q(FixturePath("cbr-128-info.mp3")));
    EXPECT_EQ(TagFields(), QStringList(5, QString()));
    EXPECT_EQ(Dialog->edtTrack()->text(), QString());
    EXPECT_EQ(Dialog->cbxGenre()->currentIndex(), 0);
}

// Through the cutter the typed title reaches the ID3v2 tag unchanged and the
// ID3v1 tag in ISO-8859-1.
TEST_F(SaveFormTest, TheCutterWritesTheTypedTextIntoBothTags) {
    SKIP_WITHOUT_MUTAGEN();
    const QString Title = QString::fromUtf8(MutagenUnicodeTitle);
    SetTagFields({Title});
    Dialog->edtTrack()->setText(QStringLiteral("2/5"));
    Fill(Q(Temp.Path()), QStringLiteral("both"));
    ASSERT_TRUE(PressOK());
    const std::string Saved = CutAsTheDialogSays(true);
    const std::string Read = MutagenReadID3v2(Saved, Temp.File("cover.out"));
    EXPECT_NE(Read.find("TIT2=" + Title.toStdString() + "\n"), std::string::npos) << Read;
    EXPECT_NE(Read.find("TRCK=2/5\n"), std::string::npos) << Read;
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Saved, Tag));
    EXPECT_EQ(Tag.Title, "Beyonc\xE9 ? D\xE9j\xE0 vu ?");
    EXPECT_EQ(Tag.Track, 2);
}
