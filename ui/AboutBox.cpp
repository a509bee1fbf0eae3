#include "AboutBox.h"

#include <QMessageBox>

// Placeholder until the box's contents are drawn.
void ShowAboutBox(QWidget* Owner) {
    QMessageBox::about(Owner, QStringLiteral("About Segmora"), QStringLiteral("Segmora"));
}
