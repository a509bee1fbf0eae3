#pragma once

// Helpers for driving modal dialogs from inside their own event loop.

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs Action on the next modal dialog as soon as it is on screen.
inline void OnNextModal(std::function<void(QWidget*)> Action, QWidget* Previous = nullptr) {
    QTimer::singleShot(0, [Action, Previous] {
        QWidget* Modal = QApplication::activeModalWidget();
        if (Modal && Modal != Previous && Modal->isVisible())
            Action(Modal);
        else
            OnNextModal(Action, Previous);
    });
}

// A key typed into whatever has the focus in Window (or Window itself).
inline void TypeKey(QWidget* Window, int Key) {
    QWidget* Target = Window->focusWidget() ? Window->focusWidget() : Window;
    QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier);
    QKeyEvent Release(QEvent::KeyRelease, Key, Qt::NoModifier);
    QApplication::sendEvent(Target, &Press);
    QApplication::sendEvent(Target, &Release);
}
