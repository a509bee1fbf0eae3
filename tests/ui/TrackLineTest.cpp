#include "TrackLine.h"

#include "FrameClock.h"
#include "OverviewBuilder.h"
#include "TestFiles.h"

#include <QImage>
#include <QKeyEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

const QColor PanelColour(212, 208, 200);
const QColor Grey(128, 128, 128);
const QColor White(255, 255, 255);
const QColor Silver(192, 192, 192);
const QColor Blue(0, 0, 255);
const QColor Black(0, 0, 0);

// The main window's timeline: a 388 x 28 panel, margins 3, 2, 3, 14, so the
// bar spans columns 3 to 384 and rows 2 to 13.
class TrackLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        Panel.resize(388, 28);
        QPalette Palette = Panel.palette();
        Palette.setColor(QPalette::Window, PanelColour);
        Panel.setPalette(Palette);
        Panel.setAutoFillBackground(true);
        auto* Layout = new QVBoxLayout(&Panel);
        Layout->setContentsMargins(0, 0, 0, 0);
        Track = new TTrackLine(&Panel);
        Layout->addWidget(Track);
        Track->SetLeftMargin(3);
        Track->SetTopMargin(2);
        Track->SetRightMargin(3);
        Track->SetMinPos(0);
        Track->SetMaxPos(3000);
        Track->SetOnChange([this](TTrackLine* Sender) {
            EXPECT_EQ(Sender, Track);
            Changes.push_back(Sender->CurPos());
        });
        Panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Panel));
        ASSERT_EQ(Track->size(), QSize(388, 28));
    }

    QImage Render() { return Panel.grab().toImage(); }

    QWidget Panel;
    TTrackLine* Track = nullptr;
    std::vector<int64_t> Changes;
};

::testing::AssertionResult PixelIs(const QImage& Image, int X, int Y, const QColor& Expected) {
    const QColor Actual = Image.pixelColor(X, Y);
    if (Actual.rgb() == Expected.rgb())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << X << ", " << Y << ") is " << Actual.name().toStdString() << ", expected "
           << Expected.name().toStdString();
}

TEST(TrackLineDefaults, AfterConstruction) {
    TTrackLine Track;
    EXPECT_EQ(Track.MinPos(), 0);
    EXPECT_EQ(Track.MaxPos(), 0);
    EXPECT_EQ(Track.CurPos(), 0);
    EXPECT_EQ(Track.SelStart(), -1);
    EXPECT_EQ(Track.SelEnd(), -1);
    EXPECT_EQ(Track.LeftMargin(), 5);
    EXPECT_EQ(Track.TopMargin(), 9);
    EXPECT_EQ(Track.RightMargin(), 5);
    EXPECT_EQ(Track.BottomMargin(), 14);
}

TEST_F(TrackLineTest, CurrentPositionRule) {
    Track->SetCurPos(100);
    EXPECT_EQ(Track->CurPos(), 100);
    Track->SetCurPos(100); // same value: no second event
    Track->SetCurPos(3001);
    Track->SetCurPos(-1);
    EXPECT_EQ(Track->CurPos(), 100);
    Track->SetCurPos(3000);
    EXPECT_EQ(Changes, (std::vector<int64_t>{100, 3000}));

    Track->UpdateCurPos(1200);
    EXPECT_EQ(Track->CurPos(), 1200);
    Track->UpdateCurPos(5000);
    EXPECT_EQ(Track->CurPos(), 1200);
    EXPECT_EQ(Changes.size(), 2u); // following playback never seeks
}

TEST_F(TrackLineTest, IgnoredWriteDoesNotRepaint) {
    int Paints = 0;
    struct TCounter : QObject {
        int& Count;
        explicit TCounter(int& C) : Count(C) {}
        bool eventFilter(QObject*, QEvent* Event) override {
            if (Event->type() == QEvent::Paint)
                ++Count;
            return false;
        }
    } Counter(Paints);
    Track->installEventFilter(&Counter);
    Track->SetCurPos(5000);
    Track->SetCurPos(0);
    Track->SetSelStart(-1);
    EXPECT_EQ(Paints, 0);
    Track->SetCurPos(10);
    EXPECT_EQ(Paints, 1); // at once, not later
    Track->SetSelStart(20);
    EXPECT_EQ(Paints, 2);
}

