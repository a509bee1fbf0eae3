#include "PlaySelForm.h"

#include "ui_PlaySelForm.h"

// Placeholder until the dialog's form and handlers are filled in.

TfrmPlaySelected* frmPlaySelected = nullptr;

TfrmPlaySelected::TfrmPlaySelected(ISelectionHost& Host)
    : QDialog(Host.HostWindow()), ui(std::make_unique<Ui::frmPlaySelected>()), FHost(Host) {
    ui->setupUi(this);
}

TfrmPlaySelected::~TfrmPlaySelected() = default;

void TfrmPlaySelected::UpdateProgress() {}
void TfrmPlaySelected::PlaybackComplete() {}

void ShowPlaySelected(ISelectionHost&) {}
