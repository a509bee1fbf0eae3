#include "TrackLine.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The quietest level drawn; the scale is linear in dB above it, so quiet
// stretches stand out against loud ones at a glance.
constexpr double FloorDb = -60;
// The deepest zoom shows a frame at least this many pixels wide: the
// overview's blocks are a quarter frame, so each column still has its own.
constexpr double MinFramePixels = 4;
// An arrow steps the view's span divided by these, without and with Shift.
constexpr int64_t StepDivisor = 50;
constexpr int64_t ShiftStepDivisor = 5;
// A wheel notch pans the view's span divided by this; with Ctrl it zooms
// by this factor.
constexpr int64_t WheelPanDivisor = 10;
constexpr double WheelZoomFactor = 1.5;
// A paged view leaves its span divided by this left of the cursor.
constexpr int64_t PageLeadDivisor = 20;
// The scroll strip's rows below the bar, and the thumb's least width.
constexpr int StripTop = 10;
constexpr int StripRows = 4;
constexpr int MinThumbWidth = 8;

// A marker takes the mouse this many columns either side of its line; its
// handle is this many rows below the bar's top edge too.
constexpr int MarkerGrab = 3;
constexpr int HandleBelowTop = 3;
// A part start's dashes: rows on, then rows off.
constexpr int DashRows = 2;

const QColor PeakColour(150, 182, 226);
const QColor MarkerColour(204, 85, 0);
const QColor PartStartColour(0, 200, 0);
const QColor RmsColour(38, 76, 150);
const QColor SelectionTint(0, 0, 255, 44);
const QColor StripTrackColour(184, 184, 184);
const QColor StripThumbColour(112, 112, 112);

