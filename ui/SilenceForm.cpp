#include "SilenceForm.h"

#include "ui_SilenceForm.h"

#include "TimeFormat.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

std::optional<int64_t> ParseMinPartMs(const QString& Text) {
    const QString Trimmed = Text.trimmed();
    if (Trimmed.isEmpty())
        return 0;
    return ParseTimeMs(Trimmed.toStdString());
}

TfrmSilence::TfrmSilence(QWidget* Owner, const QString& MinPart, bool DropSilence)
    : QDialog(Owner), ui(std::make_unique<Ui::frmSilence>()) {
    ui->setupUi(this);
    ui->edtMinPart->setText(MinPart);
    ui->chkDropSilence->setChecked(DropSilence);
    connect(ui->edtMinPart, &QLineEdit::textChanged, this, &TfrmSilence::Changed);
    connect(ui->chkDropSilence, &QAbstractButton::toggled, this, &TfrmSilence::Changed);
    connect(ui->ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Changed();
}

TfrmSilence::~TfrmSilence() = default;

QString TfrmSilence::MinPart() const {
    return ui->edtMinPart->text().trimmed();
}

bool TfrmSilence::DropSilence() const {
    return ui->chkDropSilence->isChecked();
}

void TfrmSilence::Changed() {
    ui->ButtonBox->button(QDialogButtonBox::Ok)->setEnabled(ParseMinPartMs(MinPart()).has_value());
    if (FOnChange)
        FOnChange();
}