TEST_F(TrackLineTest, SelectionRule) {
    Track->SetSelStart(100);
    Track->SetSelEnd(200);
    EXPECT_EQ(Track->SelStart(), 100);
    EXPECT_EQ(Track->SelEnd(), 200);

    Track->SetSelStart(200); // a start on the end clears the end
    EXPECT_EQ(Track->SelStart(), 200);
    EXPECT_EQ(Track->SelEnd(), -1);

    Track->SetSelEnd(300);
    Track->SetSelEnd(200); // an end on the start clears the start
    EXPECT_EQ(Track->SelStart(), -1);
    EXPECT_EQ(Track->SelEnd(), 200);

    Track->SetSelStart(50);
    Track->SetSelStart(-1); // clears only that mark
    EXPECT_EQ(Track->SelEnd(), 200);
    Track->SetSelStart(50);
    Track->SetSelEnd(-1);
    EXPECT_EQ(Track->SelStart(), 50);

    Track->SetSelEnd(99999); // not held to the range
    EXPECT_EQ(Track->SelEnd(), 99999);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(TrackLineTest, MappingOfTheMainWindowPanel) {
    EXPECT_EQ(Track->GetBarRect(), QRect(3, 2, 382, 12));
    EXPECT_EQ(Track->GetHitRect(), QRect(3, 0, 382, 28));
    EXPECT_EQ(Track->XToPos(3), 0);
    EXPECT_EQ(Track->XToPos(194), 1504);
    EXPECT_EQ(Track->XToPos(384), 3000);
    EXPECT_EQ(Track->XToPos(0), -24); // not clamped
    EXPECT_EQ(Track->PosToX(0), 3);
    EXPECT_EQ(Track->PosToX(1504), 194);
    EXPECT_EQ(Track->PosToX(3000), 384);

    Track->SetMinPos(1000);
    EXPECT_EQ(Track->XToPos(3), 1000);
    EXPECT_EQ(Track->XToPos(384), 3000);
}

TEST_F(TrackLineTest, MappingRoundsHalvesToEven) {
    Track->SetMaxPos(2); // 1 -> 1 * 381 / 2 + 3 = 193.5, 3 -> 574.5
    EXPECT_EQ(Track->PosToX(1), 194);
    EXPECT_EQ(Track->PosToX(3), 574);

    Panel.resize(9, 28); // bar columns 3 to 5: X - 3 halved
    Track->SetMaxPos(1);
    EXPECT_EQ(Track->XToPos(4), 0); // 0.5
    EXPECT_EQ(Track->XToPos(6), 2); // 1.5
    EXPECT_EQ(Track->XToPos(8), 2); // 2.5
}

TEST_F(TrackLineTest, DegenerateRanges) {
    Track->SetMaxPos(0);
    EXPECT_EQ(Track->PosToX(0), 0);
    EXPECT_EQ(Track->PosToX(500), 0);
    Panel.resize(7, 28); // bar of one column
    Track->SetMaxPos(3000);
    EXPECT_EQ(Track->XToPos(3), 0);
}

TEST_F(TrackLineTest, PaintOfTheBarCursorTicksAndBand) {
    Track->SetCurPos(1504);  // column 194
    Track->SetSelStart(300); // column 41
    Track->SetSelEnd(2700);  // column 346
    const QImage Image = Render();

    // Outline and interior of the bar; nothing outside it.
    for (const QPoint Corner : {QPoint(3, 2), QPoint(384, 2), QPoint(3, 13), QPoint(384, 13)})
        EXPECT_TRUE(PixelIs(Image, Corner.x(), Corner.y(), Grey));
    EXPECT_TRUE(PixelIs(Image, 100, 2, Grey));
    EXPECT_TRUE(PixelIs(Image, 100, 13, Grey));
    EXPECT_TRUE(PixelIs(Image, 4, 3, White));
    EXPECT_TRUE(PixelIs(Image, 383, 12, White));
    EXPECT_TRUE(PixelIs(Image, 2, 8, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 385, 8, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 100, 1, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 100, 14, PanelColour));

    // The 3-pixel cursor from the top of the bar to its last row.
    for (int X = 193; X <= 195; ++X) {
        EXPECT_TRUE(PixelIs(Image, X, 2, Black));
        EXPECT_TRUE(PixelIs(Image, X, 13, Black));
        EXPECT_TRUE(PixelIs(Image, X, 14, PanelColour));
    }
    EXPECT_TRUE(PixelIs(Image, 192, 8, White));
    EXPECT_TRUE(PixelIs(Image, 196, 8, White));

    // Ticks on rows 17 to 22, the band on rows 18 to 21 between them.
    for (const int X : {41, 346}) {
        EXPECT_TRUE(PixelIs(Image, X, 16, PanelColour));
        for (int Y = 17; Y <= 22; ++Y)
            EXPECT_TRUE(PixelIs(Image, X, Y, Blue));
        EXPECT_TRUE(PixelIs(Image, X, 23, PanelColour));
    }
    for (const int X : {42, 200, 345}) {
        EXPECT_TRUE(PixelIs(Image, X, 17, PanelColour));
        EXPECT_TRUE(PixelIs(Image, X, 18, Blue));
        EXPECT_TRUE(PixelIs(Image, X, 21, Blue));
        EXPECT_TRUE(PixelIs(Image, X, 22, PanelColour));
    }
    EXPECT_TRUE(PixelIs(Image, 40, 18, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 347, 18, PanelColour));
}

TEST_F(TrackLineTest, OneMarkDrawsItsTickWithoutBand) {
    Track->SetSelEnd(2700);
    const QImage Image = Render();
    EXPECT_TRUE(PixelIs(Image, 346, 20, Blue));
    EXPECT_TRUE(PixelIs(Image, 200, 20, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 3, 20, PanelColour)); // no tick for the unset start
}

TEST_F(TrackLineTest, EmptyRangeDrawsTheCursorAtColumnZero) {
    Track->SetMaxPos(0);
    const QImage Image = Render();
    EXPECT_TRUE(PixelIs(Image, 0, 8, Black));
    EXPECT_TRUE(PixelIs(Image, 1, 8, Black));
    EXPECT_TRUE(PixelIs(Image, 2, 8, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 4, 8, White));
}

TEST_F(TrackLineTest, DisabledShowsOnlyTheSilverBar) {
    Track->SetCurPos(1504);
    Track->SetSelStart(300);
    Track->SetSelEnd(2700);
    Track->SetEnabled(false);
    const QImage Image = Render();
    EXPECT_TRUE(PixelIs(Image, 3, 2, Grey));
    EXPECT_TRUE(PixelIs(Image, 100, 8, Silver));
    EXPECT_TRUE(PixelIs(Image, 194, 8, Silver));
    EXPECT_TRUE(PixelIs(Image, 41, 20, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 200, 19, PanelColour));

    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(100, 8));
    EXPECT_EQ(Track->CurPos(), 1504);
    EXPECT_TRUE(Changes.size() == 1);
}