// Rounds halves to even, as the processor does by default, and keeps the
// result inside the integer type instead of overflowing it.
template <typename T> T RoundTo(double Value) {
    const double Rounded = std::nearbyint(Value);
    if (std::isnan(Rounded))
        return 0;
    if (Rounded <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (Rounded >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(Rounded);
}

int64_t SaturatingAdd(int64_t A, int64_t B) {
    int64_t Sum;
    if (__builtin_add_overflow(A, B, &Sum))
        return B > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return Sum;
}

int ColumnOf(const QMouseEvent* Event) {
    return static_cast<int>(std::floor(Event->position().x()));
}

int RowOf(const QMouseEvent* Event) {
    return static_cast<int>(std::floor(Event->position().y()));
}

TShiftState ShiftOf(const QMouseEvent* Event) {
    return {Event->modifiers(), Event->buttons()};
}

// 0 at the floor and below, 1 at full scale.
double LevelOf(float Amplitude) {
    if (!(Amplitude > 0))
        return 0;
    return std::clamp((20 * std::log10(static_cast<double>(Amplitude)) - FloorDb) / -FloorDb, 0.0,
                      1.0);
}

// Keeps a column far outside the control from overflowing a width.
int OnScreen(int X, int Width) {
    return std::clamp(X, -2, Width + 2);
}

// Puts Pos into the sorted List unless it is there already; returns
// whether it was put.
bool InsertSorted(std::vector<int64_t>& List, int64_t Pos) {
    const auto At = std::lower_bound(List.begin(), List.end(), Pos);
    if (At != List.end() && *At == Pos)
        return false;
    List.insert(At, Pos);
    return true;
}

} // namespace

TTrackLine::TTrackLine(QWidget* Parent) : QWidget(Parent) {
    SetSelStart(-1);
    SetSelEnd(-1);
    setFocusPolicy(Qt::StrongFocus);
}

void TTrackLine::SetMinPos(int64_t Value) {
    const bool WasAll = !Zoomed();
    FMinPos = Value;
    if (WasAll ? PlaceView(FMinPos, FMaxPos) : PlaceView(FViewStart, FViewEnd))
        ViewChanged();
}

void TTrackLine::SetMaxPos(int64_t Value) {
    FMaxPos = Value;
    if (PlaceView(FMinPos, FMaxPos))
        ViewChanged();
}

void TTrackLine::SetCurPos(int64_t Value) {
    if (MoveCurPos(Value) && FOnChange)
        FOnChange(this);
}

void TTrackLine::UpdateCurPos(int64_t Value) {
    MoveCurPos(Value);
}

bool TTrackLine::MoveCurPos(int64_t Value) {
    if (Value == FCurPos || Value < FMinPos || Value > FMaxPos)
        return false;
    FCurPos = Value;
    const bool Paged = FFollowCursor && PageToCursor();
    repaint();
    if (Paged && FOnViewChange)
        FOnViewChange(this);
    return true;
}

void TTrackLine::SetSelStart(int64_t Value) {
    if (Value == FSelStart)
        return;
    FSelStart = Value;
    if (Value != -1 && FSelEnd != -1 && Value >= FSelEnd)
        FSelEnd = -1;
    repaint();
}

void TTrackLine::SetSelEnd(int64_t Value) {
    if (Value == FSelEnd)
        return;
    FSelEnd = Value;
    if (Value != -1 && FSelStart != -1 && Value <= FSelStart)
        FSelStart = -1;
    repaint();
}

void TTrackLine::AddMarker(int64_t Pos) {
    if (Pos >= FMinPos && Pos <= FMaxPos && InsertSorted(FMarkers, Pos))
        MarkersChanged();
}

void TTrackLine::RemoveMarker(int64_t Pos) {
    const auto At = std::lower_bound(FMarkers.begin(), FMarkers.end(), Pos);
    if (At == FMarkers.end() || *At != Pos)
        return;
    FMarkers.erase(At);
    MarkersChanged();
}

void TTrackLine::ClearMarkers() {
    SetMarkers({});
}

void TTrackLine::SetMarkers(std::vector<int64_t> Positions) {
    if (FDrag == TDrag::Marker)
        FDrag = TDrag::None;
    std::erase_if(Positions, [this](int64_t Pos) { return Pos < FMinPos || Pos > FMaxPos; });
    std::sort(Positions.begin(), Positions.end());
    Positions.erase(std::unique(Positions.begin(), Positions.end()), Positions.end());
    if (Positions == FMarkers)
        return;
    FMarkers = std::move(Positions);
    MarkersChanged();
}

void TTrackLine::MarkersChanged() {
    update();
    if (FOnMarkersChange)
        FOnMarkersChange(this);
}

int64_t TTrackLine::MarkerNear(int X) const {
    int64_t Best = -1;
    int BestDistance = MarkerGrab + 1;
    for (const int64_t Marker : FMarkers) {
        const int Distance = std::abs(OnScreen(PosToX(Marker), width()) - X);
        if (Distance < BestDistance) {
            Best = Marker;
            BestDistance = Distance;
        }
    }
    return Best;
}

int64_t TTrackLine::MarkerOnHandle(int X, int Y) const {
    return Y >= 0 && Y < FTopMargin + HandleBelowTop ? MarkerNear(X) : -1;
}

void TTrackLine::SetPartStarts(std::vector<int64_t> Starts) {
    if (Starts == FPartStarts)
        return;
    FPartStarts = std::move(Starts);
    update();
}

void TTrackLine::SetOverview(std::shared_ptr<const TLoudnessOverview> Overview, int64_t TicksPerPos,
                             int64_t Origin) {
    FOverview = std::move(Overview);
    FTicksPerPos = std::max<int64_t>(TicksPerPos, 1);
    FOverviewOrigin = Origin;
    FSeenKnown = FOverview ? FOverview->KnownBlocks() : -1;
    update();
}

void TTrackLine::OverviewChanged() {
    if (!FOverview)
        return;
    const int64_t Known = FOverview->KnownBlocks();
    if (Known == FSeenKnown)
        return;
    FSeenKnown = Known;
    update();
}

int TTrackLine::ColumnSteps() const {
    return width() - FRightMargin - FLeftMargin - 1;
}

bool TTrackLine::Zoomed() const {
    return FViewStart != FMinPos || FViewEnd != FMaxPos;
}

int64_t TTrackLine::MinSpan() const {
    const int64_t Steps = std::max(ColumnSteps(), 1);
    if (FFrameLength <= 0)
        return Steps;
    return std::max<int64_t>(1, static_cast<int64_t>(std::floor(
                                    FFrameLength * static_cast<double>(Steps) / MinFramePixels)));
}

bool TTrackLine::PlaceView(int64_t Start, int64_t End) {
    if (FMaxPos <= FMinPos) {
        Start = FMinPos;
        End = FMaxPos;
    } else {
        if (End < Start)
            std::swap(Start, End);
        const int64_t Range = FMaxPos - FMinPos;
        const int64_t Span = std::clamp(End - Start, std::min(MinSpan(), Range), Range);
        // A span widened to the deepest zoom grows on both sides.
        Start -= (Span - (End - Start)) / 2;
        Start = std::clamp(Start, FMinPos, FMaxPos - Span);
        End = Start + Span;
    }
    if (Start == FViewStart && End == FViewEnd)
        return false;
    FViewStart = Start;
    FViewEnd = End;
    return true;
}

void TTrackLine::ViewChanged() {
    update();
    if (FOnViewChange)
        FOnViewChange(this);
}

void TTrackLine::SetView(int64_t Start, int64_t End) {
    if (PlaceView(Start, End))
        ViewChanged();
}

void TTrackLine::ShowAll() {
    SetView(FMinPos, FMaxPos);
}

void TTrackLine::ZoomAround(double Pos, double Fraction, double Factor) {
    if (FMaxPos <= FMinPos || !(Factor > 0))
        return;
    const int64_t Range = FMaxPos - FMinPos;
    const double Span = static_cast<double>(FViewEnd - FViewStart);
    const int64_t NewSpan =
        std::clamp(RoundTo<int64_t>(Span / Factor), std::min(MinSpan(), Range), Range);
    const int64_t NewStart = RoundTo<int64_t>(Pos - Fraction * static_cast<double>(NewSpan));
    SetView(NewStart, NewStart + NewSpan);
}

void TTrackLine::ZoomAt(int64_t Pos, double Factor) {
    const double Span = static_cast<double>(FViewEnd - FViewStart);
    if (Span <= 0)
        return;
    ZoomAround(static_cast<double>(Pos), static_cast<double>(Pos - FViewStart) / Span, Factor);
}

void TTrackLine::ZoomToSelection() {
    if (FSelStart >= 0 && FSelEnd >= 0)
        SetView(FSelStart, FSelEnd);
}

void TTrackLine::SetFrameLength(double PosPerFrame) {
    FFrameLength = PosPerFrame > 0 ? PosPerFrame : 0;
    SetView(FViewStart, FViewEnd);
}

bool TTrackLine::ShowsMillis() const {
    const int Steps = ColumnSteps();
    // The whole range reads in tenths as it always did, however short.
    if (!Zoomed() || Steps <= 0 || FViewEnd <= FViewStart)
        return false;
    return static_cast<double>(FViewEnd - FViewStart) / Steps < 100;
}

void TTrackLine::PanBy(int64_t Delta) {
    SetView(SaturatingAdd(FViewStart, Delta), SaturatingAdd(FViewEnd, Delta));
}

bool TTrackLine::PageToCursor() {
    if (!Zoomed() || (FCurPos >= FViewStart && FCurPos < FViewEnd))
        return false;
    const int64_t Span = FViewEnd - FViewStart;
    const int64_t Start = FCurPos - Span / PageLeadDivisor;
    return PlaceView(Start, Start + Span);
}

QRect TTrackLine::GetBarRect() const {
    return QRect(FLeftMargin, FTopMargin, width() - FRightMargin - FLeftMargin,
                 height() - FBottomMargin - FTopMargin);
}

QRect TTrackLine::GetHitRect() const {
    return QRect(FLeftMargin, 0, width() - FRightMargin - FLeftMargin, height());
}

int64_t TTrackLine::XToPos(int X) const {
    const int64_t L = FLeftMargin;
    const int64_t R = width() - FRightMargin;
    if (R <= L + 1)
        return 0;
    // The range is taken in double precision, so extreme bounds cannot
    // overflow; within 2^53 this is the exact difference.
    const double Range = static_cast<double>(FViewEnd) - static_cast<double>(FViewStart);
    const int64_t Offset =
        RoundTo<int64_t>(static_cast<double>(X - L) * Range / static_cast<double>(R - L - 1));
    return SaturatingAdd(FViewStart, Offset);
}

int TTrackLine::PosToX(int64_t Pos) const {
    if (FViewStart >= FViewEnd)
        return 0;
    const int64_t L = FLeftMargin;
    const int64_t R = width() - FRightMargin;
    const double Offset = static_cast<double>(Pos) - static_cast<double>(FViewStart);
    const double Range = static_cast<double>(FViewEnd) - static_cast<double>(FViewStart);
    return RoundTo<int>(Offset * static_cast<double>(R - L - 1) / Range + static_cast<double>(L));
}

void TTrackLine::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    if (!FEnabled)
        FDrag = TDrag::None;
    update();
}

