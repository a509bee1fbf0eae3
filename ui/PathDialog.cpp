#include "PathDialog.h"

#include "MsgUtils.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

#include <exception>

TPathDialog::TPathDialog(QObject* Owner) : QObject(Owner) {}

TPathDialog::~TPathDialog() = default;

void TPathDialog::SetDirectory(const QString& Value) {
    if (Value.isEmpty())
        FDirectory = QDir::currentPath();
    else if (Value.size() > 1 && Value.endsWith(QLatin1Char('/')))
        FDirectory = Value.left(Value.size() - 1);
    else
        FDirectory = Value;
    if (FHandle && !FDirectory.isEmpty())
        FHandle->setDirectory(FDirectory);
}

void TPathDialog::SetStatusText(const QString& Value) {
    FStatusText = Value;
    if (FHandle && FShowStatus && FStatusLabel)
        FStatusLabel->setText(Value);
}

bool TPathDialog::Execute() {
    QWidget* OwnerWindow = nullptr;
    if (auto* OwnerWidget = qobject_cast<QWidget*>(parent()))
        OwnerWindow = OwnerWidget->window();
    else
        OwnerWindow = MainWindow();

    QFileDialog Dialog(OwnerWindow);
    Dialog.setOption(QFileDialog::DontUseNativeDialog);
    Dialog.setOption(QFileDialog::ShowDirsOnly);
    Dialog.setFileMode(QFileDialog::Directory);
    if (!FTitle.isEmpty())
        Dialog.setWindowTitle(FTitle);

    const QUrl Computer = QUrl::fromLocalFile(QStringLiteral("/"));
    const QUrl Home = QUrl::fromLocalFile(QDir::homePath());
    if (FRootItem == riDesktop)
        Dialog.setSidebarUrls(
            {QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)),
             Home, Computer});
    else
        Dialog.setSidebarUrls({Computer, Home});

    if (FShowStatus) {
        if (auto* Grid = qobject_cast<QGridLayout*>(Dialog.layout())) {
            auto* Status = new QLabel(&Dialog);
            Status->setObjectName(QStringLiteral("lblStatus"));
            Grid->addWidget(Status, Grid->rowCount(), 0, 1, Grid->columnCount());
            FStatusLabel = Status;
        }
    }

    connect(&Dialog, &QFileDialog::currentChanged, this, &TPathDialog::SelectionChanged);
    Dialog.installEventFilter(this);
    FHandle = &Dialog;
    const int Result = Dialog.exec();
    FHandle = nullptr;
    FStatusLabel = nullptr;

    const QStringList Chosen = Dialog.selectedFiles();
    if (Result != QDialog::Accepted || Chosen.isEmpty())
        return false;
    FDirectory = Chosen.first();
    return true;
}

bool TPathDialog::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == FHandle && Event->type() == QEvent::Show && !Event->spontaneous())
        Initialized();
    return QObject::eventFilter(Watched, Event);
}

void TPathDialog::Initialized() {
    SetDirectory(FDirectory);
    SetStatusText(FStatusText);
    if (FOnShow)
        RunHandler([this] { FOnShow(this); });
}

void TPathDialog::SelectionChanged(const QString& Path) {
    if (FOnSelect)
        RunHandler([this, &Path] { FOnSelect(this, Path); });
}

// A handler's failure must not escape into the dialog's event loop: the
// program's own errors are shown, anything else is dropped.
template <typename F> void TPathDialog::RunHandler(F&& Handler) {
    try {
        Handler();
    } catch (const std::exception& Error) {
        QMessageBox::critical(FHandle, QGuiApplication::applicationDisplayName(),
                              QString::fromStdString(Error.what()));
    } catch (...) {
    }
}
