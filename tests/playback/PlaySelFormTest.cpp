#include "PlaySelForm.h"

#include "Errors.h"
#include "FrameClock.h"
#include "LoudnessOverview.h"
#include "PlayAudio.h"
#include "TestFiles.h"
#include "TimeFormat.h"
#include "ToolbarImages.h"
#include "TrackLine.h"
#include "UiTestSupport.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

// The dialog end to end: a stand-in for the main window owns a real player
// on a fixture and routes its 500 ms timer and the player's notifications to
// frmPlaySelected, and playback runs in real time through GStreamer's fake
// sink.

namespace {

// The player's reference time (100 ns) in a tenth of a second; marks and
// the track lines count milliseconds.
constexpr int64_t Tenth = 1'000'000;
constexpr int64_t RefPerMs = 10'000;
// One frame of the fixture is 26 ms; positions agree to within that.
constexpr int64_t Frame = 300'000;
constexpr int64_t FixtureFrameTicks = 1152 * (TicksPerSecond / 44100);
// The fixture as the player measures it.
constexpr int64_t StreamEnd = 3030;

// The main window as the dialog sees it.
class TTestHost : public QWidget, public ISelectionHost {
public:
    TTestHost() {
        setWindowTitle(QStringLiteral("Host"));
        setGeometry(120, 90, 432, 303);
        FTrack = new TTrackLine(this);
        FTrack->setGeometry(10, 44, 388, 28);
        FPlayer.NotifyWindow(this);
        FTimer.setInterval(500);
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] { TimerTimer(); });
    }

    // Opens the fixture, marks the segment (ms) and parks the player,
    // paused, at Position (tenths).
    void Open(int64_t SelStart, int64_t SelEnd, int64_t Position) {
        FPlayer.Open(FixturePath("cbr-128-info.mp3"));
        FTrack->SetMaxPos(FPlayer.Duration() / RefPerMs);
        ASSERT_EQ(FTrack->MaxPos(), StreamEnd);
        FTrack->SetSelStart(SelStart);
        FTrack->SetSelEnd(SelEnd);
        FPlayer.Seek(Position * Tenth, -1);
        FTimer.start();
        show();
    }

    QWidget* HostWindow() override { return this; }
    TAudioPlayer& Player() override { return FPlayer; }
    TTrackLine& TrackLine() override { return *FTrack; }
    void UpdateSelectionLabels() override { ++LabelUpdates; }
    std::shared_ptr<const TLoudnessOverview> Overview() const override { return LoudnessOverview; }
    int64_t FrameTicks() const override { return FrameLength; }

    std::shared_ptr<const TLoudnessOverview> LoudnessOverview;
    int64_t FrameLength = FixtureFrameTicks;
    int LabelUpdates = 0;
    int MainCompletions = 0;

protected:
    bool event(QEvent* Event) override {
        if (Event->type() != PlayerEventMessage)
            return QWidget::event(Event);
        if (FPlayer.CheckCompletion()) {
            if (frmPlaySelected != nullptr) {
                frmPlaySelected->PlaybackComplete();
            } else {
                FPlayer.Stop();
                ++MainCompletions;
            }
        }
        return true;
    }

private:
    void TimerTimer() {
        if (!FPlayer.IsOpen())
            return;
        if (frmPlaySelected != nullptr)
            frmPlaySelected->UpdateProgress();
    }

    TAudioPlayer FPlayer;
    TTrackLine* FTrack = nullptr;
    QTimer FTimer;
};

bool SamePicture(const QIcon& Shown, int Index) {
    return Shown.pixmap(24, 24).toImage() == ToolbarImage(Index).pixmap(24, 24).toImage();
}

QString TimeText(int64_t Ms) {
    return QString::fromStdString(FormatTimeMs(Ms, Ms % 100 != 0));
}

// The dialog's components, found by their names.
struct TView {
    TfrmPlaySelected& Dialog;
    QToolButton* PlayPause = Dialog.findChild<QToolButton*>("tbnPlayPause");
    QLineEdit* Start = Dialog.findChild<QLineEdit*>("edtStart");
    QLineEdit* End = Dialog.findChild<QLineEdit*>("edtEnd");
    QPushButton* Apply = Dialog.findChild<QPushButton*>("btnApply");
    QPushButton* Cancel = Dialog.findChild<QPushButton*>("btnCancel");
    TTrackLine* Track = Dialog.findChild<TTrackLine*>();