int64_t TTrackLine::DoValidPos(TShiftState Shift, int64_t Pos) {
    if (FOnValidPos)
        FOnValidPos(this, Shift, Pos);
    return Pos;
}

void TTrackLine::PickPosition(int X, TShiftState Shift) {
    SetCurPos(DoValidPos(Shift, XToPos(X)));
}

void TTrackLine::StepCursor(int Direction, Qt::KeyboardModifiers Modifiers) {
    double Target;
    if ((Modifiers & Qt::ControlModifier) && FFrameLength > 0) {
        // Frame boundaries lie at whole multiples of the frame's length. A
        // cursor within half a position of one stands on it; the step ends
        // on the next one, which an owner snapping to the nearest keeps.
        const double Frames = static_cast<double>(FCurPos) / FFrameLength;
        const double Nearest = std::nearbyint(Frames);
        double Frame;
        if (std::fabs(static_cast<double>(FCurPos) - Nearest * FFrameLength) <= 0.5)
            Frame = Nearest + Direction;
        else
            Frame = Direction > 0 ? std::ceil(Frames) : std::floor(Frames);
        Target = Frame * FFrameLength;
    } else {
        const int64_t Divisor = (Modifiers & Qt::ShiftModifier) ? ShiftStepDivisor : StepDivisor;
        // At least a frame, so that snapping to the nearest boundary cannot
        // take the cursor back where it was.
        const double Step = (Modifiers & Qt::ControlModifier)
                                ? 1.0
                                : std::max({static_cast<double>((FViewEnd - FViewStart) / Divisor),
                                            FFrameLength, 1.0});
        Target = static_cast<double>(FCurPos) + Direction * Step;
    }
    const int64_t Pos = std::clamp(RoundTo<int64_t>(Target), FMinPos, std::max(FMinPos, FMaxPos));
    SetCurPos(DoValidPos({Modifiers, Qt::NoButton}, Pos));
    // A step never leaves the cursor out of sight, following or not.
    if (PageToCursor())
        ViewChanged();
}

