#include "TrackLine.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <limits>

namespace {

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

} // namespace

TTrackLine::TTrackLine(QWidget* Parent) : QWidget(Parent) {
    SetSelStart(-1);
    SetSelEnd(-1);
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
    repaint();
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
    const double Range = static_cast<double>(FMaxPos) - static_cast<double>(FMinPos);
    const int64_t Offset =
        RoundTo<int64_t>(static_cast<double>(X - L) * Range / static_cast<double>(R - L - 1));
    return SaturatingAdd(FMinPos, Offset);
}

int TTrackLine::PosToX(int64_t Pos) const {
    if (FMinPos >= FMaxPos)
        return 0;
    const int64_t L = FLeftMargin;
    const int64_t R = width() - FRightMargin;
    const double Offset = static_cast<double>(Pos) - static_cast<double>(FMinPos);
    const double Range = static_cast<double>(FMaxPos) - static_cast<double>(FMinPos);
    return RoundTo<int>(Offset * static_cast<double>(R - L - 1) / Range + static_cast<double>(L));
}

void TTrackLine::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    if (!FEnabled)
        FDragging = false;
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

void TTrackLine::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    const int L = FLeftMargin;
    const int T = FTopMargin;
    const int R = width() - FRightMargin;
    const int B = height() - FBottomMargin;

    // Everything is drawn as filled pixel rectangles, so each pixel is
    // exactly where the layout puts it whatever the paint engine.
    if (R > L && B > T) {
        Painter.fillRect(L, T, R - L, B - T, QColor(128, 128, 128));
        const QColor Face = FEnabled ? QColor(255, 255, 255) : QColor(192, 192, 192);
        if (R - L > 2 && B - T > 2)
            Painter.fillRect(L + 1, T + 1, R - L - 2, B - T - 2, Face);
    }
    if (!FEnabled)
        return;

    const QColor Blue(0, 0, 255);
    const bool HasStart = FSelStart >= 0;
    const bool HasEnd = FSelEnd >= 0;
    const int StartX = HasStart ? PosToX(FSelStart) : 0;
    const int EndX = HasEnd ? PosToX(FSelEnd) : 0;
    if (HasStart)
        Painter.fillRect(StartX, B + 3, 1, 6, Blue);
    if (HasEnd)
        Painter.fillRect(EndX, B + 3, 1, 6, Blue);
    if (HasStart && HasEnd && EndX > StartX)
        Painter.fillRect(StartX, B + 4, EndX - StartX, 4, Blue);

    if (B > T)
        Painter.fillRect(PosToX(FCurPos) - 1, T, 3, B - T, QColor(0, 0, 0));
}

void TTrackLine::mousePressEvent(QMouseEvent* Event) {
    Event->accept();
    if (!FEnabled || Event->button() != Qt::LeftButton)
        return;
    const int X = ColumnOf(Event);
    const int Y = RowOf(Event);
    if (X >= FLeftMargin && X < width() - FRightMargin && Y >= 0 && Y < height())
        PickPosition(X, ShiftOf(Event));
    FDragging = true;
}

void TTrackLine::mouseMoveEvent(QMouseEvent* Event) {
    Event->accept();
    if (!(Event->buttons() & Qt::LeftButton)) {
        FDragging = false;
        return;
    }
    if (!FDragging || !FEnabled)
        return;
    const int L = FLeftMargin;
    const int R = width() - FRightMargin;
    const int X = std::max(L, std::min(ColumnOf(Event), R - 1));
    PickPosition(X, ShiftOf(Event));
}

void TTrackLine::mouseReleaseEvent(QMouseEvent* Event) {
    Event->accept();
    if (Event->button() == Qt::LeftButton)
        FDragging = false;
}