TEST_F(TrackLineTest, UnderADisabledWindowItKeepsShowingCursorAndMarks) {
    // What a running job does to the main window.
    Track->SetCurPos(1504);
    Track->SetSelStart(300);
    Track->SetSelEnd(2700);
    Panel.setEnabled(false);
    const QImage Image = Render();
    EXPECT_TRUE(PixelIs(Image, 100, 8, White));
    EXPECT_TRUE(PixelIs(Image, 194, 8, Black));
    EXPECT_TRUE(PixelIs(Image, 200, 19, Blue));
    Panel.setEnabled(true);

    // Its own flag takes the mouse away; turning it back on repaints.
    Track->SetEnabled(false);
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(3, 8));
    QTest::mouseMove(Track, QPoint(384, 8));
    EXPECT_EQ(Track->CurPos(), 1504);
    Track->SetEnabled(true);
    EXPECT_TRUE(PixelIs(Render(), 194, 8, Black));
}

TEST_F(TrackLineTest, ClickAnywhereBetweenTheEdgesOfTheBar) {
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(384, 8));
    EXPECT_EQ(Track->CurPos(), 3000);
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(3, 8));
    EXPECT_EQ(Track->CurPos(), 0);
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(194, 0)); // top margin
    EXPECT_EQ(Track->CurPos(), 1504);
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(3, 27)); // bottom margin
    EXPECT_EQ(Track->CurPos(), 0);
    EXPECT_EQ(Changes, (std::vector<int64_t>{3000, 0, 1504, 0}));
}

TEST_F(TrackLineTest, ClickBesideTheBarOnlyStartsADrag) {
    QTest::mousePress(Track, Qt::LeftButton, Qt::NoModifier, QPoint(2, 8));
    EXPECT_EQ(Track->CurPos(), 0);
    QTest::mouseMove(Track, QPoint(194, 8));
    EXPECT_EQ(Track->CurPos(), 1504);
    QTest::mouseRelease(Track, Qt::LeftButton, Qt::NoModifier, QPoint(194, 8));

    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(385, 8));
    EXPECT_EQ(Track->CurPos(), 1504);
}

TEST_F(TrackLineTest, DragPastBothEndsAndRelease) {
    QTest::mousePress(Track, Qt::LeftButton, Qt::NoModifier, QPoint(194, 8));
    EXPECT_EQ(Track->CurPos(), 1504);
    QTest::mouseMove(Track, QPoint(-60, 40));
    EXPECT_EQ(Track->CurPos(), 0);
    QTest::mouseMove(Track, QPoint(600, -10));
    EXPECT_EQ(Track->CurPos(), 3000);
    QTest::mouseMove(Track, QPoint(384, 8)); // same position: no event
    QTest::mouseRelease(Track, Qt::LeftButton, Qt::NoModifier, QPoint(384, 8));
    EXPECT_EQ(Changes, (std::vector<int64_t>{1504, 0, 3000}));

    QTest::mouseMove(Track, QPoint(194, 8)); // released: no longer dragging
    EXPECT_EQ(Track->CurPos(), 3000);
}