TTrackLine::TStripGeometry TTrackLine::Strip() const {
    TStripGeometry Strip;
    Strip.Left = FLeftMargin;
    Strip.Width = std::max(width() - FRightMargin - FLeftMargin, 0);
    const double Range = static_cast<double>(FMaxPos - FMinPos);
    const double Span = static_cast<double>(FViewEnd - FViewStart);
    if (Range <= 0 || Strip.Width <= 0)
        return Strip;
    Strip.ThumbWidth = std::clamp(RoundTo<int>(Strip.Width * Span / Range),
                                  std::min(MinThumbWidth, Strip.Width), Strip.Width);
    const int Free = Strip.Width - Strip.ThumbWidth;
    Strip.ThumbLeft = Strip.Left;
    if (Range > Span)
        Strip.ThumbLeft +=
            RoundTo<int>(Free * static_cast<double>(FViewStart - FMinPos) / (Range - Span));
    return Strip;
}

bool TTrackLine::InStrip(int Y) const {
    // The row between the band's ticks and the strip counts as the strip.
    return Zoomed() && Y >= height() - FBottomMargin + StripTop - 1;
}

void TTrackLine::StripPress(int X) {
    const TStripGeometry Geometry = Strip();
    if (X >= Geometry.ThumbLeft && X < Geometry.ThumbLeft + Geometry.ThumbWidth) {
        FDrag = TDrag::Thumb;
        FDragX = X;
        FDragViewStart = FViewStart;
        return;
    }
    const int64_t Span = FViewEnd - FViewStart;
    PanBy(X < Geometry.ThumbLeft ? -Span : Span);
}

