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

// The loudness picture and the view. Positions are milliseconds here, as
// in the program.

constexpr int64_t TicksPerMs = TicksPerSecond / 1000;
// One MPEG-1 Layer III frame at 44100 Hz.
constexpr int64_t FrameTicks44k = 1152 * (TicksPerSecond / 44100);
constexpr double FrameMs44k = 1152 * 1000.0 / 44100;

// 3 s in blocks of 10 ms: loud, silent from 1 s, loud again from 2 s; only
// the first KnownMs decoded.
std::shared_ptr<TLoudnessOverview> LoudSilentLoud(int64_t KnownMs = 3000) {
    auto Overview = std::make_shared<TLoudnessOverview>(10 * TicksPerMs, 3000 * TicksPerMs);
    for (int64_t Ms = 0; Ms < KnownMs; Ms += 10) {
        const bool Loud = Ms < 1000 || Ms >= 2000;
        Overview->AddBlock(Loud ? 0.9f : 0, Loud ? 0.0625 : 0);
    }
    if (KnownMs >= 3000)
        Overview->Finish();
    return Overview;
}

bool IsDark(const QColor& Colour) {
    return Colour.lightness() < 128;
}

// The inside of the main window's bar: rows 3 to 12, its middle between
// rows 7 and 8.
bool LoudAt(const QImage& Image, int X) {
    return IsDark(Image.pixelColor(X, 7)) && IsDark(Image.pixelColor(X, 8));
}

bool PlainAt(const QImage& Image, int X) {
    for (int Y = 3; Y <= 12; ++Y)
        if (Image.pixelColor(X, Y).rgb() != White.rgb())
            return false;
    return true;
}

QWheelEvent Wheel(int X, QPoint Angle, Qt::KeyboardModifiers Modifiers) {
    const QPointF At(X + 0.5, 8.5);
    return QWheelEvent(At, At, QPoint(), Angle, Qt::NoButton, Modifiers, Qt::NoScrollPhase, false);
}

TEST_F(TrackLineTest, LoudColumnsShowDarkAroundTheMiddleAndSilentOnesThePlainFaceAtAnyView) {
    struct TCase {
        const char* Name;
        int64_t Start, End;
    };
    const TCase Cases[] = {
        {"the whole range", 0, 3000},
        {"half of it", 500, 2000},
        {"a ms a column across the first edge", 850, 1231},
        {"a ms a column across the second edge", 1900, 2281},
    };
    Track->SetOverview(LoudSilentLoud(), TicksPerMs);
    Track->SetCurPos(3000);
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Track->SetView(Case.Start, Case.End);
        ASSERT_EQ(Track->ViewStart(), Case.Start);
        ASSERT_EQ(Track->ViewEnd(), Case.End);
        const QImage Image = Render();
        int Loud = 0, Silent = 0;
        for (int X = 4; X <= 380; ++X) {
            // A column at an edge holds blocks of both sides.
            if (std::abs(X - Track->PosToX(1000)) <= 1 || std::abs(X - Track->PosToX(2000)) <= 1)
                continue;
            const int64_t Pos = Track->XToPos(X);
            if (Pos < 1000 || Pos >= 2000) {
                EXPECT_TRUE(LoudAt(Image, X)) << "column " << X << " at " << Pos;
                ++Loud;
            } else {
                EXPECT_TRUE(PlainAt(Image, X)) << "column " << X << " at " << Pos;
                ++Silent;
            }
        }
        EXPECT_GT(Loud, 20);
        EXPECT_GT(Silent, 20);
    }
}