    bool Playing() const { return PlayPause->toolTip() == QLatin1String("Pause"); }
    bool Paused() const { return PlayPause->toolTip() == QLatin1String("Play"); }
    QToolButton* Arrow(const char* UpDown, TUpDown::TUDBtnType Button) const {
        auto* Control = Dialog.findChild<TUpDown*>(UpDown);
        return Button == TUpDown::btNext ? Control->UpButton() : Control->DownButton();
    }
    void Click(const char* UpDown, TUpDown::TUDBtnType Button, int Times = 1) const {
        for (int I = 0; I < Times; ++I)
            QTest::mouseClick(Arrow(UpDown, Button), Qt::LeftButton);
    }
    void ClickTrack(int X) const {
        QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(X, 8));
    }
};

// Shows the dialog through ShowPlaySelected and runs Script inside its modal
// loop; Cancel closes it when the script left it open.
void RunDialog(TTestHost& Host, const std::function<void(TView&)>& Script) {
    bool Ran = false;
    OnNextModal([&](QWidget* Modal) {
        Ran = true;
        auto* Dialog = qobject_cast<TfrmPlaySelected*>(Modal);
        EXPECT_EQ(Dialog, frmPlaySelected);
        if (Dialog == nullptr) {
            Modal->close();
            return;
        }
        TView View{*Dialog};
        Script(View);
        if (Dialog->isVisible())
            View.Cancel->click();
    });
    ShowPlaySelected(Host);
    EXPECT_TRUE(Ran);
    EXPECT_EQ(frmPlaySelected, nullptr);
}

// After any way out: the player rests, paused, where it was before (tenths),
// and plays on from there to the end of the stream.
void ExpectPlayerRestored(TTestHost& Host, int64_t Saved) {
    TAudioPlayer& Player = Host.Player();
    EXPECT_NEAR(Player.Position(), Saved * Tenth, Frame);
    QTest::qWait(300);
    EXPECT_NEAR(Player.Position(), Saved * Tenth, Frame) << "paused";
    Player.Play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Host.MainCompletions > 0; }, 3000));
    // Past every segment end of these tests.
    EXPECT_GT(Player.Position(), 29 * Tenth) << "the stop point is the end of the stream";
}

class PlaySelected : public ::testing::Test {
protected:
    // A failure inside the dialog shows a message box: it is noted and
    // answered, so that no test waits for a click that never comes.
    void TearDown() override {
        if (!MessagesExpected) {
            EXPECT_EQ(Boxes.Seen, QStringList());
        }
    }
    int64_t Position() { return Host.Player().Position(); }

    TTestHost Host;
    TBoxAnswers Boxes;
    bool MessagesExpected = false;
};

TEST_F(PlaySelected, OpeningPlaysTheSegmentAloneAndPausesAtItsEndAndTheTrackLineStaysInIt) {
    Host.Open(1000, 2000, 25);
    RunDialog(Host, [&](TView& View) {
        TfrmPlaySelected& Dialog = View.Dialog;
        EXPECT_EQ(Dialog.windowTitle(), "Playing...");
        EXPECT_TRUE(View.Playing());
        EXPECT_TRUE(SamePicture(View.PlayPause->icon(), imgPause));
        EXPECT_FALSE(View.Apply->isEnabled());
        EXPECT_EQ(View.Start->text(), "00:01.0");
        EXPECT_EQ(View.End->text(), "00:02.0");
        EXPECT_EQ(View.Track->CurPos(), 1000);
        EXPECT_LE((Dialog.geometry().center() - Host.geometry().center()).manhattanLength(), 2);
        EXPECT_GE(Position(), 10 * Tenth - Frame);
        EXPECT_LT(Position(), 13 * Tenth);

        // The timer shows the position in the stream while playing.
        ASSERT_TRUE(QTest::qWaitFor([&] { return Dialog.windowTitle() != "Playing..."; }, 1000));
        EXPECT_TRUE(Dialog.windowTitle().startsWith("Playing [00:01."));

        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Paused(); }, 2500));
        EXPECT_EQ(Dialog.windowTitle(), "Pause");
        EXPECT_TRUE(SamePicture(View.PlayPause->icon(), imgPlay));
        EXPECT_NEAR(Position(), 20 * Tenth, Frame);
        QTest::qWait(600);
        EXPECT_NEAR(Position(), 20 * Tenth, Frame) << "stays at the end";

        Dialog.findChild<QToolButton*>("tbnGoToStart")->click();
        EXPECT_EQ(View.Track->CurPos(), 1000);
        QTest::qWait(300);
        EXPECT_TRUE(View.Paused()) << "going to the start does not play";
        EXPECT_NEAR(Position(), 10 * Tenth, Frame);

        for (bool Playing : {true, false, true}) {
            View.PlayPause->click();
            EXPECT_EQ(View.Playing(), Playing);
        }

        // The track line seeks within the segment only: 331 pixels, margins
        // 3, so columns 3 to 327 span it; the stop point stays at its end.
        ASSERT_EQ(View.Track->width(), 331);
        View.ClickTrack(165);
        EXPECT_NEAR(Position(), 15 * Tenth, Frame);
        EXPECT_TRUE(View.Playing());
        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Paused(); }, 2000));
        EXPECT_NEAR(Position(), 20 * Tenth, Frame);
        View.ClickTrack(1);
        EXPECT_NEAR(Position(), 20 * Tenth, Frame) << "left of the bar";
        View.ClickTrack(3);
        EXPECT_NEAR(Position(), 10 * Tenth, Frame);
        QTest::mousePress(View.Track, Qt::LeftButton, Qt::NoModifier, QPoint(100, 8));
        QTest::mouseMove(View.Track, QPoint(500, 8));
        EXPECT_NEAR(Position(), 20 * Tenth, Frame) << "dragged past the end";
        QTest::mouseRelease(View.Track, Qt::LeftButton, Qt::NoModifier, QPoint(500, 8));
    });
    ExpectPlayerRestored(Host, 25);
}