const std::vector<TTrackLine::TColumnBand>& TTrackLine::Bands() {
    const QRect Bar = GetBarRect();
    const int Width = Bar.width() - 2;
    const int Height = Bar.height() - 2;
    // The count OverviewChanged saw, not the decoder's latest: while it
    // decodes, the cursor's repaints between the owner's ticks reuse these.
    TBandKey Key;
    Key.Overview = FOverview.get();
    Key.TicksPerPos = FTicksPerPos;
    Key.Origin = FOverviewOrigin;
    Key.ViewStart = FViewStart;
    Key.ViewEnd = FViewEnd;
    Key.Known = FSeenKnown;
    Key.Complete = FOverview->Complete();
    Key.Width = Width;
    Key.Height = Height;
    if (Key == FBandKey)
        return FBands;
    FBandKey = Key;
    FBands.assign(static_cast<size_t>(std::max(Width, 0)), TColumnBand{});
    if (Width <= 0 || Height <= 0 || FViewEnd <= FViewStart)
        return FBands;

    // Column L + 1 + C shows the positions nearer to its own than to its
    // neighbours', the same rounding as XToPos.
    const double PerColumn =
        static_cast<double>(FViewEnd - FViewStart) / static_cast<double>(Bar.width() - 1);
    const double Ticks = static_cast<double>(FTicksPerPos);
    const auto TickOf = [&](double Column) {
        return FOverviewOrigin +
               RoundTo<int64_t>((static_cast<double>(FViewStart) + Column * PerColumn) * Ticks);
    };
    const std::vector<TOverviewColumn> Columns =
        FOverview->Columns(TickOf(0.5), TickOf(Width + 0.5), Width);

    // Even heights split around the line between the two middle rows, odd
    // ones around the middle row; any level above the floor shows.
    const int Half = Height / 2;
    const auto Extent = [&](float Amplitude) -> int16_t {
        const double Level = LevelOf(Amplitude);
        if (Level <= 0)
            return -1;
        const int Rows = RoundTo<int>(Level * (Height % 2 == 0 ? Half : (Height - 1) / 2));
        return static_cast<int16_t>(Height % 2 == 0 ? std::max(Rows, 1) : Rows);
    };
    for (size_t C = 0; C < Columns.size(); ++C) {
        if (!Columns[C].Known)
            continue;
        FBands[C] = {Extent(Columns[C].Peak), Extent(Columns[C].Rms), true};
    }
    return FBands;
}

void TTrackLine::PaintOverview(QPainter& Painter, const QRect& Inner) {
    const std::vector<TColumnBand>& Columns = Bands();
    const int Height = Inner.height();
    const int Middle = Inner.top() + Height / 2;
    const auto Band = [&](int X, int16_t Extent, const QColor& Colour) {
        // An odd height has a middle row of its own.
        if (Extent >= 0)
            Painter.fillRect(X, Middle - Extent, 1, 2 * Extent + Height % 2, Colour);
    };
    for (size_t C = 0; C < Columns.size(); ++C) {
        const int X = Inner.left() + static_cast<int>(C);
        Band(X, Columns[C].Peak, PeakColour);
        Band(X, Columns[C].Rms, RmsColour);
    }
}

