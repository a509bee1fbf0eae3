#include "UpDown.h"

#include <QResizeEvent>
#include <QToolButton>

namespace {

QToolButton* MakeArrow(QWidget* Parent, const char* Name, Qt::ArrowType Arrow) {
    auto* Button = new QToolButton(Parent);
    Button->setObjectName(QString::fromLatin1(Name));
    Button->setArrowType(Arrow);
    Button->setFocusPolicy(Qt::NoFocus);
    Button->setAutoRepeat(true);
    return Button;
}

} // namespace

TUpDown::TUpDown(QWidget* Parent) : QWidget(Parent) {
    FUp = MakeArrow(this, "btnUp", Qt::UpArrow);
    FDown = MakeArrow(this, "btnDown", Qt::DownArrow);
    connect(FUp, &QToolButton::clicked, this, [this] { emit Click(btNext); });
    connect(FDown, &QToolButton::clicked, this, [this] { emit Click(btPrev); });
}

// The upper arrow takes the odd pixel row, if any.
void TUpDown::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    const int Upper = (height() + 1) / 2;
    FUp->setGeometry(0, 0, width(), Upper);
    FDown->setGeometry(0, Upper, width(), height() - Upper);
}