TEST_F(PlaySelected, EachClickMovesAnEndByOneTenthWithinItsBounds) {
    struct TCase {
        const char* Name;
        int64_t SelStart, SelEnd;
        const char* UpDown;
        TUpDown::TUDBtnType Button;
        int Clicks;
        int64_t NewStart, NewEnd;
        // Where the player waits for the restart, in ms (2 s before a new
        // end, 0 at the earliest); -1 when no click was taken.
        int64_t SeekedTo;
    };
    const TCase Cases[] = {
        {"start up by one", 1000, 2000, "udnStart", TUpDown::btNext, 1, 1100, 2000, 1100},
        {"start up to the end, no further", 1000, 1200, "udnStart", TUpDown::btNext, 3, 1200, 1200,
         1200},
        {"start down to 0, no further", 100, 500, "udnStart", TUpDown::btPrev, 2, 0, 500, 0},
        {"start not below 0", 0, 500, "udnStart", TUpDown::btPrev, 1, 0, 500, -1},
        {"start off the tenths", 1489, 2000, "udnStart", TUpDown::btNext, 1, 1589, 2000, 1589},
        {"end down by one", 1000, 2500, "udnEnd", TUpDown::btPrev, 1, 1000, 2400, 400},
        {"end down to the start, no further", 1000, 1200, "udnEnd", TUpDown::btPrev, 3, 1000, 1000,
         0},
        {"end up to the stream's length, no further", 2700, 2900, "udnEnd", TUpDown::btNext, 3,
         2700, 3000, 1000},
        {"end not past the stream's length", 1000, StreamEnd, "udnEnd", TUpDown::btNext, 1, 1000,
         StreamEnd, -1},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TTestHost Local;
        Local.Open(Case.SelStart, Case.SelEnd, 0);
        RunDialog(Local, [&](TView& View) {
            View.Click(Case.UpDown, Case.Button, Case.Clicks);
            EXPECT_EQ(View.Track->MinPos(), Case.NewStart);
            EXPECT_EQ(View.Track->MaxPos(), Case.NewEnd);
            EXPECT_EQ(View.Start->text(), TimeText(Case.NewStart));
            EXPECT_EQ(View.End->text(), TimeText(Case.NewEnd));
            const bool Taken = Case.SeekedTo >= 0;
            EXPECT_EQ(View.Apply->isEnabled(), Taken);
            EXPECT_EQ(View.Paused(), Taken);
            if (Taken) {
                EXPECT_EQ(View.Dialog.windowTitle(), "Pause");
                EXPECT_NEAR(Local.Player().Position(), Case.SeekedTo * RefPerMs, Frame);
            }
        });
    }
}