TEST_F(TrackLineTest, OtherButtonsDoNotMoveThePosition) {
    QTest::mouseClick(Track, Qt::RightButton, Qt::NoModifier, QPoint(194, 8));
    QTest::mouseClick(Track, Qt::MiddleButton, Qt::NoModifier, QPoint(194, 8));
    EXPECT_EQ(Track->CurPos(), 0);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(TrackLineTest, ValidPosHandlerSeesTheShiftAndMayChangeThePosition) {
    TShiftState Seen{};
    Track->SetOnValidPos([&](TTrackLine* Sender, TShiftState Shift, int64_t& Pos) {
        EXPECT_EQ(Sender, Track);
        Seen = Shift;
        Pos = Pos / 100 * 100;
    });
    QTest::mouseClick(Track, Qt::LeftButton, Qt::ShiftModifier, QPoint(194, 8));
    EXPECT_EQ(Track->CurPos(), 1500);
    EXPECT_TRUE(Seen.Modifiers & Qt::ShiftModifier);
    EXPECT_TRUE(Seen.Buttons & Qt::LeftButton);
    EXPECT_EQ(Track->DoValidPos({}, 1234), 1200);

    Track->SetOnValidPos([](TTrackLine*, TShiftState, int64_t& Pos) { Pos = 99999; });
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(100, 8));
    EXPECT_EQ(Track->CurPos(), 1500); // out of range: ignored
}

// Markers and the preview of a split's part starts.

const QColor MarkerOrange(204, 85, 0);
const QColor PartStartGreen(0, 200, 0);

TEST_F(TrackLineTest, MarkersStaySortedUniqueInsideTheRangeAndReportEachChange) {
    int Reports = 0;
    Track->SetOnMarkersChange([&](TTrackLine* Sender) {
        EXPECT_EQ(Sender, Track);
        ++Reports;
    });
    const struct {
        const char* Step;
        std::function<void()> Call;
        std::vector<int64_t> Markers;
        int Reports;
    } Steps[] = {
        {"add", [&] { Track->AddMarker(2000); }, {2000}, 1},
        {"add before", [&] { Track->AddMarker(500); }, {500, 2000}, 2},
        {"add between", [&] { Track->AddMarker(1000); }, {500, 1000, 2000}, 3},
        {"duplicate", [&] { Track->AddMarker(1000); }, {500, 1000, 2000}, 3},
        {"past the end", [&] { Track->AddMarker(3001); }, {500, 1000, 2000}, 3},
        {"before the start", [&] { Track->AddMarker(-1); }, {500, 1000, 2000}, 3},
        {"ends count", [&] { Track->AddMarker(3000); }, {500, 1000, 2000, 3000}, 4},
        {"remove", [&] { Track->RemoveMarker(1000); }, {500, 2000, 3000}, 5},
        {"remove none", [&] { Track->RemoveMarker(1001); }, {500, 2000, 3000}, 5},
        {"clear", [&] { Track->ClearMarkers(); }, {}, 6},
        {"clear again", [&] { Track->ClearMarkers(); }, {}, 6},
    };
    for (const auto& Step : Steps) {
        SCOPED_TRACE(Step.Step);
        Step.Call();
        EXPECT_EQ(Track->Markers(), Step.Markers);
        EXPECT_EQ(Reports, Step.Reports);
    }
    EXPECT_TRUE(Changes.empty()) << "markers never move the cursor";
}

TEST_F(TrackLineTest, MarkersAreSolidWithAHandleAndPartStartsDashed) {
    Track->AddMarker(1504);     // column 194
    Track->SetPartStarts({300}); // column 41
    QImage Image = Render();
    for (int Y = 2; Y <= 13; ++Y)
        EXPECT_TRUE(PixelIs(Image, 194, Y, MarkerOrange));
    EXPECT_TRUE(PixelIs(Image, 195, 8, White));
    // The handle: five columns above the bar, three into its top rows.
    for (int X = 192; X <= 196; ++X)
        EXPECT_TRUE(PixelIs(Image, X, 0, MarkerOrange));
    EXPECT_TRUE(PixelIs(Image, 191, 0, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 197, 0, PanelColour));
    EXPECT_TRUE(PixelIs(Image, 193, 4, MarkerOrange));
    EXPECT_TRUE(PixelIs(Image, 192, 4, White));
    // Dashes of two rows inside the bar, never over its edge.
    for (const int Y : {3, 4, 7, 8, 11})
        EXPECT_TRUE(PixelIs(Image, 41, Y, PartStartGreen)) << Y;
    for (const int Y : {2, 5, 6, 9, 10, 13})
        EXPECT_FALSE(PixelIs(Image, 41, Y, PartStartGreen)) << Y;
    // The cursor is drawn over a marker.
    Track->SetCurPos(1504);
    EXPECT_TRUE(PixelIs(Render(), 194, 8, Black));

    Track->SetPartStarts({});
    Track->ClearMarkers();
    Image = Render();
    EXPECT_TRUE(PixelIs(Image, 41, 3, White));
    EXPECT_TRUE(PixelIs(Image, 192, 0, PanelColour));
}

