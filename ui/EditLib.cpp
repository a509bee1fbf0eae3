#include "EditLib.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QToolButton>

namespace {

constexpr int ArrowWidth = 16;

bool IsDigit(QChar Char) {
    return Char >= QLatin1Char('0') && Char <= QLatin1Char('9');
}

bool IsAllDigits(const QString& Text) {
    for (QChar Char : Text)
        if (!IsDigit(Char))
            return false;
    return true;
}

// Keys that are not text input: the dialog's own keys and editing keys
// that insert nothing.
bool IsControlKey(int Key) {
    switch (Key) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        return false;
    }
}

// Typed input other than digits is dropped. Ctrl with a letter counts as
// typed input, so the clipboard and undo shortcuts do nothing either.
bool IsRejectedInput(const QKeyEvent* Event) {
    const int Key = Event->key();
    if (IsControlKey(Key))
        return false;
    const bool Ctrl = Event->modifiers() & Qt::ControlModifier;
    if (Ctrl && Key >= Qt::Key_A && Key <= Qt::Key_Z)
        return true;
    const QString Text = Event->text();
    return !Text.isEmpty() && !IsAllDigits(Text);
}

} // namespace

QToolButton* MakeArrowButton(QWidget* Parent, const char* Name, Qt::ArrowType Arrow) {
    auto* Button = new QToolButton(Parent);
    Button->setObjectName(QString::fromLatin1(Name));
    Button->setArrowType(Arrow);
    Button->setFocusPolicy(Qt::NoFocus);
    Button->setAutoRepeat(true);
    Button->setCursor(Qt::ArrowCursor);
    return Button;
}

TNaturalEdit::TNaturalEdit(QWidget* Parent) : QLineEdit(Parent) {
    setText(QStringLiteral("0"));
    resize(width(), 20);
    btnSpinUp = MakeArrowButton(this, "btnSpinUp", Qt::UpArrow);
    btnSpinDown = MakeArrowButton(this, "btnSpinDown", Qt::DownArrow);
    connect(btnSpinUp, &QToolButton::clicked, this, [this] { VScroll(SB_LINEUP); });
    connect(btnSpinDown, &QToolButton::clicked, this, [this] { VScroll(SB_LINEDOWN); });
    setTextMargins(0, 0, ArrowWidth, 0);
    PlaceArrows();
}

void TNaturalEdit::SetMinValue(int32_t Value) {
    FMinValue = Value;
    if (this->Value() < FMinValue)
        SetValue(FMinValue);
}

void TNaturalEdit::SetMaxValue(int32_t Value) {
    FMaxValue = Value;
    if (FMaxValue < this->Value())
        SetValue(FMaxValue);
}

int32_t TNaturalEdit::Value() const {
    bool Ok = false;
    int32_t Result = text().toInt(&Ok);
    if (!Ok)
        Result = 0;
    if (Result < FMinValue)
        Result = FMinValue;
    if (Result > FMaxValue)
        Result = FMaxValue;
    return Result;
}

void TNaturalEdit::SetValue(int32_t Value) {
    setText(QString::number(Value));
}

bool TNaturalEdit::StepUp() {
    const int32_t Current = Value();
    if (Current >= FMaxValue)
        return false;
    SetValue(Current + 1);
    return true;
}

bool TNaturalEdit::StepDown() {
    const int32_t Current = Value();
    if (Current <= FMinValue)
        return false;
    SetValue(Current - 1);
    return true;
}

void TNaturalEdit::VScroll(int Code) {
    const int Caret = cursorPosition();
    if (Code == SB_LINEUP)
        StepUp();
    else if (Code == SB_LINEDOWN)
        StepDown();
    RestoreCaret(Caret);
}

void TNaturalEdit::RestoreCaret(int Caret) {
    if (cursorPosition() != Caret)
        setCursorPosition(Caret);
}

void TNaturalEdit::keyPressEvent(QKeyEvent* Event) {
    const int Key = Event->key();
    if (Key == Qt::Key_Up || Key == Qt::Key_Down) {
        const int Caret = cursorPosition();
        QLineEdit::keyPressEvent(Event);
        // A step that happened consumes the key; at a bound it goes on to
        // the parent as QLineEdit left it.
        if (Key == Qt::Key_Up ? StepUp() : StepDown())
            Event->accept();
        RestoreCaret(Caret);
        return;
    }
    if (IsRejectedInput(Event)) {
        Event->accept();
        return;
    }
    QLineEdit::keyPressEvent(Event);
}

void TNaturalEdit::inputMethodEvent(QInputMethodEvent* Event) {
    // Composed characters arrive here rather than as key presses.
    const QString Commit = Event->commitString();
    if (IsAllDigits(Commit)) {
        QLineEdit::inputMethodEvent(Event);
        return;
    }
    QString Digits;
    for (QChar Char : Commit)
        if (IsDigit(Char))
            Digits += Char;
    QInputMethodEvent Filtered(Event->preeditString(), Event->attributes());
    Filtered.setCommitString(Digits, Event->replacementStart(), Event->replacementLength());
    QLineEdit::inputMethodEvent(&Filtered);
    Event->accept();
}

void TNaturalEdit::resizeEvent(QResizeEvent* Event) {
    QLineEdit::resizeEvent(Event);
    PlaceArrows();
}

void TNaturalEdit::PlaceArrows() {
    const int Upper = height() / 2;
    btnSpinUp->setGeometry(width() - ArrowWidth, 0, ArrowWidth, Upper);
    btnSpinDown->setGeometry(width() - ArrowWidth, Upper, ArrowWidth, height() - Upper);
}