TEST_F(PlaySelected, RapidClicksKeepPlaybackPausedUntilASecondAfterTheLast) {
    Host.Open(500, 2500, 0);
    RunDialog(Host, [&](TView& View) {
        // An arrow held down: each repeat is one click.
        int Clicks = 0;
        QObject::connect(View.Dialog.findChild<TUpDown*>("udnEnd"), &TUpDown::Click,
                         [&](TUpDown::TUDBtnType) { ++Clicks; });
        QTest::mousePress(View.Arrow("udnEnd", TUpDown::btPrev), Qt::LeftButton);
        QTest::qWait(700);
        QTest::mouseRelease(View.Arrow("udnEnd", TUpDown::btPrev), Qt::LeftButton);
        EXPECT_GE(Clicks, 3);
        EXPECT_EQ(View.Track->MaxPos(), 2500 - 100 * Clicks);

        // Clicks 350 ms apart for longer than the delay: each one renews it.
        QElapsedTimer SinceLast;
        for (int I = 0; I < 4; ++I) {
            if (I > 0) {
                EXPECT_FALSE(QTest::qWaitFor([&] { return !View.Paused(); }, 350))
                    << "resumed between clicks";
            }
            View.Click("udnStart", TUpDown::btNext);
            SinceLast.start();
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Playing(); }, 2500));
        const double Seconds = SinceLast.elapsed() / 1000.0;
        EXPECT_GT(Seconds, 1.0);
        // One to one and a half seconds with the 500 ms timer, and some
        // slack for a loaded machine.
        EXPECT_LT(Seconds, 1.9);
        QTest::qWait(300);
        EXPECT_GT(Position(), 9 * Tenth + Frame) << "plays on from the new start";
    });
}

// Where the lead-in starts is in the click table; here it plays through
// the old start and stops at the new end.
TEST_F(PlaySelected, MovingTheEndOfAShortSegmentPlaysTheLeadInThroughItsStart) {
    Host.Open(300, 800, 0);
    RunDialog(Host, [&](TView& View) {
        View.Click("udnEnd", TUpDown::btNext);
        EXPECT_NEAR(Position(), 0, Frame);
        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Playing(); }, 2500));
        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Paused(); }, 2500));
        EXPECT_NEAR(Position(), 9 * Tenth, Frame);
        EXPECT_EQ(View.Track->MinPos(), 300);
    });
}

TEST_F(PlaySelected, OKWritesTheMarksBackAndEveryWayOutRestoresThePlayer) {
    enum TWayOut { OK, Cancel, Esc, CloseBox };
    struct TCase {
        const char* Name;
        int64_t SelStart, SelEnd;
        int StartUps, EndDowns;
        TWayOut Way;
        int64_t MarkStart, MarkEnd;
    };
    const TCase Cases[] = {
        {"OK", 1000, 2000, 1, 2, OK, 1100, 1800},
        {"OK with the start raised to the end", 1000, 1200, 2, 0, OK, -1, 1200},
        {"Cancel", 1000, 2000, 1, 2, Cancel, 1000, 2000},
        {"Esc", 1000, 2000, 1, 2, Esc, 1000, 2000},
        {"the close box", 1000, 2000, 1, 2, CloseBox, 1000, 2000},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TTestHost Local;
        Local.Open(Case.SelStart, Case.SelEnd, 27);
        RunDialog(Local, [&](TView& View) {
            View.Click("udnStart", TUpDown::btNext, Case.StartUps);
            View.Click("udnEnd", TUpDown::btPrev, Case.EndDowns);
            if (Case.Way == OK)
                QTest::mouseClick(View.Apply, Qt::LeftButton);
            else if (Case.Way == Cancel)
                QTest::mouseClick(View.Cancel, Qt::LeftButton);
            else if (Case.Way == Esc)
                TypeKey(&View.Dialog, Qt::Key_Escape);
            else
                View.Dialog.close();
            EXPECT_FALSE(View.Dialog.isVisible());
        });
        EXPECT_EQ(Local.TrackLine().SelStart(), Case.MarkStart);
        EXPECT_EQ(Local.TrackLine().SelEnd(), Case.MarkEnd);
        EXPECT_EQ(Local.LabelUpdates, Case.Way == OK ? 1 : 0);
        ExpectPlayerRestored(Local, 27);
    }
}

TEST_F(PlaySelected, FailuresAreReportedAndFrmPlaySelectedIsEmptyAgain) {
    // Marks but no open player: reading its position fails, the error
    // escapes the dialog's opening.
    Host.TrackLine().SetMaxPos(3000);
    Host.TrackLine().SetSelStart(1000);
    Host.TrackLine().SetSelEnd(2000);
    EXPECT_THROW(ShowPlaySelected(Host), Exception);
    EXPECT_EQ(frmPlaySelected, nullptr);
    EXPECT_EQ(Host.findChild<TfrmPlaySelected*>(), nullptr);

    // A player failing while the dialog is up: reported, the dialog stays,
    // and putting the player back fails as well on the way out.
    Host.Open(1000, 2000, 0);
    MessagesExpected = true;
    RunDialog(Host, [&](TView& View) {
        Host.Player().Close();
        View.ClickTrack(165);
        EXPECT_EQ(Boxes.Seen, QStringList{"Error: Unable to set position"});
        EXPECT_TRUE(View.Dialog.isVisible());
    });
    EXPECT_EQ(Boxes.Seen.back(), "Error: Unable to determine duration");
}

