// The whole window, driven as a person would: real fixtures, real playback
// (in real time through the fake audio sink), the real dialogs answered as
// they come up.

#include "MainForm.h"

#include "AboutBox.h"
#include "FileAccess.h"
#include "FrameClock.h"

#include "PlayAudio.h"
#include "OverviewBuilder.h"
#include "Processes.h"
#include "Segmora.h"
#include "SourceGrid.h"
#include "SplitPage.h"
#include "SplitPlan.h"
#include "TestFiles.h"
#include "TimeFormat.h"
#include "TrackLine.h"
#include "UiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace {

// Answers the modal dialogs as they come up, one step each, in order; a
// dialog beyond the last step is recorded and rejected.
class TDialogScript : public QObject {
public:
    using TStep = std::function<void(QWidget*)>;

    explicit TDialogScript(std::vector<TStep> Steps) : FSteps(std::move(Steps)) {
        connect(&FPoll, &QTimer::timeout, this, &TDialogScript::Poll);
        FPoll.start(10);
    }

    size_t Answered() const { return FNext; }
    bool Finished() const { return FNext == FSteps.size(); }
    QStringList Unexpected;

private:
    void Poll() {
        QWidget* Modal = QApplication::activeModalWidget();
        if (!Modal || !Modal->isVisible() || Modal->property("answered").toBool())
            return;
        Modal->setProperty("answered", true);
        if (FNext >= FSteps.size()) {
            auto* Box = qobject_cast<QMessageBox*>(Modal);
            Unexpected << (Box ? Box->text() : Modal->windowTitle());
            QMetaObject::invokeMethod(Modal, "reject", Qt::QueuedConnection);
            return;
        }
        FSteps[FNext++](Modal);
    }

    std::vector<TStep> FSteps;
    size_t FNext = 0;
    QTimer FPoll;
};

// A message box step: records the text, then presses the button captioned
// Caption.
TDialogScript::TStep Press(const QString& Caption, QString* Text = nullptr) {
    return [Caption, Text](QWidget* Modal) {
        auto* Box = qobject_cast<QMessageBox*>(Modal);
        ASSERT_NE(Box, nullptr) << Modal->windowTitle().toStdString();
        if (Text)
            *Text = Box->text();
        for (QPushButton* Button : Box->findChildren<QPushButton*>())
            if (Button->text() == Caption) {
                QMetaObject::invokeMethod(Button, "click", Qt::QueuedConnection);
                return;
            }
        ADD_FAILURE() << "no button " << Caption.toStdString();
    };
}

// A file dialog step: chooses Path.
TDialogScript::TStep Choose(const QString& Path, QString* Title = nullptr) {
    return [Path, Title](QWidget* Modal) {
        auto* Dialog = qobject_cast<QFileDialog*>(Modal);
        ASSERT_NE(Dialog, nullptr) << Modal->windowTitle().toStdString();
        if (Title)
            *Title = Dialog->windowTitle();
        // selectFile leaves a name box that has the focus alone.
        Dialog->selectFile(Path);
        if (auto* Name = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            Name->setText(Path);
        QMetaObject::invokeMethod(Dialog, "accept", Qt::QueuedConnection);
    };
}

const QString Yes = QStringLiteral("&Yes");
const QString Cancel = QStringLiteral("Cancel");
const QString YesToAll = QStringLiteral("Yes to &All");
const QString OK = QStringLiteral("OK");

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // Settings and the diagnostic folder in folders of the test's own.
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("quenby"),
                  QStringLiteral("segmora"))
            .clear();
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(Data.Path()));
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(Data.File("cache")));
        OpenWindow();
    }

    void TearDown() override { CloseWindow(); }

    void OpenWindow() {
        Main = std::make_unique<TfrmMain>();
        frmMain = Main.get();
        Save = std::make_unique<TfrmSave>(Main.get(), Main.get());
        frmSave = Save.get();
        Main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Main.get()));
    }

    void CloseWindow() {
        frmSave = nullptr;
        Save.reset();
        frmMain = nullptr;
        Main.reset();
    }

    template <typename T = QWidget> T* Find(const char* Name) const {
        T* Child = Main->findChild<T*>(QLatin1String(Name));
        EXPECT_NE(Child, nullptr) << Name;
        return Child;
    }
    QString Text(const char* Name) const { return Find<QLabel>(Name)->text(); }
    QAction* Action(const char* Name) const { return Find<QAction>(Name); }
    QLineEdit* Edit(const char* Name) const { return Find<QLineEdit>(Name); }
    bool Enabled(const char* Name) const { return Find(Name)->isEnabled(); }
    TTrackLine& Track() const { return Main->TrackLine(); }

    void Drop(const QString& Path) {
        QMimeData Data;
        Data.setUrls({QUrl::fromLocalFile(Path)});
        const QPoint Where(200, 150);
        QDragEnterEvent Enter(Where, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Main.get(), &Enter);
        ASSERT_TRUE(Enter.isAccepted());
        QDropEvent Dropped(QPointF(Where), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Main.get(), &Dropped);
        // The open runs once the drop has returned.
        QTest::qWait(20);
    }

    // Opens a playable file by dropping it.
    void Open(const QString& Path) {
        Drop(Path);
        ASSERT_EQ(Text("lblSourceFileName"), Path);
        ASSERT_TRUE(Main->Player().IsOpen());
    }

    // Makes the window the active one, as a click on it would.
    bool Activate() {
        Main->activateWindow();
        return QTest::qWaitForWindowActive(Main.get());
    }

    // A key as the keyboard gives it to the control that has the focus.
    void Key(Qt::Key Code, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
        QWidget* Target = QApplication::focusWidget();
        ASSERT_NE(Target, nullptr);
        QTest::keyClick(Target, Code, Modifiers);
    }

    // Plays from the cursor, holds the cursor still once it is 0.3 s in (a
    // mark from the cursor would then lag what is heard by 0.6 s), presses
    // Code, and gives the player's positions in ms just before and after.
    std::pair<int64_t, int64_t> PressWhilePlaying(Qt::Key Code) {
        Find<QToolButton>("tbnPlay")->click();
        const int64_t From = Track().CurPos();
        EXPECT_TRUE(QTest::qWaitFor([&] { return Track().CurPos() >= From + 300; }, 3000));
        Find<QTimer>("CursorTimer")->stop();
        Find<QTimer>("Timer")->stop();
        QTest::qWait(600);
        const int64_t Before = Main->Player().Position() / 10'000;
        Key(Code);
        return {Before, Main->Player().Position() / 10'000};
    }

    QString ErrorInfo(const QString& Name) const {
        return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
               QStringLiteral("/errorinfo/") + Name;
    }

    TTempDir Data;
    TTempDir Work;
    std::unique_ptr<TfrmMain> Main;
    std::unique_ptr<TfrmSave> Save;
};

const QString Cbr = Q(FixturePath("cbr-128-info.mp3")); // 3.05 s
const QString Tagged = Q(FixturePath("id3v1-end.mp3")); // 2.06 s
const QString Layer2 = Q(FixturePath("layer2.mp3"));    // 2.01 s

} // namespace

