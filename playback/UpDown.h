#pragma once

// TUpDown: a pair of arrow buttons, one above the other, that only reports
// clicks. It keeps no position of its own; holding an arrow repeats the
// click.

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT

public:
    // The arrow that was clicked: btNext is the upper one, btPrev the lower.
    enum TUDBtnType { btNext, btPrev };
    Q_ENUM(TUDBtnType)

    explicit TUpDown(QWidget* Parent = nullptr);

    QToolButton* UpButton() const { return FUp; }
    QToolButton* DownButton() const { return FDown; }

signals:
    // Once per click, and once per repeat while an arrow is held.
    void Click(TUpDown::TUDBtnType Button);

protected:
    void resizeEvent(QResizeEvent* Event) override;

private:
    QToolButton* FUp = nullptr;
    QToolButton* FDown = nullptr;
};
