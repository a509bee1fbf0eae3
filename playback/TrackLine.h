#pragma once

// A timeline control: a bar for the range MinPos..MaxPos, a thick cursor at
// CurPos and, in the bottom margin, ticks for SelStart and SelEnd with a band
// between them. A left click or drag moves CurPos. Positions carry no unit;
// the program uses tenths of a second. Owners put it in a panel and let it
// fill the panel (a layout without margins, or a geometry that follows the
// panel's size).
//
// Whether it shows the cursor and the marks and takes the mouse is its own
// Enabled flag, set by its owner, not QWidget's enabled state: the progress
// dialog of a job disables the whole main window, and the timeline keeps
// showing where the job's marks lie meanwhile.

#include <QWidget>

#include <cstdint>
#include <functional>

class QRect;

// The modifier keys and mouse buttons held during a mouse event.
struct TShiftState {
    Qt::KeyboardModifiers Modifiers;
    Qt::MouseButtons Buttons;
};

class TTrackLine : public QWidget {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TTrackLine* Sender)>;
    // May change Pos, the position picked with the mouse.
    using TPosValidEvent = std::function<void(TTrackLine* Sender, TShiftState Shift, int64_t& Pos)>;

    explicit TTrackLine(QWidget* Parent = nullptr);

    // Stored only; the owner repaints when it needs to.
    int64_t MinPos() const { return FMinPos; }
    void SetMinPos(int64_t Value) { FMinPos = Value; }
    int64_t MaxPos() const { return FMaxPos; }
    void SetMaxPos(int64_t Value) { FMaxPos = Value; }

    // A value outside MinPos..MaxPos is ignored; a change repaints and then
    // calls OnChange.
    int64_t CurPos() const { return FCurPos; }
    void SetCurPos(int64_t Value);
    // As SetCurPos, without OnChange: for following playback.
    void UpdateCurPos(int64_t Value);

    // -1 means not set. A mark that meets or passes the other one clears
    // the other one, so two set marks always have SelStart < SelEnd.
    int64_t SelStart() const { return FSelStart; }
    void SetSelStart(int64_t Value);
    int64_t SelEnd() const { return FSelEnd; }
    void SetSelEnd(int64_t Value);

    int LeftMargin() const { return FLeftMargin; }
    void SetLeftMargin(int Value) { FLeftMargin = Value; }
    int TopMargin() const { return FTopMargin; }
    void SetTopMargin(int Value) { FTopMargin = Value; }
    int RightMargin() const { return FRightMargin; }
    void SetRightMargin(int Value) { FRightMargin = Value; }
    int BottomMargin() const { return FBottomMargin; }
    void SetBottomMargin(int Value) { FBottomMargin = Value; }

    void SetOnChange(TNotifyEvent Handler) { FOnChange = std::move(Handler); }
    void SetOnValidPos(TPosValidEvent Handler) { FOnValidPos = std::move(Handler); }

    // Right- and bottom-exclusive, in the control's own pixels.
    QRect GetBarRect() const;
    QRect GetHitRect() const;

    // Column of the bar to position and back, rounding halves to even;
    // column Left maps to MinPos and column Right - 1 to MaxPos.
    int64_t XToPos(int X) const;
    int PosToX(int64_t Pos) const;

    int64_t DoValidPos(TShiftState Shift, int64_t Pos);

    // Disabled, the control paints only its silver bar and ignores the
    // mouse. A change repaints.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;

private:
    bool MoveCurPos(int64_t Value);
    void PickPosition(int X, TShiftState Shift);

    int64_t FMinPos = 0;
    int64_t FMaxPos = 0;
    int64_t FCurPos = 0;
    int64_t FSelStart = 0;
    int64_t FSelEnd = 0;
    int FLeftMargin = 5;
    int FTopMargin = 9;
    int FRightMargin = 5;
    int FBottomMargin = 14;
    TNotifyEvent FOnChange;
    TPosValidEvent FOnValidPos;
    bool FDragging = false;
    bool FEnabled = true;
};
