#pragma once

// Helpers for driving modal dialogs from inside their own event loop.

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

// Texts readable in failure messages.
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}

inline QString Q(const std::string& Text) {
    return QString::fromStdString(Text);
}

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

// Answers every message box that comes up while it lives: with the buttons
// named in Answers in turn, then with OK. Seen holds "Caption: text" of each.
class TBoxAnswers {
public:
    explicit TBoxAnswers(QStringList Answers = {}) : FAnswers(std::move(Answers)) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
        FTimer.start(5);
    }
    QStringList Seen;

private:
    void Poll() {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!Box || !Box->isVisible())
            return;
        Seen << Box->windowTitle() + QStringLiteral(": ") + Box->text();
        const QString Answer = FAnswers.isEmpty() ? QStringLiteral("OK") : FAnswers.takeFirst();
        for (QPushButton* Button : Box->findChildren<QPushButton*>())
            if (Button->text() == Answer)
                return Button->click();
        ADD_FAILURE() << "no button " << Answer.toStdString();
        Box->reject();
    }
    QStringList FAnswers;
    QTimer FTimer;
};