TEST_F(TrackLineTest, AHandleDragMovesTheMarkerThroughTheOwnerAndPassesOthersBy) {
    Track->SetOnValidPos(
        [](TTrackLine*, TShiftState, int64_t& Pos) { Pos = (Pos + 50) / 100 * 100; });
    Track->AddMarker(1504); // column 194
    Track->AddMarker(2700); // column 346
    QTest::mousePress(Track, Qt::LeftButton, Qt::NoModifier, QPoint(195, 1));
    QTest::mouseMove(Track, QPoint(360, 1)); // past the other marker
    EXPECT_EQ(Track->Markers(), (std::vector<int64_t>{2700, 2800}));
    QTest::mouseMove(Track, QPoint(41, 20)); // the drag goes on below the handle
    QTest::mouseRelease(Track, Qt::LeftButton, Qt::NoModifier, QPoint(41, 20));
    EXPECT_EQ(Track->Markers(), (std::vector<int64_t>{300, 2700}));
    EXPECT_TRUE(Changes.empty()) << "the cursor stays";

    // Dropped on another marker, the two are one.
    QTest::mousePress(Track, Qt::LeftButton, Qt::NoModifier, QPoint(41, 0));
    QTest::mouseMove(Track, QPoint(346, 0));
    QTest::mouseRelease(Track, Qt::LeftButton, Qt::NoModifier, QPoint(346, 0));
    EXPECT_EQ(Track->Markers(), (std::vector<int64_t>{2700}));

    // In the bar, or beside a handle, a press moves the cursor as always.
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(346, 8));
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(333, 0));
    EXPECT_EQ(Changes, (std::vector<int64_t>{2700, 2600}));
    EXPECT_EQ(Track->Markers(), (std::vector<int64_t>{2700}));
}

TEST_F(TrackLineTest, RightClickAndDeleteRemoveOnlyAMarkerWithinAFewPixels) {
    const struct {
        const char* Name;
        int X;
        std::vector<int64_t> Left;
    } Clicks[] = {
        {"four columns off", 198, {1504, 2700}},
        {"three columns off", 349, {1504}},
        {"on the line", 194, {}},
    };
    Track->AddMarker(1504); // column 194
    Track->AddMarker(2700); // column 346
    for (const auto& Click : Clicks) {
        SCOPED_TRACE(Click.Name);
        QTest::mouseClick(Track, Qt::RightButton, Qt::NoModifier, QPoint(Click.X, 8));
        EXPECT_EQ(Track->Markers(), Click.Left);
    }

    Track->AddMarker(1504);
    Track->setFocus();
    Track->SetCurPos(1536); // column 198, four off
    QTest::keyClick(Track, Qt::Key_Delete);
    EXPECT_EQ(Track->Markers(), (std::vector<int64_t>{1504}));
    Track->SetCurPos(1520); // column 196
    QTest::keyClick(Track, Qt::Key_Delete);
    EXPECT_TRUE(Track->Markers().empty());
}

// The loudness picture and the view, in milliseconds as in the program.

constexpr int64_t TicksPerMs = TicksPerSecond / 1000;
// One MPEG-1 Layer III frame at 44100 Hz.
constexpr int64_t FrameTicks44k = 1152 * (TicksPerSecond / 44100);
constexpr double FrameMs44k = 1152 * 1000.0 / 44100;

bool IsDark(const QColor& Colour) {
    return Colour.lightness() < 128;
}

// The inside of the bar is rows 3 to 12, its middle between rows 7 and 8.
bool LoudAt(const QImage& Image, int X) {
    return IsDark(Image.pixelColor(X, 7)) && IsDark(Image.pixelColor(X, 8));
}

void SendWheel(TTrackLine* Track, int X, QPoint Angle, Qt::KeyboardModifiers Modifiers) {
    const QPointF At(X + 0.5, 8.5);
    QWheelEvent Event(At, At, QPoint(), Angle, Qt::NoButton, Modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Track, &Event);
}

