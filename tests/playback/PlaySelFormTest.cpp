#include "PlaySelForm.h"

#include "Errors.h"
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

constexpr int64_t Tenth = 1'000'000;
// One frame of the fixture is 26 ms; positions agree to within that.
constexpr int64_t Frame = 300'000;

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

    // Opens the fixture, marks the segment and parks the player, paused, at
    // Position (tenths).
    void Open(int64_t SelStart, int64_t SelEnd, int64_t Position) {
        FPlayer.Open(FixturePath("cbr-128-info.mp3"));
        FTrack->SetMaxPos(FPlayer.Duration() / Tenth);
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

QString TimeText(int64_t Tenths) {
    return QString::fromStdString(FormatTime(static_cast<int32_t>(Tenths)));
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
    Host.Open(10, 20, 25);
    RunDialog(Host, [&](TView& View) {
        TfrmPlaySelected& Dialog = View.Dialog;
        EXPECT_EQ(Dialog.windowTitle(), "Playing...");
        EXPECT_TRUE(View.Playing());
        EXPECT_TRUE(SamePicture(View.PlayPause->icon(), imgPause));
        EXPECT_FALSE(View.Apply->isEnabled());
        EXPECT_EQ(View.Start->text(), "00:01.0");
        EXPECT_EQ(View.End->text(), "00:02.0");
        EXPECT_EQ(View.Track->CurPos(), 10);
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
        EXPECT_EQ(View.Track->CurPos(), 10);
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
        // Where the player waits for the restart, in tenths (2 s before a
        // new end, 0 at the earliest); -1 when no click was taken.
        int64_t SeekedTo;
    };
    // The fixture lasts 3.06 s: 30 tenths on the main track line.
    const TCase Cases[] = {
        {"start up by one", 10, 20, "udnStart", TUpDown::btNext, 1, 11, 20, 11},
        {"start up to the end, no further", 10, 12, "udnStart", TUpDown::btNext, 3, 12, 12, 12},
        {"start down to 0, no further", 1, 5, "udnStart", TUpDown::btPrev, 2, 0, 5, 0},
        {"start not below 0", 0, 5, "udnStart", TUpDown::btPrev, 1, 0, 5, -1},
        {"end down by one", 10, 25, "udnEnd", TUpDown::btPrev, 1, 10, 24, 4},
        {"end down to the start, no further", 10, 12, "udnEnd", TUpDown::btPrev, 3, 10, 10, 0},
        {"end up to the stream's length, no further", 27, 29, "udnEnd", TUpDown::btNext, 3, 27, 30,
         10},
        {"end not past the stream's length", 10, 30, "udnEnd", TUpDown::btNext, 1, 10, 30, -1},
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
                EXPECT_NEAR(Local.Player().Position(), Case.SeekedTo * Tenth, Frame);
            }
        });
    }
}

TEST_F(PlaySelected, RapidClicksKeepPlaybackPausedUntilASecondAfterTheLast) {
    Host.Open(5, 25, 0);
    RunDialog(Host, [&](TView& View) {
        // An arrow held down: each repeat is one click.
        int Clicks = 0;
        QObject::connect(View.Dialog.findChild<TUpDown*>("udnEnd"), &TUpDown::Click,
                         [&](TUpDown::TUDBtnType) { ++Clicks; });
        QTest::mousePress(View.Arrow("udnEnd", TUpDown::btPrev), Qt::LeftButton);
        QTest::qWait(700);
        QTest::mouseRelease(View.Arrow("udnEnd", TUpDown::btPrev), Qt::LeftButton);
        EXPECT_GE(Clicks, 3);
        EXPECT_EQ(View.Track->MaxPos(), 25 - Clicks);

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
    Host.Open(3, 8, 0);
    RunDialog(Host, [&](TView& View) {
        View.Click("udnEnd", TUpDown::btNext);
        EXPECT_NEAR(Position(), 0, Frame);
        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Playing(); }, 2500));
        ASSERT_TRUE(QTest::qWaitFor([&] { return View.Paused(); }, 2500));
        EXPECT_NEAR(Position(), 9 * Tenth, Frame);
        EXPECT_EQ(View.Track->MinPos(), 3);
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
        {"OK", 10, 20, 1, 2, OK, 11, 18},
        {"OK with the start raised to the end", 10, 12, 2, 0, OK, -1, 12},
        {"Cancel", 10, 20, 1, 2, Cancel, 10, 20},
        {"Esc", 10, 20, 1, 2, Esc, 10, 20},
        {"the close box", 10, 20, 1, 2, CloseBox, 10, 20},
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
    Host.TrackLine().SetMaxPos(30);
    Host.TrackLine().SetSelStart(10);
    Host.TrackLine().SetSelEnd(20);
    EXPECT_THROW(ShowPlaySelected(Host), Exception);
    EXPECT_EQ(frmPlaySelected, nullptr);
    EXPECT_EQ(Host.findChild<TfrmPlaySelected*>(), nullptr);

    // A player failing while the dialog is up: reported, the dialog stays,
    // and putting the player back fails as well on the way out.
    Host.Open(10, 20, 0);
    MessagesExpected = true;
    RunDialog(Host, [&](TView& View) {
        Host.Player().Close();
        View.ClickTrack(165);
        EXPECT_EQ(Boxes.Seen, QStringList{"Error: Unable to set position"});
        EXPECT_TRUE(View.Dialog.isVisible());
    });
    EXPECT_EQ(Boxes.Seen.back(), "Error: Unable to determine duration");
}

} // namespace
