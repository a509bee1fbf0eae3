#pragma once

// A left click on a widget as the window system delivers it: queued, and
// handled only when whoever holds the thread next lets events through.
// Header only, so that programs beside the tests can use it without linking
// test code.

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

inline void PostClick(QWidget* Button) {
    const QPointF Centre = QRectF(Button->rect()).center();
    const QPointF Global = Button->mapToGlobal(Centre);
    QCoreApplication::postEvent(Button,
                                new QMouseEvent(QEvent::MouseButtonPress, Centre, Global,
                                                Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(Button,
                                new QMouseEvent(QEvent::MouseButtonRelease, Centre, Global,
                                                Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}