TEST_F(TrackLineTest, PeakAndRmsBandsOnADecibelScale) {
    struct TCase {
        const char* Name;
        float Peak;
        double MeanSquare;
        // Rows 3 to 12: '.' the face, 'p' the light peak band, 'r' the
        // dark RMS band.
        const char* Rows;
    };
    const TCase Cases[] = {
        {"peak -1 dB, RMS -12 dB", 0.9f, 0.0625, "prrrrrrrrp"},
        {"-40 dB, which a linear scale would not show", 0.01f, 1e-4, "...rrrr..."},
        {"peak -40 dB, RMS -52 dB", 0.01f, 6.25e-6, "...prrp..."},
        {"below -60 dB", 3e-4f, 1e-8, ".........."},
    };
    constexpr int64_t BlockMs = 750;
    auto Overview = std::make_shared<TLoudnessOverview>(BlockMs * TicksPerMs, 3000 * TicksPerMs);
    for (const TCase& Case : Cases)
        Overview->AddBlock(Case.Peak, Case.MeanSquare);
    Overview->Finish();
    Track->SetOverview(Overview, TicksPerMs);
    Track->SetCurPos(3000);
    const QImage Image = Render();
    for (size_t I = 0; I < std::size(Cases); ++I) {
        SCOPED_TRACE(Cases[I].Name);
        const int X = Track->PosToX(static_cast<int64_t>(I) * BlockMs + BlockMs / 2);
        std::string Rows;
        for (int Y = 3; Y <= 12; ++Y) {
            const QColor Colour = Image.pixelColor(X, Y);
            Rows += Colour.rgb() == White.rgb() ? '.' : IsDark(Colour) ? 'r' : 'p';
        }
        EXPECT_EQ(Rows, Cases[I].Rows);
    }
}

TEST_F(TrackLineTest, UnknownColumnsStayPlainAndOnlyNewBlocksRepaint) {
    auto Overview = std::make_shared<TLoudnessOverview>(10 * TicksPerMs, 3000 * TicksPerMs);
    for (int Block = 0; Block < 50; ++Block)
        Overview->AddBlock(0.9f, 0.0625);
    Track->SetOverview(Overview, TicksPerMs);
    Track->SetCurPos(3000);
    QImage Image = Render();
    EXPECT_TRUE(LoudAt(Image, Track->PosToX(400)));
    EXPECT_TRUE(PlainAt(Image, Track->PosToX(600)));

    int Paints = 0;
    struct TCounter : QObject {
        int& Count;
        explicit TCounter(int& C) : Count(C) {}
        bool eventFilter(QObject*, QEvent* Event) override {
            Count += Event->type() == QEvent::Paint;
            return false;
        }
    } Counter(Paints);
    Track->installEventFilter(&Counter);
    Track->OverviewChanged();
    QApplication::processEvents();
    EXPECT_EQ(Paints, 0) << "nothing new";
    for (int Block = 50; Block < 100; ++Block)
        Overview->AddBlock(0.9f, 0.0625);
    Track->OverviewChanged();
    QApplication::processEvents();
    EXPECT_EQ(Paints, 1);
    Track->removeEventFilter(&Counter);
    EXPECT_TRUE(LoudAt(Render(), Track->PosToX(600)));

    Track->SetOverview(nullptr, TicksPerMs);
    EXPECT_TRUE(PlainAt(Render(), Track->PosToX(400))) << "no overview: the plain bar";
}

TEST_F(TrackLineTest, TheSelectionIsTintedOverThePicture) {
    Track->SetOverview(LoudSilentLoud(), TicksPerMs);
    Track->SetSelStart(1200);
    Track->SetSelEnd(1800);
    const QImage Image = Render();
    const QColor Inside = Image.pixelColor(Track->PosToX(1500), 5);
    EXPECT_NE(Inside.rgb(), White.rgb());
    EXPECT_GT(Inside.blue(), Inside.red());
    EXPECT_GT(Inside.lightness(), 200) << "a tint, not a fill";
    EXPECT_TRUE(PlainAt(Image, Track->PosToX(1100)));
    EXPECT_TRUE(PlainAt(Image, Track->PosToX(1900)));
}