TEST_F(PlaySelected, TypedTimesMoveAnEndLikeAnArrowOntoAFrameOrAreRefused) {
    struct TCase {
        const char* Box;
        const char* Text;
        int64_t FrameTicks;
        // The new end, or the same for a refused text.
        int64_t Start, End;
    };
    // The segment 1000 to 2000 ms; frames of 26.122 ms.
    const TCase Cases[] = {
        {"edtStart", "1.5", FixtureFrameTicks, 1489, 2000}, // frame 57
        {"edtStart", "0:01.237", FixtureFrameTicks, 1228, 2000},
        {"edtStart", "1.5", 0, 1500, 2000}, // frames unknown: as typed
        {"edtEnd", "2.5", FixtureFrameTicks, 1000, 2508},
        {"edtEnd", "3.03", FixtureFrameTicks, 1000, StreamEnd}, // the stream's end
        {"edtEnd", "3.1", FixtureFrameTicks, 1000, 2000},       // past the stream
        {"edtStart", "2.1", FixtureFrameTicks, 1000, 2000},     // past the end
        {"edtEnd", "0.9", FixtureFrameTicks, 1000, 2000},       // before the start
        {"edtStart", "soon", FixtureFrameTicks, 1000, 2000},
    };
    for (const TCase& Case : Cases) {
        for (const bool Return : {true, false}) {
            SCOPED_TRACE(::testing::Message() << Case.Box << " " << Case.Text << " "
                                              << Case.FrameTicks << (Return ? " Return" : " Tab"));
            TTestHost Local;
            Local.FrameLength = Case.FrameTicks;
            Local.Open(1000, 2000, 0);
            RunDialog(Local, [&](TView& View) {
                auto* Box = View.Dialog.findChild<QLineEdit*>(Case.Box);
                View.Dialog.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&View.Dialog));
                Box->setFocus();
                Box->selectAll();
                QTest::keyClicks(Box, Case.Text);
                QTest::keyClick(Box, Return ? Qt::Key_Return : Qt::Key_Tab);
                EXPECT_TRUE(View.Dialog.isVisible());
                EXPECT_EQ(View.Track->MinPos(), Case.Start);
                EXPECT_EQ(View.Track->MaxPos(), Case.End);
                EXPECT_EQ(View.Start->text(), TimeText(Case.Start));
                EXPECT_EQ(View.End->text(), TimeText(Case.End));
                const bool Taken = Case.Start != 1000 || Case.End != 2000;
                EXPECT_EQ(View.Apply->isEnabled(), Taken);
                EXPECT_EQ(View.Paused(), Taken);
                if (Taken) {
                    const int64_t Seek = Case.Start != 1000 ? Case.Start : Case.End - 2000;
                    EXPECT_NEAR(Local.Player().Position(), Seek * RefPerMs, Frame);
                }
            });
        }
    }
}

TEST_F(PlaySelected, TheTrackLineShowsTheHostsPictureAsItGrows) {
    auto Overview = std::make_shared<TLoudnessOverview>(TicksPerSecond / 100, 3 * TicksPerSecond);
    Host.Open(1000, 2000, 0);
    RunDialog(Host, [&](TView& View) {
        EXPECT_EQ(View.Track->Overview(), nullptr);
        EXPECT_DOUBLE_EQ(View.Track->FrameLength(), 1152 * 1000.0 / 44100);
        Host.LoudnessOverview = Overview;
        EXPECT_TRUE(QTest::qWaitFor([&] { return View.Track->Overview() == Overview; }, 1000))
            << "taken at the next tick";
        const QPoint Middle(View.Track->PosToX(1500), View.Track->height() / 2);
        EXPECT_EQ(View.Track->grab().toImage().pixelColor(Middle), QColor(Qt::white));
        for (int Block = 0; Block < 200; ++Block)
            Overview->AddBlock(1, 0.5);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return View.Track->grab().toImage().pixelColor(Middle) != Qt::white; }, 1000))
            << "drawn at the next tick";
    });
}

} // namespace