TEST_F(TrackLineTest, LoudBlocksShowDarkAroundTheMiddleOthersThePlainFaceAtAnyView) {
    // Blocks of 10 ms: loud, silent from 1 s, loud from 2 s; decoded to 2.5 s.
    auto Overview = std::make_shared<TLoudnessOverview>(10 * TicksPerMs, 3000 * TicksPerMs);
    for (int64_t Ms = 0; Ms < 2500; Ms += 10)
        Overview->AddBlock(Ms < 1000 || Ms >= 2000 ? 0.9f : 0, Ms < 1000 || Ms >= 2000 ? 0.06 : 0);
    Track->SetOverview(Overview, TicksPerMs);
    Track->SetCurPos(3000);
    for (const auto& [Start, End] : {std::pair{0, 3000}, {850, 1231}, {1900, 2281}, {2300, 2681}}) {
        SCOPED_TRACE(::testing::Message() << "view " << Start << " to " << End);
        Track->SetView(Start, End);
        ASSERT_EQ(Track->ViewStart(), Start);
        const QImage Image = Render();
        for (int X = 4; X <= 380; ++X) {
            const int64_t Pos = Track->XToPos(X), Column = (End - Start) / 381;
            // Columns at an edge hold blocks of both sides.
            if (std::abs(Pos - 1000) <= Column || std::abs(Pos - 2000) <= Column)
                continue;
            const bool Loud = (Pos < 1000 || Pos >= 2000) && Pos < 2500;
            EXPECT_EQ(LoudAt(Image, X), Loud) << X;
            EXPECT_EQ(Image.pixelColor(X, 3) == White && Image.pixelColor(X, 12) == White, !Loud);
        }
    }
    Track->ShowAll();
    Track->SetSelStart(1200);
    Track->SetSelEnd(1800);
    const QColor Selected = Render().pixelColor(Track->PosToX(1500), 5);
    EXPECT_GT(Selected.blue(), Selected.red() + 20) << "tinted";
    EXPECT_GT(Selected.lightness(), 200) << "not covered";
}

TEST_F(TrackLineTest, PeakAndRmsBandsOnADecibelScale) {
    struct TCase {
        float Peak;
        double MeanSquare;
        // Rows 3 to 12: '.' the face, 'p' the light peak, 'r' the dark RMS.
        const char* Rows;
    };
    const TCase Cases[] = {
        {0.9f, 0.0625, "prrrrrrrrp"},   // -1 dB, -12 dB
        {0.01f, 1e-4, "...rrrr..."},    // -40 dB, which a linear scale hides
        {0.01f, 6.25e-6, "...prrp..."}, // -40 dB, -52 dB
        {3e-4f, 1e-8, ".........."},    // below -60 dB
    };
    auto Overview = std::make_shared<TLoudnessOverview>(750 * TicksPerMs, 3000 * TicksPerMs);
    for (const TCase& Case : Cases)
        Overview->AddBlock(Case.Peak, Case.MeanSquare);
    Track->SetOverview(Overview, TicksPerMs);
    Track->SetCurPos(3000);
    const QImage Image = Render();
    for (int I = 0; I < 4; ++I) {
        std::string Rows;
        for (int Y = 3; Y <= 12; ++Y) {
            const QColor Colour = Image.pixelColor(Track->PosToX(I * 750 + 375), Y);
            Rows += Colour == White ? '.' : IsDark(Colour) ? 'r' : 'p';
        }
        EXPECT_EQ(Rows, Cases[I].Rows);
    }
}

