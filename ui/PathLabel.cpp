#include "PathLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

TPathLabel::TPathLabel(QWidget* Parent) : QLabel(Parent) {
    setTextFormat(Qt::PlainText);
}

void TPathLabel::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    const QRect Area = contentsRect();
    const QString Shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, Area.width());
    style()->drawItemText(&Painter, Area, static_cast<int>(alignment()), palette(), isEnabled(),
                          Shown, foregroundRole());
}

bool TPathLabel::event(QEvent* Event) {
    if (Event->type() == QEvent::ToolTip) {
        auto* Help = static_cast<QHelpEvent*>(Event);
        if (fontMetrics().horizontalAdvance(text()) > contentsRect().width())
            QToolTip::showText(Help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(Event);
}
