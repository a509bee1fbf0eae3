#include "MsgUtils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <map>
#include <utility>

namespace {

QPointer<QWidget> GMainWindow;
std::function<void()> GHelpHandler;

struct TButtonInfo {
    const char* Caption;
    int ModalResult;
};

constexpr std::array<TButtonInfo, 11> ButtonInfo{{
    {"&Yes", mrYes},
    {"&No", mrNo},
    {"OK", mrOk},
    {"Cancel", mrCancel},
    {"&Abort", mrAbort},
    {"&Retry", mrRetry},
    {"&Ignore", mrIgnore},
    {"&All", mrAll},
    {"N&o to All", mrNoToAll},
    {"Yes to &All", mrYesToAll},
    {"&Help", mrNone}, // opens the help instead of closing
}};

QString CaptionFor(TMsgDlgType DlgType) {
    switch (DlgType) {
    case mtWarning:
        return QStringLiteral("Warning");
    case mtError:
        return QStringLiteral("Error");
    case mtInformation:
        return QStringLiteral("Information");
    case mtConfirmation:
        return QStringLiteral("Confirm");
    case mtCustom:
        break;
    }
    return QGuiApplication::applicationDisplayName();
}

QMessageBox::Icon IconFor(TMsgDlgType DlgType) {
    switch (DlgType) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    case mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

// QMessageBox picks an escape button of its own when none is given, and
// centres on its parent before it knows its final size; both are decided
// here instead.
class TCenteredMessageBox : public QMessageBox {
public:
    TCenteredMessageBox(QWidget* Parent, QWidget* CentreOn)
        : QMessageBox(Parent), FCentreOn(CentreOn) {}

    QPushButton* EscapeButton = nullptr;

protected:
    void showEvent(QShowEvent* Event) override {
        QMessageBox::showEvent(Event);
        if (FCentreOn) {
            const QPoint Centre = FCentreOn->frameGeometry().center();
            const QSize Size = frameGeometry().size();
            move(Centre.x() - (Size.width() - 1) / 2, Centre.y() - (Size.height() - 1) / 2);
        }
    }

    void keyPressEvent(QKeyEvent* Event) override {
        if (Event->matches(QKeySequence::Cancel)) {
            if (EscapeButton)
                EscapeButton->click();
            return;
        }
        QMessageBox::keyPressEvent(Event);
    }

    void closeEvent(QCloseEvent* Event) override {
        Event->ignore();
        if (EscapeButton && isVisible())
            EscapeButton->click();
    }

private:
    QPointer<QWidget> FCentreOn;
};

} // namespace

void SetMainWindow(QWidget* Window) {
    GMainWindow = Window;
}

QWidget* MainWindow() {
    if (GMainWindow)
        return GMainWindow;
    for (QWidget* Window : QApplication::topLevelWidgets())
        if (Window->isVisible() && !Window->parentWidget() && !qobject_cast<QDialog*>(Window) &&
            Window->windowType() == Qt::Window)
            return Window;
    return nullptr;
}

void SetMessageDlgHelpHandler(std::function<void()> Handler) {
    GHelpHandler = std::move(Handler);
}

int CenteredMessageDlg(const QString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons) {
    QWidget* Main = MainWindow();
    QWidget* CentreOn = Main && Main->isVisible() && !Main->isMinimized() ? Main : nullptr;
    TCenteredMessageBox Box(Main, CentreOn);
    // A box whose parent is disabled (the progress dialog disables the main
    // window) would be disabled too.
    Box.setEnabled(true);
    Box.setWindowTitle(CaptionFor(DlgType));
    Box.setIcon(IconFor(DlgType));
    Box.setTextFormat(Qt::PlainText);
    QString Text = Msg;
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Box.setText(Text);

    std::map<QAbstractButton*, int> Results;
    std::array<QPushButton*, ButtonInfo.size()> ByMember{};
    for (size_t Member = 0; Member < ButtonInfo.size(); ++Member) {
        if (!(Buttons & MsgDlgButton(static_cast<TMsgDlgBtn>(Member))))
            continue;
        // One role for all keeps the buttons in the set's order.
        QPushButton* Button =
            Box.addButton(QString::fromLatin1(ButtonInfo[Member].Caption), QMessageBox::ActionRole);
        ByMember[Member] = Button;
        if (Member == mbHelp) {
            // The box would close on any of its buttons.
            QObject::disconnect(Button, &QAbstractButton::clicked, nullptr, nullptr);
            QObject::connect(Button, &QAbstractButton::clicked, [] {
                if (GHelpHandler)
                    GHelpHandler();
            });
        } else {
            Results[Button] = ButtonInfo[Member].ModalResult;
        }
    }

    if (QPushButton* Default = ByMember[mbOK]    ? ByMember[mbOK]
                               : ByMember[mbYes] ? ByMember[mbYes]
                                                 : ByMember[mbRetry])
        Box.setDefaultButton(Default);
    Box.EscapeButton = ByMember[mbCancel] ? ByMember[mbCancel]
                       : ByMember[mbNo]   ? ByMember[mbNo]
                                          : ByMember[mbOK];

    Box.exec();
    const auto Found = Results.find(Box.clickedButton());
    return Found == Results.end() ? mrNone : Found->second;
}