TEST_F(TrackLineTest, ViewChanges) {
    using T = TTrackLine&;
    const auto Drag = [](Qt::MouseButton Button, int From, int To, int Y) {
        return [=](T Track) {
            QTest::mousePress(&Track, Button, {}, QPoint(From, Y));
            QTest::mouseMove(&Track, QPoint(To, Y));
            QTest::mouseRelease(&Track, Button, {}, QPoint(To, Y));
        };
    };
    struct TCase {
        const char* Name;
        std::function<void(T)> Action;
        int64_t Start, End;
    };
    // From 10000 to 13000 of 0 to 30000, 381 column steps; the cursor at
    // 11500. The strip's thumb spans columns 130 to 167 of 3 to 384.
    const TCase Cases[] = {
        {"shifted into the range", [](T Track) { Track.SetView(-500, 500); }, 0, 1000},
        {"a position a column at most", [](T Track) { Track.SetView(1000, 1010); }, 815, 1196},
        {"four pixels a frame at most",
         [](T Track) { Track.SetFrameLength(FrameMs44k), Track.SetView(10000, 10100); }, 8806,
         11294},
        {"a new range shows whole", [](T Track) { Track.SetMaxPos(20000); }, 0, 20000},
        {"the selection",
         [](T Track) { Track.SetSelStart(12000), Track.SetSelEnd(15000), Track.ZoomToSelection(); },
         12000, 15000},
        {"all", [](T Track) { Track.ShowAll(); }, 0, 30000},
        {"wheel towards the user",
         [](T Track) {
             SendWheel(&Track, 100, {0, -120}, {});
         },
         10300, 13300},
        {"middle-button drag", Drag(Qt::MiddleButton, 200, 100, 8), 10787, 13787},
        {"strip beside the thumb: a page",
         [](T Track) { QTest::mouseClick(&Track, Qt::LeftButton, {}, QPoint(300, 26)); }, 13000,
         16000},
        {"thumb dragged", Drag(Qt::LeftButton, 150, 184, 26), 12669, 15669},
        {"Plus: in around the cursor", [](T Track) { QTest::keyClick(&Track, Qt::Key_Plus); },
         10750, 12250},
        {"an arrow past the edge pages",
         [](T Track) { Track.UpdateCurPos(12990), QTest::keyClick(&Track, Qt::Key_Right); }, 12900,
         15900},
        {"following, at its right end",
         [](T Track) { Track.SetFollowCursor(true), Track.UpdateCurPos(13000); }, 12850, 15850},
        {"following, before it",
         [](T Track) { Track.SetFollowCursor(true), Track.SetCurPos(5000); }, 4850, 7850},
        {"not following", [](T Track) { Track.UpdateCurPos(20000); }, 10000, 13000},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Track->SetFollowCursor(false);
        Track->SetFrameLength(0);
        Track->SetSelStart(-1);
        Track->SetSelEnd(-1);
        Track->SetMinPos(0);
        Track->SetMaxPos(30000);
        Track->SetCurPos(11500);
        Track->SetView(10000, 13000);
        int ViewChanges = 0;
        Track->SetOnViewChange([&](TTrackLine*) { ++ViewChanges; });
        Case.Action(*Track);
        Track->SetOnViewChange({});
        EXPECT_EQ(Track->ViewStart(), Case.Start);
        EXPECT_EQ(Track->ViewEnd(), Case.End);
        EXPECT_EQ(ViewChanges > 0, Case.Start != 10000 || Case.End != 13000);
    }
    EXPECT_TRUE(IsDark(Render().pixelColor(150, 25))) << "the strip's thumb";
    Track->ShowAll();
    EXPECT_TRUE(PixelIs(Render(), 150, 25, PanelColour)) << "no strip at the whole range";
    EXPECT_FALSE(Track->ShowsMillis()) << "the whole range: tenths, however short";
    Track->SetMaxPos(100000);
    Track->SetView(0, 38100); // 100 positions a column
    EXPECT_FALSE(Track->ShowsMillis());
    Track->SetView(0, 38099);
    EXPECT_TRUE(Track->ShowsMillis());
}

TEST_F(TrackLineTest, CtrlWheelKeepsThePointUnderTheMouseAndStopsAtFourPixelsAFrame) {
    Track->SetMaxPos(30000);
    for (const auto& [X, Notches] : {std::pair{20, 1}, {194, 1}, {370, 1}, {20, -1}, {300, -2}}) {
        SCOPED_TRACE(::testing::Message() << "at " << X << " by " << Notches);
        Track->SetView(10000, 14000);
        const int64_t Before = Track->XToPos(X);
        SendWheel(Track, X, QPoint(0, 120 * Notches), Qt::ControlModifier);
        const int64_t Span = Track->ViewEnd() - Track->ViewStart();
        EXPECT_EQ(Notches > 0, Span < 4000);
        EXPECT_LE(std::abs(Track->XToPos(X) - Before), Span / 381);
    }
    Track->SetFrameLength(FrameMs44k);
    for (int I = 0; I < 20; ++I)
        SendWheel(Track, 194, QPoint(0, 120), Qt::ControlModifier);
    const auto FramePixels = [](int64_t Span) { return FrameMs44k * 381 / Span; };
    const int64_t Span = Track->ViewEnd() - Track->ViewStart();
    EXPECT_GE(FramePixels(Span), 4.0);
    EXPECT_LT(FramePixels(Span + 1), 4.0) << "no deeper than needed";
}

TEST_F(TrackLineTest, ArrowKeysStepTheCursorThroughTheOwner) {
    struct TCase {
        int64_t ViewEnd, From;
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        int64_t To;
    };
    // 44.1 kHz frames: 1500 lies in frame 57, from 1489 to 1515.
    const TCase Cases[] = {
        {3000, 1500, Qt::Key_Right, Qt::NoModifier, 1560},  // a fiftieth of the view
        {3000, 1500, Qt::Key_Left, Qt::ShiftModifier, 900}, // a fifth
        {3000, 1500, Qt::Key_Right, Qt::ControlModifier, 1515},
        {3000, 1500, Qt::Key_Left, Qt::ControlModifier, 1489},
        {2488, 1500, Qt::Key_Right, Qt::NoModifier, 1549}, // zoomed in
        {3000, 2990, Qt::Key_Right, Qt::NoModifier, 3000},
    };
    Track->SetFrameLength(FrameMs44k);
    TShiftState Seen{};
    Track->SetOnValidPos([&](TTrackLine*, TShiftState Shift, int64_t&) { Seen = Shift; });
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(::testing::Message() << Case.From << " " << Case.Key << " " << Case.Modifiers);
        Track->SetView(0, Case.ViewEnd);
        Track->SetCurPos(Case.From);
        Changes.clear();
        QTest::keyClick(Track, Case.Key, Case.Modifiers);
        EXPECT_EQ(Changes, std::vector<int64_t>{Case.To}) << "the owner seeks";
        EXPECT_EQ(Seen.Modifiers, Case.Modifiers);
    }
}