TEST_F(MainWindow, StartsInTheNoFileStateWithoutSettings) {
    EXPECT_EQ(Main->windowTitle(), QStringLiteral("Segmora"));
    EXPECT_EQ(Main->size(), QSize(432, 303));
    EXPECT_EQ(Main->minimumSize(), QSize(432, 303));
    EXPECT_GT(Main->maximumWidth(), 432);
    EXPECT_EQ(Main->pos(), QPoint(231, 239));

    EXPECT_EQ(Text("lblSourceFileName"), QStringLiteral("There is no selected file"));
    EXPECT_EQ(Text("lblPosition"), QStringLiteral("Position : not selected"));
    EXPECT_EQ(Text("lblStartSelection"), QStringLiteral("Start : not selected."));
    EXPECT_EQ(Text("lblEndSelection"), QStringLiteral("End : not selected."));
    EXPECT_EQ(Text("lblHint"),
              QStringLiteral("Hint : select a source file that should be splited."));
    EXPECT_FALSE(Enabled("lblPosition"));
    EXPECT_FALSE(Enabled("tbnPlay"));
    EXPECT_FALSE(Enabled("tbnPause"));
    EXPECT_FALSE(Enabled("sbnSplitByParts"));
    for (const char* Name : {"acnGoStart", "acnGoEnd", "acnSelectStart", "acnSelectEnd",
                             "acnPlaySelected", "acnSaveSelected"})
        EXPECT_FALSE(Action(Name)->isEnabled()) << Name;
    EXPECT_EQ(Edit("edtPartCount")->text(), QStringLiteral("2"));
    EXPECT_FALSE(Track().Enabled());
    EXPECT_EQ(Find<QTabWidget>("PageControl")->currentIndex(), 0);
    EXPECT_EQ(Action("acnSaveSelected")->toolTip(), QStringLiteral("Save the selected segment"));
    EXPECT_EQ(Find<QToolButton>("tbnSelectStart")->toolTip(),
              QStringLiteral("Select the start of segment"));
    ASSERT_TRUE(Activate());
    EXPECT_EQ(QApplication::focusWidget(), Find("gbxSource"));
}

TEST_F(MainWindow, OpensByDialogAndByDropAndClosesOnAnUnusableDrop) {
    TDialogScript Answers({Choose(Tagged)});
    Find<QPushButton>("btnSelectSourceFile")->click();
    EXPECT_TRUE(Answers.Finished());
    EXPECT_EQ(Text("lblSourceFileName"), Tagged);
    EXPECT_EQ(Edit("edtOutputFilePrefix")->text(), QStringLiteral("id3v1-end-"));
    EXPECT_EQ(Text("lblPosition"), QStringLiteral("Position : 00:00.0 of 00:02.0"));
    EXPECT_EQ(Text("lblHint"),
              QStringLiteral("Hint : select a start of segment that should be extracted."));
    EXPECT_EQ(Main->LastOpenFolder(), QFileInfo(Tagged).absolutePath());
    EXPECT_TRUE(Enabled("tbnPlay"));
    EXPECT_FALSE(Enabled("tbnPause"));
    EXPECT_TRUE(Action("acnSelectStart")->isEnabled());
    EXPECT_FALSE(Action("acnSaveSelected")->isEnabled());
    EXPECT_TRUE(Track().Enabled());
    EXPECT_EQ(Track().MaxPos(), 2038); // 78 frames of 26.122 ms, to the nearest millisecond

    Main->SetLastOpenFolder(QStringLiteral("/elsewhere"));
    frmSave->edtFileName()->setText(QStringLiteral("earlier cut"));
    Open(Cbr);
    EXPECT_EQ(frmSave->edtFileName()->text(), QString());
    EXPECT_EQ(frmSave->edtTitle()->text(), QString()) << "no tag, empty fields";
    EXPECT_EQ(Edit("edtOutputFilePrefix")->text(), QStringLiteral("cbr-128-info-"));
    EXPECT_EQ(Text("lblPosition"), QStringLiteral("Position : 00:00.0 of 00:03.0"));
    EXPECT_EQ(Main->LastOpenFolder(), QStringLiteral("/elsewhere")) << "a drop keeps it";

    // A folder, then a file that is gone: the source is closed, its path
    // stays on show.
    for (const QString& Unusable : {Q(Work.Path()), Q(Work.File("gone.mp3"))}) {
        Open(Cbr);
        Drop(Unusable);
        EXPECT_EQ(Text("lblSourceFileName"), Cbr);
        EXPECT_FALSE(Main->Player().IsOpen());
        EXPECT_FALSE(Enabled("tbnPlay"));
        EXPECT_FALSE(Action("acnGoEnd")->isEnabled());
        EXPECT_EQ(Text("lblPosition"), QStringLiteral("Position : not selected"));
    }
}

TEST_F(MainWindow, PlaybackFollowsTheTimerAndStopsByItselfAtTheEnd) {
    Open(Layer2);
    Find<QToolButton>("tbnPlay")->click();
    EXPECT_FALSE(Enabled("tbnPlay"));
    EXPECT_TRUE(Enabled("tbnPause"));
    // The cursor and the position label follow playback, smoothly: at
    // least 25 moves a second.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Track().CurPos() >= 400; }, 3000));
    std::set<int64_t> Seen;
    for (QElapsedTimer Clock; !Clock.isValid() || Clock.elapsed() < 400; QTest::qWait(5)) {
        if (!Clock.isValid())
            Clock.start();
        Seen.insert(Track().CurPos());
    }
    EXPECT_GE(Seen.size(), 10u);
    EXPECT_NE(Text("lblPosition"), QStringLiteral("Position : 00:00.0 of 00:02.0"));

    // Near the end, so the end comes soon; the notification stops it.
    ASSERT_TRUE(Activate());
    Key(Qt::Key_End);
    EXPECT_EQ(Track().CurPos(), Track().MaxPos());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Enabled("tbnPlay"); }, 3000));
    EXPECT_FALSE(Enabled("tbnPause"));
}

TEST_F(MainWindow, KeysActWindowWideExceptInTheBoxesTheyAreTypedInto) {
    ASSERT_TRUE(Activate());
    QTabWidget* Pages = Find<QTabWidget>("PageControl");
    const auto TypeInto = [&](QLineEdit* Box, const QString& Typed) {
        Box->setFocus();
        Box->clear();
        for (QChar C : Typed)
            QTest::keyClick(Box, C.toLatin1());
        Key(Qt::Key_Home);
        Key(Qt::Key_End);
        Key(Qt::Key_1);
    };
    for (const bool Opened : {false, true}) {
        SCOPED_TRACE(Opened ? "a file open" : "no file");
        if (Opened) {
            Open(Tagged);
            ASSERT_TRUE(Activate());
            Key(Qt::Key_End);
            Key(Qt::Key_2); // a selection that typing must not touch
            Key(Qt::Key_Home);
            Key(Qt::Key_1);
        }
        Pages->setCurrentIndex(1);
        TypeInto(Edit("edtOutputFolder"), QStringLiteral("/music/2024"));
        EXPECT_EQ(Edit("edtOutputFolder")->text(), QStringLiteral("/music/20241"));
        TypeInto(Edit("edtOutputFilePrefix"), QStringLiteral("part1_"));
        EXPECT_EQ(Edit("edtOutputFilePrefix")->text(), QStringLiteral("part1_1"));
        TypeInto(Edit("edtPartCount"), QStringLiteral("12"));
        EXPECT_EQ(Edit("edtPartCount")->text(), QStringLiteral("121"));
        Pages->setCurrentIndex(0);
        if (Opened) {
            EXPECT_EQ(Track().SelStart(), 0);
            EXPECT_EQ(Track().SelEnd(), Track().MaxPos());
        }
    }
    // Elsewhere the keys are the window's.
    Find("gbxSource")->setFocus();
    Key(Qt::Key_End);
    Key(Qt::Key_1);
    EXPECT_EQ(Track().SelStart(), Track().MaxPos());
    EXPECT_EQ(Track().SelEnd(), -1);
    EXPECT_EQ(Text("lblHint"),
              QStringLiteral("Hint : select a end of segment that should be extracted."));
}

