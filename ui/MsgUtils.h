#pragma once

// The program's message box: every warning, error and question goes through
// CenteredMessageDlg, which shows it modally centred over the main window and
// returns the modal result of the button that closed it.

#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Members of a button set; each is bit (1 << member) of TMsgDlgButtons. The
// buttons appear left to right in this order.
enum TMsgDlgBtn {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};

using TMsgDlgButtons = uint16_t;

constexpr TMsgDlgButtons MsgDlgButton(TMsgDlgBtn Button) {
    return static_cast<TMsgDlgButtons>(1u << Button);
}

// The three sets the program uses.
constexpr TMsgDlgButtons mbOKOnly = 4;
constexpr TMsgDlgButtons mbYesCancel = 9;
constexpr TMsgDlgButtons mbYesCancelYesToAll = 521;

// Modal results; callers compare with these numbers.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;

// The main window the boxes centre over and belong to. The main window
// registers itself when it is created (and passes nullptr when it goes);
// while none is registered, the first visible top-level window that is not
// a dialog stands in, and with no such window the box is centred by the
// platform.
void SetMainWindow(QWidget* Window);
QWidget* MainWindow();

// What the Help button does; it does not close the box. Without a handler
// the button does nothing.
void SetMessageDlgHelpHandler(std::function<void()> Handler);

// Shows Msg with the caption and icon of DlgType and one button per member
// of Buttons; returns the button's modal result (mrNone when the box was
// closed some other way).
int CenteredMessageDlg(const QString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons);