TEST_F(TrackLineTest, AViewStaysInTheRangeAndNoDeeperThanItsLimit) {
    struct TCase {
        const char* Name;
        double FrameMs;
        int64_t Start, End, ViewStart, ViewEnd;
    };
    // 381 column steps: with no frame length, the deepest zoom is 381
    // positions; with 44.1 kHz frames, a frame is 4 pixels at 2488.
    const TCase Cases[] = {
        {"shifted in at the start", 0, -500, 500, 0, 1000},
        {"shifted in at the end", 0, 2500, 3500, 2000, 3000},
        {"ends swapped", 0, 2000, 1000, 1000, 2000},
        {"larger than the range", 0, -100, 5000, 0, 3000},
        {"widened around its middle", 0, 1000, 1010, 815, 1196},
        {"widened to four pixels a frame", FrameMs44k, 1000, 1100, 0, 2488},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Track->SetFrameLength(Case.FrameMs);
        Track->ShowAll();
        int Changes = 0;
        Track->SetOnViewChange([&](TTrackLine* Sender) {
            EXPECT_EQ(Sender, Track);
            ++Changes;
        });
        Track->SetView(Case.Start, Case.End);
        EXPECT_EQ(Track->ViewStart(), Case.ViewStart);
        EXPECT_EQ(Track->ViewEnd(), Case.ViewEnd);
        EXPECT_EQ(Changes, Case.ViewStart == 0 && Case.ViewEnd == 3000 ? 0 : 1);
        Track->SetOnViewChange({});
    }
}

TEST_F(TrackLineTest, ANewRangeShowsItWhole) {
    Track->SetView(1000, 2000);
    Track->SetMinPos(500); // zoomed in: the view stays
    EXPECT_EQ(Track->ViewStart(), 1000);
    Track->SetMinPos(1500); // the view stays inside
    EXPECT_EQ(Track->ViewStart(), 1500);
    EXPECT_EQ(Track->ViewEnd(), 2500);
    Track->SetMaxPos(4000);
    EXPECT_EQ(Track->ViewStart(), 1500);
    EXPECT_EQ(Track->ViewEnd(), 4000);
}

TEST_F(TrackLineTest, ZoomInStopsAtFourPixelsAFrame) {
    Track->SetMaxPos(30000);
    Track->SetFrameLength(FrameMs44k);
    for (int I = 0; I < 20; ++I) {
        QWheelEvent Event = Wheel(194, QPoint(0, 120), Qt::ControlModifier);
        QApplication::sendEvent(Track, &Event);
    }
    const auto FramePixels = [](int64_t Span) { return FrameMs44k * 381 / Span; };
    const int64_t Span = Track->ViewEnd() - Track->ViewStart();
    EXPECT_GE(FramePixels(Span), 4.0);
    EXPECT_LT(FramePixels(Span + 1), 4.0) << "no deeper than needed";
}

TEST_F(TrackLineTest, CtrlWheelKeepsThePointUnderTheMouse) {
    struct TCase {
        int X;
        int Notches; // away from the user: in
    };
    const TCase Cases[] = {{20, 1}, {194, 1}, {370, 1}, {20, -1}, {300, -2}, {194, 3}};
    Track->SetMaxPos(30000);
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(::testing::Message() << "at " << Case.X << " by " << Case.Notches);
        Track->SetView(10000, 14000);
        const int64_t Before = Track->XToPos(Case.X);
        QWheelEvent Event = Wheel(Case.X, QPoint(0, 120 * Case.Notches), Qt::ControlModifier);
        QApplication::sendEvent(Track, &Event);
        const int64_t Span = Track->ViewEnd() - Track->ViewStart();
        EXPECT_EQ(Case.Notches > 0, Span < 4000);
        EXPECT_NE(Span, 4000);
        EXPECT_LE(std::abs(Track->XToPos(Case.X) - Before), Span / 381);
    }
}