TEST_F(MainWindow, MarksKeepTheStartBeforeTheEnd) {
    Open(Tagged);
    ASSERT_TRUE(Activate());
    const QString AskStart =
        QStringLiteral("Hint : select a start of segment that should be extracted.");
    const QString AskEnd =
        QStringLiteral("Hint : select a end of segment that should be extracted.");

    Key(Qt::Key_End);
    Key(Qt::Key_2); // an end before any start
    EXPECT_EQ(Text("lblEndSelection"), QStringLiteral("End : 00:02.0"));
    EXPECT_EQ(Text("lblHint"), AskStart);
    EXPECT_FALSE(Action("acnSaveSelected")->isEnabled());

    Key(Qt::Key_1); // a start at the end clears the end
    EXPECT_EQ(Text("lblStartSelection"), QStringLiteral("Start : 00:02.0"));
    EXPECT_EQ(Text("lblEndSelection"), QStringLiteral("End : not selected."));
    EXPECT_EQ(Text("lblHint"), AskEnd);

    Key(Qt::Key_Home);
    Key(Qt::Key_2); // an end before the start clears the start
    EXPECT_EQ(Text("lblStartSelection"), QStringLiteral("Start : not selected."));
    EXPECT_EQ(Text("lblEndSelection"), QStringLiteral("End : 00:00.0"));
    EXPECT_EQ(Text("lblHint"), AskStart);
}

TEST_F(MainWindow, ATypedFolderEnablesSplitOnlyAtTheNextRefresh) {
    Open(Cbr);
    QTabWidget* Pages = Find<QTabWidget>("PageControl");
    Pages->setCurrentIndex(1);
    Edit("edtOutputFolder")->setFocus();
    // No digits: with a file open, 1 and 2 are the marks' keys.
    QTest::keyClicks(Edit("edtOutputFolder"), QStringLiteral("/music/parts"));
    EXPECT_EQ(Edit("edtOutputFolder")->text(), QStringLiteral("/music/parts"));
    EXPECT_FALSE(Enabled("sbnSplitByParts"));
    Pages->setCurrentIndex(0);
    EXPECT_TRUE(Enabled("sbnSplitByParts"));
    Edit("edtOutputFolder")->setText(QStringLiteral("   "));
    Find<QToolButton>("tbnPause")->click(); // disabled: no refresh
    EXPECT_TRUE(Enabled("sbnSplitByParts"));
    Find<QToolButton>("tbnPlay")->click();
    EXPECT_FALSE(Enabled("sbnSplitByParts"));
}

TEST_F(MainWindow, RefusedFilesEndInTheNoFileStateWithTheirMessageAndTheDump) {
    WriteBrokenTagFile(Work.File("broken.mp3"), ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    WriteTextFile(Work.File("text.mp3"), 300000);
    const QString Broken = Q(Work.File("broken.mp3"));
    const QString NotAudio = Q(Work.File("text.mp3"));
    const QString Invalid = QStringLiteral("Unable to open file. The file format is invalid.");
    // Refused before a player is built for it: no preparation is offered.
    auto NotMpegFile = [](const QString& File) {
        return QStringLiteral("Not an MPEG audio file: ") + File +
               QStringLiteral("\nNo run of MPEG audio frames makes up most of it.");
    };
    const QString NotMpeg = NotMpegFile(NotAudio);
    const QString Wave = Q(FixturePath("wav-renamed.mp3"));

    const struct {
        QString File;
        std::vector<TDialogScript::TStep> Questions; // before the warning
        QString Warning;
        size_t HeadBytes;
    } Cases[] = {
        {Broken,
         {Press(Cancel)},
         Invalid,
         static_cast<size_t>(FileSizeOf(Work.File("broken.mp3")))},
        {NotAudio, {}, NotMpeg, 204800},
        {Wave, {}, NotMpegFile(Wave), static_cast<size_t>(FileSizeOf(Wave.toStdString()))},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.File.toStdString());
        Open(Cbr);
        QFile::remove(ErrorInfo(QStringLiteral("head.dat")));
        QFile::remove(ErrorInfo(QStringLiteral("graph.grf")));
        QString Warning;
        auto Steps = Case.Questions;
        Steps.push_back(Press(OK, &Warning));
        TDialogScript Answers(Steps);
        Drop(Case.File);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Answers.Finished(); }));
        EXPECT_TRUE(Answers.Unexpected.isEmpty());
        EXPECT_EQ(Warning, Case.Warning);
        EXPECT_EQ(Text("lblSourceFileName"), QStringLiteral("There is no selected file"));
        EXPECT_EQ(Edit("edtOutputFilePrefix")->text(), QString());
        EXPECT_FALSE(Enabled("tbnPlay"));
        EXPECT_EQ(Text("lblHint"),
                  QStringLiteral("Hint : select a source file that should be splited."));

        const std::vector<uint8_t> Head = ReadFileBytes(ErrorInfo("head.dat").toStdString());
        const std::vector<uint8_t> Source = ReadFileBytes(Case.File.toStdString());
        EXPECT_EQ(Head, std::vector<uint8_t>(Source.begin(), Source.begin() + Case.HeadBytes));
        EXPECT_TRUE(QFileInfo(ErrorInfo(QStringLiteral("graph.grf"))).size() > 0);
    }

    // A dump that cannot be written leaves the message as it was.
    const QString Folder = ErrorInfo(QString());
    QDir(Folder).removeRecursively();
    WriteFileBytes(Folder.chopped(1).toStdString(), {'x'});
    QString Warning;
    TDialogScript Answers({Press(OK, &Warning)});
    Drop(NotAudio);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Answers.Finished(); }));
    EXPECT_EQ(Warning, NotMpeg);
}

// The player opens the file, then its tag cannot be read (another program
// keeps everyone out): the window is back in the no-file state, player and
// timeline included.
TEST_F(MainWindow, AFileRefusedAfterThePlayerOpenedItIsNotLeftOpen) {
    WriteFileBytes(Work.File("busy.mp3"), ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    const int Busy = FileOpen(Work.File("busy.mp3"), fmOpenReadWrite | fmShareExclusive);
    ASSERT_GE(Busy, 0);
    QString Warning;
    TDialogScript Answers({Press(OK, &Warning)});
    Drop(Q(Work.File("busy.mp3")));
    const bool Answered = QTest::qWaitFor([&] { return Answers.Finished(); });
    FileClose(Busy);
    ASSERT_TRUE(Answered);
    EXPECT_FALSE(Warning.isEmpty());
    EXPECT_EQ(Text("lblSourceFileName"), QStringLiteral("There is no selected file"));
    EXPECT_FALSE(Main->Player().IsOpen());
    EXPECT_FALSE(Track().Enabled());
    QTest::qWait(700); // past a tick of the timer
    EXPECT_EQ(Text("lblPosition"), QStringLiteral("Position : not selected"));
}

TEST_F(MainWindow, APreparedCopyBecomesTheSource) {
    WriteBrokenTagFile(Work.File("broken song.mp3"), ReadFileBytes(FixturePath("id3v1-end.mp3")));
    const QString Broken = Q(Work.File("broken song.mp3"));
    const QString Prepared = Q(Work.File("prepared.mp3"));

    QString Question, Title;
    TDialogScript Answers({Press(Yes, &Question), Choose(Prepared, &Title)});
    Drop(Broken);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Answers.Finished(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Main->Player().IsOpen(); }));
    EXPECT_TRUE(Answers.Unexpected.isEmpty()) << Answers.Unexpected.join(' ').toStdString();
    EXPECT_EQ(Question, QStringLiteral("The selected file has a format problem. Try to prepare "
                                       "the file to fix the problem?"));
    EXPECT_EQ(Title, QStringLiteral("Please select a file name for the prepared file"));
    EXPECT_EQ(Text("lblSourceFileName"), Prepared);
    EXPECT_EQ(Edit("edtOutputFilePrefix")->text(), QStringLiteral("broken song-"));
    EXPECT_EQ(Text("lblPosition"), QStringLiteral("Position : 00:00.0 of 00:02.0"));
    // The tag fields come from the file the user picked; the copy has no tag.
    EXPECT_EQ(frmSave->edtAlbum()->text(), QStringLiteral("Fixtures"));
    // The copy is the one the command line prepares.
    ASSERT_EQ(RunCli({"prepare", Broken.toStdString(), Work.File("cli.mp3")}).ExitCode, 0);
    EXPECT_EQ(ReadFileBytes(Prepared.toStdString()), ReadFileBytes(Work.File("cli.mp3")));
}

