#include "SaveForm.h"

#include "ui_SaveForm.h"

#include <QLineEdit>

// Placeholder until the dialog's form and handlers are filled in.

TfrmSave* frmSave = nullptr;

TfrmSave::TfrmSave(QWidget* Owner, IFolderHistory* Folders)
    : QDialog(Owner), ui(std::make_unique<Ui::frmSave>()), FFolders(Folders) {
    ui->setupUi(this);
}

TfrmSave::~TfrmSave() = default;

void TfrmSave::LoadID3Info(const QString&) {}
void TfrmSave::StoreID3Info() {}
QLineEdit* TfrmSave::edtFolder() const {
    return nullptr;
}
QLineEdit* TfrmSave::edtFileName() const {
    return nullptr;
}
QLineEdit* TfrmSave::edtTitle() const {
    return nullptr;
}
QLineEdit* TfrmSave::edtArtist() const {
    return nullptr;
}
QLineEdit* TfrmSave::edtAlbum() const {
    return nullptr;
}
QLineEdit* TfrmSave::edtYear() const {
    return nullptr;
}
QLineEdit* TfrmSave::edtComment() const {
    return nullptr;
}
void TfrmSave::btnOKClick() {}
void TfrmSave::sbnSelectClick() {}
void TfrmSave::sbnLoadFromFileClick() {}

bool ShowSaveDialog() {
    return false;
}
bool CheckDestFolder(const QString&) {
    return false;
}