TEST_F(TrackLineTest, ThePlainWheelAndTheMiddleButtonPan) {
    struct TCase {
        const char* Name;
        QPoint Angle;
        int64_t Moved;
    };
    const TCase Cases[] = {
        {"wheel towards the user: later", QPoint(0, -120), 400},
        {"wheel away: earlier", QPoint(0, 120), -400},
        {"sideways", QPoint(-240, 0), 800},
    };
    Track->SetMaxPos(30000);
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Track->SetView(10000, 14000);
        QWheelEvent Event = Wheel(100, Case.Angle, Qt::NoModifier);
        QApplication::sendEvent(Track, &Event);
        EXPECT_EQ(Track->ViewStart(), 10000 + Case.Moved);
        EXPECT_EQ(Track->ViewEnd(), 14000 + Case.Moved);
    }

    Track->SetView(10000, 13810); // 10 positions a column
    QTest::mousePress(Track, Qt::MiddleButton, Qt::NoModifier, QPoint(200, 8));
    QTest::mouseMove(Track, QPoint(100, 8));
    EXPECT_EQ(Track->ViewStart(), 11000);
    EXPECT_EQ(Track->ViewEnd(), 14810);
    QTest::mouseRelease(Track, Qt::MiddleButton, Qt::NoModifier, QPoint(100, 8));
    QTest::mouseMove(Track, QPoint(300, 8));
    EXPECT_EQ(Track->ViewStart(), 11000) << "released";
    EXPECT_EQ(Track->CurPos(), 0);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(TrackLineTest, TheScrollStripShowsPagesAndDragsTheViewWhileZoomedIn) {
    Track->SetMaxPos(30000);
    EXPECT_TRUE(PixelIs(Render(), 100, 25, PanelColour)) << "whole range: no strip";

    // Thumb 38 of 382 columns wide, 344 to move in: at 3 + 344 / 2.7.
    Track->SetView(10000, 13000);
    QImage Image = Render();
    const QColor Thumb = Image.pixelColor(149, 25);
    const QColor Rail = Image.pixelColor(100, 25);
    EXPECT_TRUE(IsDark(Thumb));
    EXPECT_NE(Rail.rgb(), PanelColour.rgb());
    EXPECT_GT(Rail.lightness(), Thumb.lightness());
    for (int Y = 24; Y <= 27; ++Y) {
        EXPECT_TRUE(PixelIs(Image, 130, Y, Thumb));
        EXPECT_TRUE(PixelIs(Image, 167, Y, Thumb));
    }
    EXPECT_FALSE(PixelIs(Image, 129, 25, Thumb));
    EXPECT_FALSE(PixelIs(Image, 168, 25, Thumb));

    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(300, 26));
    EXPECT_EQ(Track->ViewStart(), 13000) << "a page later";
    QTest::mouseClick(Track, Qt::LeftButton, Qt::NoModifier, QPoint(20, 26));
    EXPECT_EQ(Track->ViewStart(), 10000) << "a page earlier";

    QTest::mousePress(Track, Qt::LeftButton, Qt::NoModifier, QPoint(150, 26));
    QTest::mouseMove(Track, QPoint(184, 26));
    EXPECT_EQ(Track->ViewStart(), 10000 + std::lround(34 * 27000.0 / 344));
    EXPECT_EQ(Track->ViewEnd() - Track->ViewStart(), 3000);
    QTest::mouseRelease(Track, Qt::LeftButton, Qt::NoModifier, QPoint(184, 26));
    EXPECT_TRUE(Changes.empty()) << "the strip never moves the cursor";
}