TEST_F(MainWindow, ThePlaySelectedDialogGetsTheTimerAndTheEndOfPlayback) {
    Open(Tagged);
    ASSERT_TRUE(Activate());
    Key(Qt::Key_1);
    QTest::mouseClick(&Track(), Qt::LeftButton, Qt::NoModifier, QPoint(143, 8));
    Key(Qt::Key_2);
    // 140 of the bar's 402 columns: 709 ms, on the boundary of frame 27.
    ASSERT_EQ(Track().SelEnd(), 705);
    Key(Qt::Key_Home);

    bool Ticked = false, Ended = false;
    TDialogScript Answers({[&](QWidget* Modal) {
        EXPECT_EQ(Modal, frmPlaySelected);
        // Its caption follows the ticks it is given, and turns to "Pause"
        // when it hears of the end of the segment.
        Ticked =
            QTest::qWaitFor([&] { return Modal->windowTitle().startsWith("Playing ["); }, 3000);
        Ended =
            QTest::qWaitFor([&] { return Modal->windowTitle() == QStringLiteral("Pause"); }, 3000);
        QMetaObject::invokeMethod(Modal, "reject", Qt::QueuedConnection);
    }});
    Find<QToolButton>("tbnPlaySelected")->click();
    EXPECT_TRUE(Answers.Finished());
    EXPECT_TRUE(Ticked);
    EXPECT_TRUE(Ended);
    EXPECT_EQ(frmPlaySelected, nullptr);
    EXPECT_EQ(Track().CurPos(), 0) << "the window left the ticks to the dialog";
    EXPECT_TRUE(Enabled("tbnPlay"));
    EXPECT_FALSE(Enabled("tbnPause"));
}

TEST_F(MainWindow, SettingsAreKeptBetweenTwoWindows) {
    Main->move(300, 200);
    Main->SetLastOpenFolder(QStringLiteral("/music/in"));
    Main->SetLastSaveFolder(QStringLiteral("/music/out"));
    Find<QCheckBox>("chkPadNumbers")->setChecked(true);
    Find<QCheckBox>("chkExact")->setChecked(true);
    CloseWindow();
    OpenWindow();
    EXPECT_EQ(Main->pos(), QPoint(300, 200));
    EXPECT_TRUE(Find<QCheckBox>("chkPadNumbers")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkExact")->isChecked());
    EXPECT_EQ(Main->LastOpenFolder(), QStringLiteral("/music/in"));
    EXPECT_EQ(Main->LastSaveFolder(), QStringLiteral("/music/out"));

    // A blank folder does not overwrite the stored one.
    Main->SetLastSaveFolder(QStringLiteral("  "));
    CloseWindow();
    OpenWindow();
    EXPECT_EQ(Main->LastSaveFolder(), QStringLiteral("/music/out"));
}

TEST_F(MainWindow, TheAboutBoxShowsTheVersionAndHandsTheFocusBack) {
    ASSERT_TRUE(Activate());
    Edit("edtOutputFilePrefix")->setFocus();
    QStringList Shown;
    TDialogScript Answers({[&](QWidget* Modal) {
        EXPECT_EQ(Modal->objectName(), QStringLiteral("AboutBox"));
        for (QLabel* Label : Modal->findChildren<QLabel*>())
            Shown << Label->text();
        QMetaObject::invokeMethod(Modal, "reject", Qt::QueuedConnection);
    }});
    Find<QPushButton>("btnAbout")->click();
    EXPECT_TRUE(Answers.Finished());
    EXPECT_TRUE(Shown.contains(QStringLiteral("Version ") + SegmoraVersion()));
    EXPECT_EQ(Main->focusWidget(), Find("gbxSource"));
}

TEST(SegmoraProgram, RefusesUnknownOptionsWithAUsageLine) {
    const TProcessResult Bad = RunProcess(SEGMORA_PROGRAM_PATH, {"--bogus"});
    EXPECT_EQ(Bad.ExitCode, 2);
    EXPECT_NE(Bad.Stderr.find("Usage: segmora [FILE]"), std::string::npos) << Bad.Stderr;
    const TProcessResult Version = RunProcess(SEGMORA_PROGRAM_PATH, {"--version"});
    EXPECT_EQ(Version.ExitCode, 0);
    EXPECT_EQ(Q(Version.Stdout), QStringLiteral("segmora ") + SegmoraVersion() + QLatin1Char('\n'));
}

TEST_F(MainWindow, SplitAsksOnceForEachExistingPartAndFollowsTheAnswer) {
    Open(Tagged);
    const std::string Expected = Work.File("expected");
    ASSERT_EQ(RunCli({"split", Tagged.toStdString(), "--parts", "3", "--folder", Expected,
                      "--prefix", "id3v1-end-", "--quiet"})
                  .ExitCode,
              0);
    const auto Part = [](const std::string& Folder, int Number) {
        return Folder + "/id3v1-end-" + std::to_string(Number) + ".mp3";
    };
    const std::vector<uint8_t> Old = {'o', 'l', 'd'};

    const struct {
        std::vector<int> Existing;
        QString Answer;
        bool Written;
    } Cases[] = {
        {{2}, Yes, true},
        {{2, 3}, YesToAll, true}, // no question for part 3
        {{2}, Cancel, false},
    };
    int Run = 0;
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Answer.toStdString());
        const std::string Folder = Work.File("out" + std::to_string(++Run));
        ASSERT_TRUE(QDir().mkpath(Q(Folder)));
        for (int Number : Case.Existing)
            WriteFileBytes(Part(Folder, Number), Old);
        QTabWidget* Pages = Find<QTabWidget>("PageControl");
        Pages->setCurrentIndex(1);
        Edit("edtOutputFolder")->setText(Q(Folder));
        Edit("edtPartCount")->setText(QStringLiteral("3"));
        Pages->setCurrentIndex(0); // the refresh that enables Split
        Pages->setCurrentIndex(1);
        ASSERT_TRUE(Enabled("sbnSplitByParts"));

        QString Question;
        TDialogScript Answers({Press(Case.Answer, &Question)});
        Find<QPushButton>("sbnSplitByParts")->click();
        EXPECT_TRUE(Answers.Finished());
        EXPECT_TRUE(Answers.Unexpected.isEmpty()) << Answers.Unexpected.join(' ').toStdString();
        EXPECT_EQ(Find<QLabel>("lblStatus")->toolTip(),
                  Case.Written ? QStringLiteral("Split into 3 parts in ") + Q(Folder) : QString());
        EXPECT_EQ(Question, QStringLiteral("The file \"") + Q(Part(Folder, 2)) +
                                QStringLiteral("\" is already exists.\nDo you want to "
                                               "overwrite it?"));
        for (int Number = 1; Number <= 3; ++Number) {
            if (Case.Written)
                EXPECT_EQ(ReadFileBytes(Part(Folder, Number)),
                          ReadFileBytes(Part(Expected, Number)));
            else if (Number == 2)
                EXPECT_EQ(ReadFileBytes(Part(Folder, Number)), Old);
            else
                EXPECT_FALSE(FileExists(Part(Folder, Number)));
        }
    }
}

