#pragma once

// TNaturalEdit: an edit box for a bounded natural number. Only digits and
// backspace can be typed; Up and Down, and the two arrows at its right
// edge, step the number within MinValue..MaxValue.

#include <QLineEdit>

#include <cstdint>

class QToolButton;

// A small arrow button that repeats while held and takes no focus, as the
// spin arrows of an edit box; owned by Parent.
QToolButton* MakeArrowButton(QWidget* Parent, const char* Name, Qt::ArrowType Arrow);

class TNaturalEdit : public QLineEdit {
    Q_OBJECT

public:
    // The codes of the two arrows, as a vertical scroll bar sends them.
    static constexpr int SB_LINEUP = 0;
    static constexpr int SB_LINEDOWN = 1;

    explicit TNaturalEdit(QWidget* Parent = nullptr);

    int32_t MinValue() const { return FMinValue; }
    void SetMinValue(int32_t Value);
    int32_t MaxValue() const { return FMaxValue; }
    void SetMaxValue(int32_t Value);

    // The text as a number (0 when it is none), then raised to MinValue and
    // lowered to MaxValue. Writing sets the text without clamping.
    int32_t Value() const;
    void SetValue(int32_t Value);

    // One step within the bounds; false when the bound was already reached.
    bool StepUp();
    bool StepDown();

    // An arrow press: SB_LINEUP steps up, SB_LINEDOWN down, other codes
    // are ignored. The caret stays where it was.
    void VScroll(int Code);

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void inputMethodEvent(QInputMethodEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void RestoreCaret(int Caret);
    void PlaceArrows();

    int32_t FMinValue = 0;
    int32_t FMaxValue = 2147483647;
    QToolButton* btnSpinUp = nullptr;
    QToolButton* btnSpinDown = nullptr;
};