TEST_F(TrackLineTest, AFollowedCursorPagesTheViewToIt) {
    struct TCase {
        const char* Name;
        bool Follow;
        int64_t Pos, ViewStart;
    };
    // The view spans 3810: a paged view starts 190 before the cursor.
    const TCase Cases[] = {
        {"not following", false, 20000, 10000},   {"inside the view", true, 12000, 10000},
        {"at its right end", true, 13810, 13620}, {"past it", true, 15000, 14810},
        {"before it", true, 5000, 4810},          {"near the range's end", true, 29000, 26190},
    };
    Track->SetMaxPos(30000);
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Track->SetFollowCursor(Case.Follow);
        Track->SetView(10000, 13810);
        Track->UpdateCurPos(11000);
        int ViewChanges = 0;
        Track->SetOnViewChange([&](TTrackLine*) { ++ViewChanges; });
        Track->UpdateCurPos(Case.Pos);
        EXPECT_EQ(Track->ViewStart(), Case.ViewStart);
        EXPECT_EQ(Track->ViewEnd() - Track->ViewStart(), 3810);
        EXPECT_EQ(ViewChanges, Case.ViewStart == 10000 ? 0 : 1);
        Track->SetOnViewChange({});
    }
    Track->SetFollowCursor(true);
    Track->SetView(10000, 13810);
    Track->SetCurPos(20000);
    EXPECT_EQ(Track->ViewStart(), 19810) << "a seek pages as well";
}

TEST_F(TrackLineTest, ZoomToSelectionShowAllAndShowsMillis) {
    Track->SetMaxPos(100000);
    Track->ZoomToSelection();
    EXPECT_EQ(Track->ViewEnd(), 100000) << "no marks";
    Track->SetSelStart(12000);
    Track->ZoomToSelection();
    EXPECT_EQ(Track->ViewEnd(), 100000) << "one mark";
    Track->SetSelEnd(15000);
    Track->ZoomToSelection();
    EXPECT_EQ(Track->ViewStart(), 12000);
    EXPECT_EQ(Track->ViewEnd(), 15000);
    EXPECT_TRUE(Track->ShowsMillis());
    Track->ShowAll();
    EXPECT_EQ(Track->ViewStart(), 0);
    EXPECT_EQ(Track->ViewEnd(), 100000);
    EXPECT_FALSE(Track->ShowsMillis());
    Track->SetView(0, 38100); // 100 a column
    EXPECT_FALSE(Track->ShowsMillis());
    Track->SetView(0, 38099);
    EXPECT_TRUE(Track->ShowsMillis());
}