void TTrackLine::PaintStrip(QPainter& Painter) {
    const TStripGeometry Geometry = Strip();
    const int Top = height() - FBottomMargin + StripTop;
    if (Geometry.Width <= 0)
        return;
    Painter.fillRect(Geometry.Left, Top + 1, Geometry.Width, StripRows - 2, StripTrackColour);
    Painter.fillRect(Geometry.ThumbLeft, Top, Geometry.ThumbWidth, StripRows, StripThumbColour);
}

void TTrackLine::PaintMarkers(QPainter& Painter, int Top, int Bottom) {
    const int L = FLeftMargin;
    const int R = width() - FRightMargin;
    const auto InView = [&](int X) { return X >= L && X < R; };
    for (const int64_t Start : FPartStarts) {
        const int X = PosToX(Start);
        if (!InView(X))
            continue;
        for (int Y = Top + 1; Y < Bottom - 1; Y += 2 * DashRows)
            Painter.fillRect(X, Y, 1, std::min(DashRows, Bottom - 1 - Y), PartStartColour);
    }
    for (const int64_t Marker : FMarkers) {
        const int X = PosToX(Marker);
        if (!InView(X))
            continue;
        Painter.fillRect(X, Top, 1, Bottom - Top, MarkerColour);
        // The handle: wide above the bar, narrowing into it.
        Painter.fillRect(X - 2, 0, 5, Top + 1, MarkerColour);
        Painter.fillRect(X - 1, Top + 1, 3, HandleBelowTop - 1, MarkerColour);
    }
}

void TTrackLine::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    const int L = FLeftMargin;
    const int T = FTopMargin;
    const int R = width() - FRightMargin;
    const int B = height() - FBottomMargin;
    const bool HasInner = R - L > 2 && B - T > 2;
    const QRect Inner(L + 1, T + 1, R - L - 2, B - T - 2);

    // Everything is drawn as filled pixel rectangles, so each pixel is
    // exactly where the layout puts it whatever the paint engine.
    if (R > L && B > T) {
        const bool Focused = FEnabled && FFocusShown && hasFocus();
        Painter.fillRect(L, T, R - L, B - T,
                         Focused ? palette().color(QPalette::Highlight) : QColor(128, 128, 128));
        const QColor Face = FEnabled ? QColor(255, 255, 255) : QColor(192, 192, 192);
        if (HasInner)
            Painter.fillRect(Inner, Face);
    }
    if (!FEnabled)
        return;

    const bool HasStart = FSelStart >= 0;
    const bool HasEnd = FSelEnd >= 0;
    const int StartX = HasStart ? OnScreen(PosToX(FSelStart), width()) : 0;
    const int EndX = HasEnd ? OnScreen(PosToX(FSelEnd), width()) : 0;

    if (FOverview && HasInner) {
        PaintOverview(Painter, Inner);
        if (HasStart && HasEnd && EndX > StartX)
            Painter.fillRect(QRect(StartX, Inner.top(), EndX - StartX, Inner.height()) & Inner,
                             SelectionTint);
    }

    const QColor Blue(0, 0, 255);
    // Zoomed in, marks out of the view stay out of the margins beside it.
    if (Zoomed())
        Painter.setClipRect(L, 0, R - L, height());
    if (HasStart)
        Painter.fillRect(StartX, B + 3, 1, 6, Blue);
    if (HasEnd)
        Painter.fillRect(EndX, B + 3, 1, 6, Blue);
    if (HasStart && HasEnd && EndX > StartX)
        Painter.fillRect(StartX, B + 4, EndX - StartX, 4, Blue);

    if (B > T)
        PaintMarkers(Painter, T, B);

    const int CursorX = OnScreen(PosToX(FCurPos), width());
    // Zoomed in, a cursor out of the view is not drawn in the margins; one
    // in the view's edge column is drawn whole.
    if (B > T && (!Zoomed() || (CursorX >= L && CursorX < R))) {
        Painter.setClipping(false);
        Painter.fillRect(CursorX - 1, T, 3, B - T, QColor(0, 0, 0));
    }

    if (Zoomed())
        PaintStrip(Painter);
}