TEST_F(TrackLineTest, CtrlArrowsStepExactlyOneFrameThroughASnappingOwner) {
    Track->SetFrameLength(FrameMs44k);
    Track->SetOnValidPos(
        [](TTrackLine*, TShiftState, int64_t& Pos) { Pos = SnapMsToFrame(Pos, FrameTicks44k); });
    for (int64_t K = 1; K <= 114; ++K) {
        QTest::keyClick(Track, Qt::Key_Right, Qt::ControlModifier);
        ASSERT_EQ(Track->CurPos(), TicksToNearestMs(K * FrameTicks44k)) << "frame " << K;
    }
    for (int64_t K = 113; K >= 0; --K) {
        QTest::keyClick(Track, Qt::Key_Left, Qt::ControlModifier);
        ASSERT_EQ(Track->CurPos(), TicksToNearestMs(K * FrameTicks44k)) << "frame " << K;
    }
}

TEST_F(TrackLineTest, ItsOwnKeysAreClaimedBeforeShortcutsAndTheWindowsPassBy) {
    int Plays = 0;
    Track->SetOnPlayPause([&](TTrackLine*) { ++Plays; });
    for (const auto& [Key, Own] : {std::pair{Qt::Key_Right, true},
                                   {Qt::Key_Minus, true},
                                   {Qt::Key_Space, true},
                                   {Qt::Key_1, false},
                                   {Qt::Key_Home, false},
                                   {Qt::Key_End, false}}) {
        SCOPED_TRACE(::testing::Message() << "key " << Key);
        QKeyEvent Override(QEvent::ShortcutOverride, Key, Qt::NoModifier);
        QApplication::sendEvent(Track, &Override);
        QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier);
        QApplication::sendEvent(Track, &Press);
        EXPECT_EQ(Override.isAccepted(), Own);
        EXPECT_EQ(Press.isAccepted(), Own);
    }
    EXPECT_EQ(Plays, 1);
}

// A real file as the program draws it: silence with two 20 ms bursts of a
// tone at 0.5 s and 1.5 s, which the decoder's delay puts some 25 ms later.
// SEGMORA_TRACKLINE_PNGS names a folder to keep the pictures in, for a look.
TEST(TrackLineOfAFile, BurstsShowWhereTheyAreAndSilenceShowsNothing) {
    std::shared_ptr<const TLoudnessOverview> Overview;
    std::atomic<bool> Stop{false};
    ASSERT_EQ(DecodeOverview(FixturePath("burst-44k.mp3"), Stop, [&](auto Got) { Overview = Got; }),
              TOverviewResult::Done);
    const char* Folder = std::getenv("SEGMORA_TRACKLINE_PNGS");
    for (const auto& [Size, Name] :
         {std::pair{QSize(388, 28), "main"}, {QSize(800, 120), "large"}}) {
        TTrackLine Track;
        Track.resize(Size);
        Track.SetMaxPos(TicksToMs(Overview->Duration()));
        Track.SetOverview(Overview, TicksPerMs);
        Track.SetCurPos(1000);
        Track.SetSelStart(400);
        Track.SetSelEnd(1600);
        for (const bool Zoom : {false, true}) {
            SCOPED_TRACE(::testing::Message() << Name << (Zoom ? " zoomed" : ""));
            Zoom ? Track.SetView(400, 800) : Track.ShowAll();
            const QImage Image = Track.grab().toImage();
            if (Folder != nullptr)
                Image.save(
                    QString("%1/trackline-%2%3.png").arg(Folder, Name, Zoom ? "-zoomed" : ""));
            const auto Dark = [&](int64_t Ms) {
                return IsDark(Image.pixelColor(Track.PosToX(Ms), Track.GetBarRect().center().y()));
            };
            int Burst = 0;
            for (int64_t Ms = 500; Ms <= 560; Ms += 2)
                Burst += Dark(Ms);
            EXPECT_GE(Burst, 3);
            for (const int64_t Ms : {460, 640, 690, Zoom ? 700 : 1250, Zoom ? 700 : 1800})
                EXPECT_FALSE(Dark(Ms)) << Ms;
        }
    }
}

} // namespace