TEST_F(MainWindow, PlayedMarkedAndSavedByKeyboardGivesTheCommandLinesBytes) {
    Open(Tagged);
    ASSERT_TRUE(Activate());
    // Tab reaches the toolbar and Space presses the button.
    for (int Step = 0; Step < 5 && QApplication::focusWidget() != Find("tbnPlay"); ++Step)
        Key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), Find("tbnPlay"));
    Key(Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Track().CurPos() >= 300; }, 3000));
    Key(Qt::Key_1);
    const int64_t Start = Track().SelStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Track().CurPos() >= Start + 400; }, 3000));
    Key(Qt::Key_2);
    const int64_t End = Track().SelEnd();
    ASSERT_GT(Start, 0);
    ASSERT_GT(End, Start);

    // The tag fields come from the file's own tag; the user changes some.
    TDialogScript Answers({[&](QWidget* Modal) {
        ASSERT_EQ(Modal, frmSave);
        EXPECT_EQ(frmSave->edtAlbum()->text(), QStringLiteral("Fixtures"));
        EXPECT_EQ(frmSave->cbxGenre()->currentText(), QStringLiteral("Ambient"));
        frmSave->edtFolder()->setText(Q(Work.Path()));
        frmSave->edtFileName()->setText(QStringLiteral("cut"));
        frmSave->edtTitle()->setText(QStringLiteral("Segment"));
        frmSave->edtArtist()->setText(QStringLiteral("Tester"));
        frmSave->edtYear()->setText(QStringLiteral("2026"));
        auto* OKButton = frmSave->findChild<QPushButton*>(QStringLiteral("btnOK"));
        ASSERT_NE(OKButton, nullptr);
        QMetaObject::invokeMethod(OKButton, "click", Qt::QueuedConnection);
    }});
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(Answers.Finished());
    EXPECT_TRUE(Answers.Unexpected.isEmpty()) << Answers.Unexpected.join(' ').toStdString();
    EXPECT_FALSE(Enabled("tbnPause")) << "saving pauses";
    EXPECT_EQ(Text("lblStatus"), QStringLiteral("Saved cut.mp3 (%1 s)")
                                     .arg((End - Start) / 1000.0, 0, 'f', 2));

    const auto Time = [](int64_t Ms) { return FormatTimeMs(Ms, true); };
    ASSERT_EQ(RunCli({"cut",       Tagged.toStdString(),
                      "--start",   Time(Start),
                      "--end",     Time(End),
                      "--out",     Work.File("cli.mp3"),
                      "--title",   "Segment",
                      "--artist",  "Tester",
                      "--album",   "Fixtures",
                      "--year",    "2026",
                      "--comment", "made by make-fixtures.sh",
                      "--genre",   "Ambient",
                      "--quiet"})
                  .ExitCode,
              0);
    const std::vector<uint8_t> Saved = ReadFileBytes(Work.File("cut.mp3"));
    EXPECT_FALSE(Saved.empty());
    EXPECT_EQ(Saved, ReadFileBytes(Work.File("cli.mp3")));
}

TEST_F(MainWindow, ThePadBoxNumbersThePartsToTheCountsWidthAndAsksByThoseNames) {
    Open(Tagged);
    const std::string Folder = Work.File("padded");
    ASSERT_TRUE(QDir().mkpath(Q(Folder)));
    const std::vector<uint8_t> Old = {'o', 'l', 'd'};
    WriteFileBytes(Folder + "/id3v1-end-02.mp3", Old);
    QTabWidget* Pages = Find<QTabWidget>("PageControl");
    Pages->setCurrentIndex(1);
    Edit("edtOutputFolder")->setText(Q(Folder));
    Edit("edtPartCount")->setText(QStringLiteral("10"));
    Find<QCheckBox>("chkPadNumbers")->setChecked(true);
    Pages->setCurrentIndex(0);
    Pages->setCurrentIndex(1);
    ASSERT_TRUE(Enabled("sbnSplitByParts"));
    QString Question;
    TDialogScript Answers({Press(Yes, &Question)});
    Find<QPushButton>("sbnSplitByParts")->click();
    EXPECT_TRUE(Answers.Finished());
    EXPECT_TRUE(Question.contains(Q(Folder + "/id3v1-end-02.mp3"))) << Question.toStdString();
    for (const char* Name : {"id3v1-end-01.mp3", "id3v1-end-02.mp3", "id3v1-end-10.mp3"})
        EXPECT_NE(ReadFileBytes(Folder + "/" + Name), Old) << Name;
    EXPECT_FALSE(FileExists(Folder + "/id3v1-end-1.mp3")) << "no unpadded name";
}

// The one switch beside the tabs cuts the split to the sample as the command
// line's --exact does, and says so when the source's layer has no use for it.
TEST_F(MainWindow, CutToTheSampleSplitsAsTheCommandLineDoesWithExact) {
    for (const QString& Source : {Tagged, Layer2}) {
        SCOPED_TRACE(Source.toStdString());
        Open(Source);
        const std::string Folder = Work.File(QFileInfo(Source).baseName().toStdString());
        const std::string Expected = Folder + "-cli";
        ASSERT_EQ(RunCli({"split", Source.toStdString(), "--parts", "3", "--folder", Expected,
                          "--prefix", "p", "--exact", "--quiet"})
                      .ExitCode,
                  0);
        QTabWidget* Pages = Find<QTabWidget>("PageControl");
        Pages->setCurrentIndex(1);
        Edit("edtOutputFolder")->setText(Q(Folder));
        Edit("edtOutputFilePrefix")->setText(QStringLiteral("p"));
        Edit("edtPartCount")->setText(QStringLiteral("3"));
        ASSERT_TRUE(QDir().mkpath(Q(Folder)));
        Find<QCheckBox>("chkExact")->setChecked(true);
        Pages->setCurrentIndex(0);
        Pages->setCurrentIndex(1);
        ASSERT_TRUE(Enabled("sbnSplitByParts"));
        Find<QPushButton>("sbnSplitByParts")->click();
        for (int Number = 1; Number <= 3; ++Number)
            EXPECT_EQ(ReadFileBytes(Folder + "/p" + std::to_string(Number) + ".mp3"),
                      ReadFileBytes(Expected + "/p" + std::to_string(Number) + ".mp3"));
        EXPECT_EQ(Find("lblStatus")->toolTip().contains(QStringLiteral("whole frames")),
                  Source == Layer2);
    }
}

