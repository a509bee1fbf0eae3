#pragma once

// A label for a file's path: text() keeps the whole path, and a path wider
// than the label is drawn with its middle left out, so the file's name stays
// readable. The whole path shows as the tool tip when it is cut.

#include <QLabel>

class TPathLabel : public QLabel {
    Q_OBJECT

public:
    explicit TPathLabel(QWidget* Parent = nullptr);

protected:
    void paintEvent(QPaintEvent* Event) override;
    bool event(QEvent* Event) override;
};
