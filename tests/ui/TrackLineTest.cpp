#include "TrackLine.h"

#include <QImage>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

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

} // namespace