TEST_F(MainWindow, GrowsGivingTheRoomToTheTimelineAndKeepsItsSize) {
    const QRect Track0 = Find("pnlTrackLine")->geometry();
    const QRect Close0 = Find("btnClose")->geometry();
    const QRect Browse0 = Find("btnSelectSourceFile")->geometry();
    const QPoint Play0 = Find("tbnPlay")->mapTo(Main.get(), QPoint(0, 0));
    Main->resize(700, 500);
    QTest::qWait(20);
    EXPECT_EQ(Find("pnlTrackLine")->size(), Track0.size() + QSize(268, 197));
    EXPECT_EQ(Find("btnClose")->geometry(), Close0.translated(268, 197));
    EXPECT_EQ(Find("tbnPlay")->mapTo(Main.get(), QPoint(0, 0)), Play0 + QPoint(0, 197));
    EXPECT_EQ(Find("btnSelectSourceFile")->geometry(), Browse0.translated(268, 0));
    // Nothing lies outside the window or over another control of its group.
    for (QWidget* Control : Main->findChildren<QWidget*>()) {
        if (!Control->isVisibleTo(Main.get()))
            continue;
        const QRect Place(Control->mapTo(Main.get(), QPoint(0, 0)), Control->size());
        EXPECT_TRUE(Main->rect().contains(Place)) << Control->objectName().toStdString();
    }
    CloseWindow();
    OpenWindow();
    EXPECT_EQ(Main->size(), QSize(700, 500));
    Main->showMaximized();
    CloseWindow();
    OpenWindow();
    EXPECT_TRUE(Main->isMaximized());
    Main->showNormal();

    // Placed off every screen, it comes back onto one.
    Main->move(-20000, -20000);
    CloseWindow();
    OpenWindow();
    bool Shown = false;
    for (QScreen* Screen : QGuiApplication::screens())
        Shown = Shown || Screen->availableGeometry().contains(Main->frameGeometry());
    EXPECT_TRUE(Shown) << Main->pos().x() << "," << Main->pos().y();
}

TEST_F(MainWindow, AMarkTakenWhilePlayingIsWhereThePlayerIsAtTheKeyPress) {
    Open(Cbr);
    ASSERT_TRUE(Activate());
    const auto [Before, After] = PressWhilePlaying(Qt::Key_1);
    const int64_t Frame = 27; // 26.122 ms
    EXPECT_GE(Track().SelStart(), Before - Frame);
    EXPECT_LE(Track().SelStart(), After + Frame);
    EXPECT_EQ(Track().SelStart(), SnapMsToFrame(Track().SelStart(), Main->FrameTicks()))
        << "on a frame boundary";
    EXPECT_GT(Track().SelStart(), Track().CurPos() + 400);
}

TEST_F(MainWindow, MarksCanBeTypedAndTheViewZoomsByKeys) {
    Open(Cbr);
    ASSERT_TRUE(Activate());
    QLineEdit* Box = Find<QLineEdit>("edtMarkTime");
    const struct {
        Qt::Key Which;
        const char* Typed;
        Qt::Key Ending;
        int64_t Start, End;
    } Steps[] = {
        {Qt::Key_1, "1.5", Qt::Key_Return, 1489, -1},        // frame 57 at 1,488.98 ms
        {Qt::Key_2, "0:02.613", Qt::Key_Return, 1489, 2612}, // frame 100 at 2,612.24 ms
        {Qt::Key_2, "9:00", Qt::Key_Return, 1489, 2612},     // past the end: refused
        {Qt::Key_1, "0.1", Qt::Key_Escape, 1489, 2612},      // given up
        {Qt::Key_1, "x", Qt::Key_Return, 1489, 2612},        // no time
    };
    for (const auto& Step : Steps) {
        SCOPED_TRACE(Step.Typed);
        Key(Step.Which, Qt::ControlModifier);
        ASSERT_TRUE(Box->isVisible());
        ASSERT_EQ(QApplication::focusWidget(), Box);
        Box->clear();
        QTest::keyClicks(Box, QString::fromLatin1(Step.Typed));
        Key(Step.Ending);
        EXPECT_FALSE(Box->isVisible());
        EXPECT_EQ(Track().SelStart(), Step.Start);
        EXPECT_EQ(Track().SelEnd(), Step.End);
    }
    EXPECT_EQ(Text("lblStartSelection"), QStringLiteral("Start : 00:01.5"));
    // Cut to the sample, a mark stays on its millisecond.
    Find<QCheckBox>("chkExact")->setChecked(true);
    Key(Qt::Key_1, Qt::ControlModifier);
    Box->clear();
    QTest::keyClicks(Box, QStringLiteral("1.5"));
    Key(Qt::Key_Return);
    EXPECT_EQ(Track().SelStart(), 1500);
    Find<QCheckBox>("chkExact")->setChecked(false);
    Key(Qt::Key_1, Qt::ControlModifier);
    Box->clear();
    QTest::keyClicks(Box, QStringLiteral("1.5"));
    Key(Qt::Key_Return);

    // Zoomed to the selection, times show to the millisecond.
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_LE(Track().ViewStart(), 1489);
    EXPECT_GE(Track().ViewEnd(), 2612);
    // As deep as four pixels a frame allows: 100.5 frames on 402 columns.
    EXPECT_LT(Track().ViewEnd() - Track().ViewStart(), 2650);
    EXPECT_TRUE(Track().ShowsMillis());
    EXPECT_EQ(Text("lblStartSelection"), QStringLiteral("Start : 00:01.489"));
    Key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(Track().ViewStart(), 0);
    EXPECT_EQ(Track().ViewEnd(), Track().MaxPos());
    EXPECT_EQ(Text("lblStartSelection"), QStringLiteral("Start : 00:01.5"));
}

TEST_F(MainWindow, TabReachesEveryControl) {
    ASSERT_TRUE(Activate());
    Open(Cbr);
    ASSERT_TRUE(Activate());
    Key(Qt::Key_1);
    Key(Qt::Key_End);
    Key(Qt::Key_2); // the save button takes the focus once there is a segment
    QSet<QWidget*> Reached;
    for (int Step = 0; Step < 40; ++Step) {
        Reached.insert(QApplication::focusWidget());
        Key(Qt::Key_Tab);
    }
    for (QWidget* Wanted :
         {Find("btnSelectSourceFile"),
          static_cast<QWidget*>(Find<QTabWidget>("PageControl")->tabBar()),
          static_cast<QWidget*>(&Track()), Find("tbnPlay"), Find("tbnSelectStart"),
          Find("tbnSaveSegment"), Find("chkExact"), Find("btnHelp"), Find("btnAbout"),
          Find("btnClose")})
        EXPECT_TRUE(Reached.contains(Wanted)) << Wanted->objectName().toStdString();
    // From the source down: the timeline above the pages, then their tabs.
    Find("btnSelectSourceFile")->setFocus();
    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &Track());
    Key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QTabWidget>("PageControl")->tabBar());
}

// The split page's ways, in the chooser's order.
enum { BySize, EqualTime, Every, AtSilences, AtMarkers, CueSheet, Chapters };

std::vector<int64_t> StartsMs(const TSplitPlan& Plan) {
    std::vector<int64_t> Starts;
    for (const TPlannedPart& Part : Plan.Parts)
        Starts.push_back(TicksToNearestMs(Part.Start));
    return Starts;
}

TEST_F(MainWindow, MDropsAMarkerWhereThePlayerIsAndAnotherFileClearsThem) {
    Open(Cbr);
    ASSERT_TRUE(Activate());
    Key(Qt::Key_End);
    Key(Qt::Key_M);
    ASSERT_EQ(Track().Markers(), (std::vector<int64_t>{Track().MaxPos()}));

    Key(Qt::Key_Home);
    const auto [Before, After] = PressWhilePlaying(Qt::Key_M);
    ASSERT_EQ(Track().Markers().size(), 2u);
    const int64_t Marker = Track().Markers().front();
    const int64_t Frame = 27; // 26.122 ms
    EXPECT_GE(Marker, Before - Frame);
    EXPECT_LE(Marker, After + Frame);
    EXPECT_EQ(Marker, SnapMsToFrame(Marker, Main->FrameTicks())) << "on a frame boundary";
    EXPECT_GT(Marker, Track().CurPos() + 400);
    Find<QToolButton>("tbnPause")->click();

    // Typed into a box, M is a letter.
    Edit("edtOutputFilePrefix")->setFocus();
    Key(Qt::Key_M);
    EXPECT_TRUE(Edit("edtOutputFilePrefix")->text().endsWith(QLatin1Char('m')));
    EXPECT_EQ(Track().Markers().size(), 2u);

    Open(Tagged);
    EXPECT_TRUE(Track().Markers().empty());
}