bool TTrackLine::event(QEvent* Event) {
    // Keys the control steps or zooms with are its own while it has the
    // focus, before any shortcut of the window sees them.
    if (Event->type() == QEvent::ShortcutOverride && FEnabled) {
        switch (static_cast<QKeyEvent*>(Event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Plus:
        case Qt::Key_Equal:
        case Qt::Key_Minus:
        case Qt::Key_Space:
            Event->accept();
            return true;
        default:
            break;
        }
    }
    if (Event->type() == QEvent::FocusIn) {
        // As buttons do, the focus shows when the keyboard brought it, not
        // a click or the window coming to the front.
        const Qt::FocusReason Reason = static_cast<QFocusEvent*>(Event)->reason();
        if (Reason == Qt::TabFocusReason || Reason == Qt::BacktabFocusReason ||
            Reason == Qt::ShortcutFocusReason)
            FFocusShown = true;
        update();
    } else if (Event->type() == QEvent::FocusOut) {
        const Qt::FocusReason Reason = static_cast<QFocusEvent*>(Event)->reason();
        if (Reason != Qt::ActiveWindowFocusReason && Reason != Qt::PopupFocusReason)
            FFocusShown = false;
        update();
    }
    return QWidget::event(Event);
}

void TTrackLine::keyPressEvent(QKeyEvent* Event) {
    if (!FEnabled) {
        Event->ignore();
        return;
    }
    // Zooming by a key keeps the cursor in its column when it is in view,
    // else the middle of the view.
    const auto ZoomKey = [this](double Factor) {
        if (FCurPos >= FViewStart && FCurPos <= FViewEnd)
            ZoomAt(FCurPos, Factor);
        else
            ZoomAt(FViewStart + (FViewEnd - FViewStart) / 2, Factor);
    };
    switch (Event->key()) {
    case Qt::Key_Left:
        StepCursor(-1, Event->modifiers());
        break;
    case Qt::Key_Right:
        StepCursor(1, Event->modifiers());
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomKey(2);
        break;
    case Qt::Key_Minus:
        ZoomKey(0.5);
        break;
    case Qt::Key_Space:
        if (FOnPlayPause)
            FOnPlayPause(this);
        break;
    case Qt::Key_Delete: {
        const int64_t Marker = MarkerNear(PosToX(FCurPos));
        if (Marker == -1) {
            Event->ignore();
            return;
        }
        RemoveMarker(Marker);
        break;
    }
    default:
        Event->ignore();
        return;
    }
    Event->accept();
    // Keys used on it show where the focus is, however it came.
    if (!FFocusShown) {
        FFocusShown = true;
        update();
    }
}

void TTrackLine::wheelEvent(QWheelEvent* Event) {
    if (!FEnabled) {
        Event->ignore();
        return;
    }
    Event->accept();
    const QPoint Angle = Event->angleDelta();
    const double Notches = (Angle.y() != 0 ? Angle.y() : Angle.x()) / 120.0;
    const double Span = static_cast<double>(FViewEnd - FViewStart);
    if (Event->modifiers() & Qt::ControlModifier) {
        const int L = FLeftMargin;
        const int Steps = ColumnSteps();
        if (Steps <= 0)
            return;
        const int X = std::clamp(static_cast<int>(std::floor(Event->position().x())), L, L + Steps);
        const double Fraction = static_cast<double>(X - L) / Steps;
        ZoomAround(static_cast<double>(FViewStart) + Fraction * Span, Fraction,
                   std::pow(WheelZoomFactor, Notches));
    } else {
        // Turning the wheel away from the user goes back in time.
        PanBy(RoundTo<int64_t>(-Notches * Span / WheelPanDivisor));
    }
}

void TTrackLine::mousePressEvent(QMouseEvent* Event) {
    Event->accept();
    if (!FEnabled)
        return;
    const int X = ColumnOf(Event);
    const int Y = RowOf(Event);
    if (Event->button() == Qt::MiddleButton) {
        if (Zoomed()) {
            FDrag = TDrag::Pan;
            FDragX = X;
            FDragViewStart = FViewStart;
        }
        return;
    }
    if (Event->button() == Qt::RightButton) {
        const int64_t Marker = MarkerNear(X);
        if (Marker != -1)
            RemoveMarker(Marker);
        return;
    }
    if (Event->button() != Qt::LeftButton)
        return;
    if (const int64_t Marker = MarkerOnHandle(X, Y); Marker != -1) {
        FDrag = TDrag::Marker;
        FDragMarker = Marker;
        FDragOthers = FMarkers;
        FDragOthers.erase(std::find(FDragOthers.begin(), FDragOthers.end(), FDragMarker));
        return;
    }
    const bool InColumns = X >= FLeftMargin && X < width() - FRightMargin;
    if (InColumns && InStrip(Y)) {
        StripPress(X);
        return;
    }
    if (InColumns && Y >= 0 && Y < height())
        PickPosition(X, ShiftOf(Event));
    FDrag = TDrag::Cursor;
}

void TTrackLine::mouseMoveEvent(QMouseEvent* Event) {
    Event->accept();
    // A drag ends when its button is no longer held, whatever missed the
    // release.
    const Qt::MouseButton Held = FDrag == TDrag::Pan ? Qt::MiddleButton : Qt::LeftButton;
    if (FDrag != TDrag::None && !(Event->buttons() & Held)) {
        FDrag = TDrag::None;
        return;
    }
    const int X = ColumnOf(Event);
    // The column under the mouse, kept within the bar's columns.
    const int InBar = std::max(FLeftMargin, std::min(X, width() - FRightMargin - 1));
    const int64_t Span = FViewEnd - FViewStart;
    switch (FDrag) {
    case TDrag::Pan: {
        const int Steps = std::max(ColumnSteps(), 1);
        const int64_t Start = FDragViewStart + RoundTo<int64_t>(static_cast<double>(FDragX - X) *
                                                                static_cast<double>(Span) / Steps);
        SetView(Start, Start + Span);
        return;
    }
    case TDrag::Thumb: {
        const TStripGeometry Geometry = Strip();
        const int Free = Geometry.Width - Geometry.ThumbWidth;
        if (Free <= 0)
            return;
        const int64_t Start =
            FDragViewStart + RoundTo<int64_t>(static_cast<double>(X - FDragX) *
                                              static_cast<double>(FMaxPos - FMinPos - Span) / Free);
        SetView(Start, Start + Span);
        return;
    }
    case TDrag::Cursor:
        if (FEnabled)
            PickPosition(InBar, ShiftOf(Event));
        return;
    case TDrag::Marker: {
        const int64_t Pos = std::clamp(DoValidPos(ShiftOf(Event), XToPos(InBar)), FMinPos, FMaxPos);
        if (Pos == FDragMarker)
            return;
        // Passing over another marker leaves it be; ending on one merges them.
        FDragMarker = Pos;
        FMarkers = FDragOthers;
        InsertSorted(FMarkers, Pos);
        MarkersChanged();
        return;
    }
    case TDrag::None:
        return;
    }
}

void TTrackLine::mouseReleaseEvent(QMouseEvent* Event) {
    Event->accept();
    if ((Event->button() == Qt::LeftButton && FDrag != TDrag::Pan) ||
        (Event->button() == Qt::MiddleButton && FDrag == TDrag::Pan))
        FDrag = TDrag::None;
}