TEST_F(TrackLineTest, ArrowKeysStepTheCursorThroughTheOwner) {
    struct TCase {
        const char* Name;
        int64_t ViewStart, ViewEnd, From;
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        int64_t To;
    };
    // Frames of 44.1 kHz: 1500 lies in frame 57 (1489 to 1515).
    const TCase Cases[] = {
        {"a fiftieth of the view", 0, 3000, 1500, Qt::Key_Right, Qt::NoModifier, 1560},
        {"back", 0, 3000, 1500, Qt::Key_Left, Qt::NoModifier, 1440},
        {"a fifth with Shift", 0, 3000, 1500, Qt::Key_Right, Qt::ShiftModifier, 2100},
        {"back with Shift", 0, 3000, 1500, Qt::Key_Left, Qt::ShiftModifier, 900},
        {"to the next frame with Ctrl", 0, 3000, 1500, Qt::Key_Right, Qt::ControlModifier, 1515},
        {"to the frame before", 0, 3000, 1500, Qt::Key_Left, Qt::ControlModifier, 1489},
        {"smaller when zoomed in", 256, 2744, 1500, Qt::Key_Right, Qt::NoModifier, 1549},
        {"Shift zoomed in", 256, 2744, 1500, Qt::Key_Left, Qt::ShiftModifier, 1003},
        {"not past the end", 0, 3000, 2990, Qt::Key_Right, Qt::NoModifier, 3000},
        {"not before the start", 0, 3000, 10, Qt::Key_Left, Qt::ShiftModifier, 0},
    };
    Track->SetFrameLength(FrameMs44k);
    int Validated = 0;
    Track->SetOnValidPos([&](TTrackLine*, TShiftState, int64_t&) { ++Validated; });
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Track->SetView(Case.ViewStart, Case.ViewEnd);
        ASSERT_EQ(Track->ViewStart(), Case.ViewStart);
        Track->SetCurPos(Case.From);
        Changes.clear();
        Validated = 0;
        QTest::keyClick(Track, Case.Key, Case.Modifiers);
        EXPECT_EQ(Track->CurPos(), Case.To);
        EXPECT_EQ(Changes, std::vector<int64_t>{Case.To}) << "the owner seeks";
        EXPECT_EQ(Validated, 1);
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

TEST_F(TrackLineTest, AnOwnerThatSnapsAStepBackDoesNotStopTheCursor) {
    Track->SetOnValidPos(
        [](TTrackLine*, TShiftState, int64_t& Pos) { Pos = (Pos + 50) / 100 * 100; });
    Track->SetView(1000, 1500); // steps of 10
    Track->SetCurPos(1200);
    QTest::keyClick(Track, Qt::Key_Right);
    EXPECT_EQ(Track->CurPos(), 1300);
    QTest::keyClick(Track, Qt::Key_Left);
    QTest::keyClick(Track, Qt::Key_Left);
    EXPECT_EQ(Track->CurPos(), 1100);
}

TEST_F(TrackLineTest, PlusAndMinusZoomAroundTheCursorAndSpacePlays) {
    Track->SetCurPos(1504); // column 194
    for (const Qt::Key Key : {Qt::Key_Plus, Qt::Key_Equal}) {
        const int64_t Span = Track->ViewEnd() - Track->ViewStart();
        QTest::keyClick(Track, Key);
        EXPECT_EQ(Track->ViewEnd() - Track->ViewStart(), Span / 2);
        EXPECT_LE(std::abs(Track->PosToX(1504) - 194), 1);
    }
    QTest::keyClick(Track, Qt::Key_Minus);
    EXPECT_EQ(Track->ViewEnd() - Track->ViewStart(), 1500);
    EXPECT_LE(std::abs(Track->PosToX(1504) - 194), 1);

    int Plays = 0;
    Track->SetOnPlayPause([&](TTrackLine* Sender) {
        EXPECT_EQ(Sender, Track);
        ++Plays;
    });
    QTest::keyClick(Track, Qt::Key_Space);
    EXPECT_EQ(Plays, 1);
    EXPECT_EQ(Changes, std::vector<int64_t>{1504});
}

TEST_F(TrackLineTest, TheWindowsKeysPassByAndItsOwnAreClaimedBeforeShortcuts) {
    struct TCase {
        Qt::Key Key;
        bool Own;
    };
    const TCase Cases[] = {{Qt::Key_Left, true},  {Qt::Key_Right, true}, {Qt::Key_Plus, true},
                           {Qt::Key_Minus, true}, {Qt::Key_Space, true}, {Qt::Key_1, false},
                           {Qt::Key_Home, false}, {Qt::Key_End, false},  {Qt::Key_Up, false}};
    for (const bool Enabled : {true, false}) {
        Track->SetEnabled(Enabled);
        for (const TCase& Case : Cases) {
            SCOPED_TRACE(::testing::Message()
                         << "key " << Case.Key << (Enabled ? "" : " disabled"));
            QKeyEvent Override(QEvent::ShortcutOverride, Case.Key, Qt::NoModifier);
            QApplication::sendEvent(Track, &Override);
            EXPECT_EQ(Override.isAccepted(), Case.Own && Enabled);
            QKeyEvent Press(QEvent::KeyPress, Case.Key, Qt::NoModifier);
            QApplication::sendEvent(Track, &Press);
            EXPECT_EQ(Press.isAccepted(), Case.Own && Enabled);
        }
    }
}

TEST_F(TrackLineTest, DisabledItNeitherStepsNorZooms) {
    Track->SetCurPos(1500);
    Track->SetEnabled(false);
    QTest::keyClick(Track, Qt::Key_Right);
    QTest::keyClick(Track, Qt::Key_Plus);
    QWheelEvent Event = Wheel(194, QPoint(0, 120), Qt::ControlModifier);
    QApplication::sendEvent(Track, &Event);
    EXPECT_EQ(Track->CurPos(), 1500);
    EXPECT_EQ(Track->ViewEnd(), 3000);
}

TEST_F(TrackLineTest, TheFocusShowsWhenTheKeyboardBroughtIt) {
    Track->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(Track->hasFocus());
    EXPECT_TRUE(PixelIs(Render(), 100, 2, Grey)) << "clicked";
    QTest::keyClick(Track, Qt::Key_Right);
    const QColor Focused = Render().pixelColor(100, 2);
    EXPECT_NE(Focused.rgb(), Grey.rgb()) << "used by keys";
    Track->clearFocus();
    EXPECT_TRUE(PixelIs(Render(), 100, 2, Grey));
    Track->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(PixelIs(Render(), 100, 2, Focused)) << "tabbed to";
}

// A real file as the program draws it: silence with two 20 ms bursts of a
// tone at 0.5 s and 1.5 s. SEGMORA_TRACKLINE_PNGS names a folder to keep
// the pictures in, for a look.
TEST(TrackLineOfAFile, BurstsShowWhereTheyAreAndSilenceShowsNothing) {
    std::shared_ptr<const TLoudnessOverview> Overview;
    std::atomic<bool> Stop{false};
    ASSERT_EQ(DecodeOverview(FixturePath("burst-44k.mp3"), Stop, [&](auto Got) { Overview = Got; }),
              TOverviewResult::Done);
    const int64_t Length = TicksToMs(Overview->Duration());

    struct TCase {
        const char* Name;
        QSize Size;
        int Left, Top, Right, Bottom;
    };
    const TCase Cases[] = {{"main", QSize(388, 28), 3, 2, 3, 14},
                           {"large", QSize(800, 120), 5, 9, 5, 14}};
    const char* Folder = std::getenv("SEGMORA_TRACKLINE_PNGS");
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TTrackLine Track;
        Track.resize(Case.Size);
        Track.SetLeftMargin(Case.Left);
        Track.SetTopMargin(Case.Top);
        Track.SetRightMargin(Case.Right);
        Track.SetBottomMargin(Case.Bottom);
        Track.SetMaxPos(Length);
        Track.SetOverview(Overview, TicksPerMs);
        Track.SetCurPos(1000);
        Track.SetSelStart(400);
        Track.SetSelEnd(1600);
        const QImage Whole = Track.grab().toImage();
        Track.SetView(400, 800);
        const QImage Zoomed = Track.grab().toImage();
        if (Folder != nullptr) {
            Whole.save(QString("%1/trackline-%2-whole.png").arg(Folder, Case.Name));
            Zoomed.save(QString("%1/trackline-%2-zoomed.png").arg(Folder, Case.Name));
        }

        const int Middle = Case.Top + (Case.Size.height() - Case.Top - Case.Bottom) / 2;
        const auto Dark = [&](const QImage& Image, int X) {
            return IsDark(Image.pixelColor(X, Middle));
        };
        // The decoder's delay puts each burst some 25 ms late on the clock.
        ASSERT_LT(Track.ViewEnd() - Track.ViewStart(), Length / 2);
        for (const bool Zoom : {false, true}) {
            const QImage& Image = Zoom ? Zoomed : Whole;
            Zoom ? Track.SetView(400, 800) : Track.ShowAll();
            int Burst = 0;
            for (int X = Track.PosToX(500); X <= Track.PosToX(560); ++X)
                Burst += Dark(Image, X);
            EXPECT_GE(Burst, 2) << (Zoom ? "zoomed" : "whole");
            for (const int64_t Ms : {460, 640, 690})
                EXPECT_FALSE(Dark(Image, Track.PosToX(Ms))) << Ms << (Zoom ? " zoomed" : "");
        }
        Track.ShowAll();
        for (const int64_t Ms : {250, 800, 1250, 1800})
            EXPECT_FALSE(Dark(Whole, Track.PosToX(Ms))) << Ms;
    }
}

} // namespace