TEST_F(MainWindow, TheChooserShowsEachWaysSettingsAndTheyAreKeptBetweenTwoWindows) {
    QComboBox* Modes = Find<QComboBox>("cbxSplitMode");
    ASSERT_EQ(Modes->count(), 7);
    EXPECT_EQ(Modes->currentIndex(), BySize);
    const std::vector<const char*> Settings = {
        "edtPartCount",   "edtEveryTime", "chkEveryNearPause", "edtSilenceDb", "edtMinSilence",
        "btnSilenceMore", "edtCueFile",   "btnSelectCueFile",  "lblModeNote"};
    const struct {
        int Mode;
        std::set<std::string> Shown;
    } Cases[] = {
        {BySize, {"edtPartCount"}},
        {EqualTime, {"edtPartCount"}},
        {Every, {"edtEveryTime", "chkEveryNearPause"}},
        {AtSilences, {"edtSilenceDb", "edtMinSilence", "btnSilenceMore"}},
        {AtMarkers, {"lblModeNote"}},
        {CueSheet, {"edtCueFile", "btnSelectCueFile"}},
        {Chapters, {"lblModeNote"}},
    };
    // On its page, whichever page is in front.
    const auto Shown = [&](const char* Name) { return Find(Name)->isVisibleTo(Find("GroupBox3")); };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Modes->itemText(Case.Mode).toStdString());
        Modes->setCurrentIndex(Case.Mode);
        for (const char* Name : Settings)
            EXPECT_EQ(Shown(Name), Case.Shown.count(Name) == 1) << Name;
        // At the smallest size the page's controls lie side by side, and
        // every caption has the room it needs.
        QList<QWidget*> Page;
        for (QWidget* Control :
             Find("GroupBox3")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (Control->isVisibleTo(Find("GroupBox3")))
                Page << Control;
        for (qsizetype I = 0; I < Page.size(); ++I) {
            const auto* Label = qobject_cast<QLabel*>(Page[I]);
            EXPECT_TRUE(!Label || Label->sizeHint().width() <= Label->width())
                << Page[I]->objectName().toStdString();
            for (qsizetype J = I + 1; J < Page.size(); ++J)
                EXPECT_FALSE(Page[I]->geometry().intersects(Page[J]->geometry()))
                    << Page[I]->objectName().toStdString() << " "
                    << Page[J]->objectName().toStdString();
        }
    }

    Modes->setCurrentIndex(AtSilences);
    Edit("edtEveryTime")->setText(QStringLiteral("1:30"));
    Find<QCheckBox>("chkEveryNearPause")->setChecked(true);
    Edit("edtSilenceDb")->setText(QStringLiteral("-35"));
    Edit("edtMinSilence")->setText(QStringLiteral("0.8"));
    Edit("edtCueFile")->setText(QStringLiteral("/music/album.cue"));
    CloseWindow();
    OpenWindow();
    EXPECT_EQ(Find<QComboBox>("cbxSplitMode")->currentIndex(), AtSilences);
    EXPECT_TRUE(Shown("edtSilenceDb"));
    EXPECT_FALSE(Shown("edtPartCount"));
    EXPECT_EQ(Edit("edtEveryTime")->text(), QStringLiteral("1:30"));
    EXPECT_TRUE(Find<QCheckBox>("chkEveryNearPause")->isChecked());
    EXPECT_EQ(Edit("edtSilenceDb")->text(), QStringLiteral("-35"));
    EXPECT_EQ(Edit("edtMinSilence")->text(), QStringLiteral("0.8"));
    EXPECT_EQ(Edit("edtCueFile")->text(), QStringLiteral("/music/album.cue"));
}

TEST_F(MainWindow, ThePreviewShowsThePlannersPartStartsAndFollowsTheMarkers) {
    Open(Cbr);
    const TFrameGrid Grid = ReadFrameGrid(Cbr.toStdString());
    QComboBox* Modes = Find<QComboBox>("cbxSplitMode");
    Edit("edtPartCount")->setText(QStringLiteral("3"));
    // By size, the starts come from a walk of the source, on its own thread.
    TSegmora Sizes;
    Sizes.SetSourceFile(Cbr.toStdString());
    Sizes.SetPartCount(3);
    const std::vector<int64_t> BySizeStarts = StartsMs(Sizes.PlanBySize());
    ASSERT_EQ(BySizeStarts.size(), 3u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Track().PartStarts() == BySizeStarts; }, 3000));

    Modes->setCurrentIndex(EqualTime);
    const std::vector<int64_t> Thirds = StartsMs(PlanEqualTime(Grid, 3));
    ASSERT_EQ(Thirds.size(), 3u);
    EXPECT_EQ(Track().PartStarts(), Thirds);
    Edit("edtPartCount")->setText(QStringLiteral("4"));
    EXPECT_EQ(Track().PartStarts(), StartsMs(PlanEqualTime(Grid, 4)));

    Modes->setCurrentIndex(AtMarkers);
    EXPECT_TRUE(Track().PartStarts().empty());
    EXPECT_TRUE(Find<QLabel>("lblStatus")->toolTip().startsWith(QStringLiteral("Cannot split at markers")));
    Track().AddMarker(1000);
    Track().AddMarker(2000);
    EXPECT_EQ(Track().PartStarts(),
              StartsMs(PlanAtMarks(Grid, {MsToTicks(1000), MsToTicks(2000)})));
    EXPECT_EQ(Find<QLabel>("lblStatus")->toolTip(), QString()) << "the failure is gone";

    Modes->setCurrentIndex(BySize);
    Edit("edtPartCount")->setText(QStringLiteral("3"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Track().PartStarts() == BySizeStarts; }, 3000));
}

