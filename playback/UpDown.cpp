#include "UpDown.h"

#include "EditLib.h"

#include <QResizeEvent>
#include <QToolButton>

TUpDown::TUpDown(QWidget* Parent) : QWidget(Parent) {
    FUp = MakeArrowButton(this, "btnUp", Qt::UpArrow);
    FDown = MakeArrowButton(this, "btnDown", Qt::DownArrow);
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