TEST_F(MainWindow, TheSilencesMoreSettingsShowInThePreviewAsTypedAndAreKept) {
    const QString Gaps = Q(FixturePath("tone-gaps.mp3"));
    Open(Gaps);
    // On the split page the timeline, with its preview, is still in view.
    Find<QTabWidget>("PageControl")->setCurrentIndex(1);
    EXPECT_TRUE(Track().isVisible());
    Find<QComboBox>("cbxSplitMode")->setCurrentIndex(AtSilences);
    Edit("edtMinSilence")->setText(QStringLiteral("0.25"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Track().PartStarts().size() == 3; }, 5000));
    const TFrameGrid Grid = ReadFrameGrid(Gaps.toStdString());
    const auto Planned = [&](int64_t MinPartMs, bool Drop) {
        return StartsMs(PlanAtSilences(Grid, *Main->Overview(),
                                       {-40, MsToTicks(250), MsToTicks(MinPartMs), Drop}));
    };
    // Sets the dialog's boxes, checks the preview follows, then presses Button.
    const auto Answer = [&](const char* MinPart, int64_t MinPartMs, bool Drop,
                            QDialogButtonBox::StandardButton Button) {
        return [=, this](QWidget* Dialog) {
            auto* Buttons = Dialog->findChild<QDialogButtonBox*>();
            auto* Box = Dialog->findChild<QLineEdit*>(QStringLiteral("edtMinPart"));
            Box->setText(QStringLiteral("x"));
            EXPECT_FALSE(Buttons->button(QDialogButtonBox::Ok)->isEnabled()) << "no time";
            Box->setText(QString::fromLatin1(MinPart));
            Dialog->findChild<QCheckBox*>(QStringLiteral("chkDropSilence"))->setChecked(Drop);
            EXPECT_EQ(Track().PartStarts(), Planned(MinPartMs, Drop)) << "as typed";
            QMetaObject::invokeMethod(Buttons->button(Button), "click", Qt::QueuedConnection);
        };
    };
    TDialogScript Answers({Answer("0:02", 2000, true, QDialogButtonBox::Ok),
                           Answer("", 0, false, QDialogButtonBox::Cancel)});
    Find<QPushButton>("btnSilenceMore")->click();
    EXPECT_EQ(Track().PartStarts(), Planned(2000, true));
    Find<QPushButton>("btnSilenceMore")->click();
    EXPECT_TRUE(Answers.Finished());
    EXPECT_EQ(Track().PartStarts(), Planned(2000, true)) << "Cancel puts them back";

    CloseWindow();
    OpenWindow();
    const TSplitSettings Kept = Main->findChild<TSplitPage*>()->Settings();
    EXPECT_EQ(Kept.MinPartMs, 2000);
    EXPECT_TRUE(Kept.DropSilence);
}

TEST_F(MainWindow, SplitRunsThePlanAsksByItsNamesAndAFailingPlanWritesNothing) {
    Open(Cbr);
    const std::string Folder = Work.File("out");
    ASSERT_TRUE(QDir().mkpath(Q(Folder)));
    QTabWidget* Pages = Find<QTabWidget>("PageControl");
    Pages->setCurrentIndex(1);
    Edit("edtOutputFolder")->setText(Q(Folder));
    Pages->setCurrentIndex(0); // the refresh that enables Split
    Pages->setCurrentIndex(1);
    ASSERT_TRUE(Enabled("sbnSplitByParts"));

    Find<QComboBox>("cbxSplitMode")->setCurrentIndex(CueSheet);
    Edit("edtCueFile")->setText(Q(Work.File("missing.cue")));
    {
        TDialogScript Answers({});
        Find<QPushButton>("sbnSplitByParts")->click();
        EXPECT_TRUE(Answers.Unexpected.isEmpty()) << Answers.Unexpected.join(' ').toStdString();
    }
    const QString Status = Find<QLabel>("lblStatus")->toolTip();
    EXPECT_TRUE(Status.contains(QStringLiteral("missing.cue"))) << Status.toStdString();
    EXPECT_TRUE(QDir(Q(Folder)).isEmpty());

    Find<QComboBox>("cbxSplitMode")->setCurrentIndex(AtMarkers);
    Track().AddMarker(1000);
    Track().AddMarker(2000);
    const auto Part = [&](int Number) {
        return Folder + "/cbr-128-info-" + std::to_string(Number) + ".mp3";
    };
    WriteFileBytes(Part(2), {'o', 'l', 'd'});
    QString Question;
    TDialogScript Answers({Press(Yes, &Question)});
    Find<QPushButton>("sbnSplitByParts")->click();
    EXPECT_TRUE(Answers.Finished());
    EXPECT_TRUE(Question.contains(Q(Part(2)))) << Question.toStdString();
    EXPECT_EQ(Find<QLabel>("lblStatus")->toolTip(),
              QStringLiteral("Split into 3 parts in ") + Q(Folder));
    const TSplitPlan Plan =
        PlanAtMarks(ReadFrameGrid(Cbr.toStdString()), {MsToTicks(1000), MsToTicks(2000)});
    for (int Number = 1; Number <= 3; ++Number) {
        SCOPED_TRACE(Number);
        const TFrameGrid Written = ReadFrameGrid(Part(Number));
        const TPlannedPart& Planned = Plan.Parts[static_cast<size_t>(Number - 1)];
        EXPECT_EQ(Written.TotalTicks(), Planned.End - Planned.Start);
    }
}

TEST(SplitPagePlan, EveryNearAPauseMovesTheCutsIntoTheQuietWhenTheLoudnessIsKnown) {
    const std::string Gaps = FixturePath("tone-gaps.mp3");
    std::shared_ptr<const TLoudnessOverview> Loudness;
    std::atomic<bool> Stop{false};
    ASSERT_EQ(DecodeOverview(Gaps, Stop, [&](auto Ready) { Loudness = Ready; }),
              TOverviewResult::Done);
    TSplitSettings Settings;
    Settings.Mode = TSplitMode::Every;
    // Tone, then silence from 1.0 s to 1.3 s, tone, -60 dB from 2.3 s to 3.1 s.
    Settings.EveryMs = 2000;
    TPlanSource Source;
    Source.Grid = ReadFrameGrid(Gaps);
    const auto CutOf = [&](bool NearPause, const TLoudnessOverview* Known) {
        Settings.EveryNearPause = NearPause;
        Source.Loudness = Known;
        return TicksToMs(MakeSplitPlan(Settings, Source)->Parts.at(0).End);
    };
    EXPECT_NEAR(CutOf(false, Loudness.get()), 2000, 27);
    EXPECT_NEAR(CutOf(true, nullptr), 2000, 27) << "no loudness yet: the plain cut";
    // Into the quietest stretch within 5 s: the silence.
    const int64_t Moved = CutOf(true, Loudness.get());
    EXPECT_GT(Moved, 1000);
    EXPECT_LT(Moved, 1300);
}

// Cut to the sample, the timeline counts from the first sample played, as
// the cutter does: switching keeps the marks and markers on their sound
// (back on frame boundaries when switched off), and a file cut so opens
// with its marks' times from zero.
TEST_F(MainWindow, CutToTheSampleCountsFromTheFirstSamplePlayed) {
    const std::string Source = FixturePath("burst-44k.mp3"); // LAME: delay 576
    const TClockSpan Played = PlayedClockSpan(ScanStream(Source));
    ASSERT_GT(Played.Origin, 0);
    const auto OnPlayed = [&](int64_t Ms) { return TicksToNearestMs(MsToTicks(Ms) - Played.Origin); };
    Open(Q(Source));
    const int64_t Start = 1019, End = 1463, Marker = 1254; // frames 39, 56 and 48
    Track().SetSelStart(Start);
    Track().SetSelEnd(End);
    Track().AddMarker(Marker);
    Find<QCheckBox>("chkExact")->setChecked(true);
    EXPECT_EQ(Track().SelStart(), OnPlayed(Start));
    EXPECT_EQ(Track().SelEnd(), OnPlayed(End));
    EXPECT_EQ(Track().Markers(), std::vector<int64_t>{OnPlayed(Marker)});
    EXPECT_EQ(Track().MaxPos(), TicksToNearestMs(Played.End - Played.Origin));
    Find<QCheckBox>("chkExact")->setChecked(false);
    EXPECT_EQ(Track().SelStart(), Start);
    EXPECT_EQ(Track().SelEnd(), End);
    EXPECT_EQ(Track().Markers(), std::vector<int64_t>{Marker});

    const std::string Part = Work.File("part.mp3");
    ASSERT_EQ(RunCli({"cut", Source, "--start", "0.5", "--end", "1.2", "--exact", "--out", Part})
                  .ExitCode,
              0);
    Find<QCheckBox>("chkExact")->setChecked(true);
    Open(Q(Part));
    EXPECT_EQ(Track().MaxPos(), 700);
    EXPECT_EQ(Main->Player().Position(), 0);
}
