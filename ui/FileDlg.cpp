#include "FileDlg.h"

#include <QFileDialog>

QStringList TFileCommonDialog::ConvertFilter(const QString& Filter) {
    const QStringList Items = Filter.split(QLatin1Char('|'));
    QStringList Result;
    for (qsizetype I = 0; I + 1 < Items.size(); I += 2) {
        const QString& Description = Items[I];
        const QString& Pattern = Items[I + 1];
        // Qt reads the masks from the last parentheses and splits them at
        // blanks.
        QString Masks = Pattern;
        Masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString Shown = QLatin1Char('(') + Pattern + QLatin1Char(')');
        if (Description.endsWith(Shown))
            Result << Description.left(Description.size() - Shown.size()) + QLatin1Char('(') +
                          Masks + QLatin1Char(')');
        else
            Result << Description + QStringLiteral(" (") + Masks + QLatin1Char(')');
    }
    return Result;
}

void TFileCommonDialog::Prepare(QFileDialog& Dialog) const {
    Dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QStringList Filters = ConvertFilter(Filter);
    if (!Filters.isEmpty()) {
        Dialog.setNameFilters(Filters);
        if (FilterIndex >= 1 && FilterIndex <= Filters.size())
            Dialog.selectNameFilter(Filters[FilterIndex - 1]);
    }
    if (!InitialDir.isEmpty())
        Dialog.setDirectory(InitialDir);
    if (!Title.isEmpty())
        Dialog.setWindowTitle(Title);
}

bool TFileOpenDialog::Execute() {
    if (MultiSelect) {
        Options |= OFN_ALLOWMULTISELECT;
        BufferSize = 30720;
    } else {
        Options &= ~OFN_ALLOWMULTISELECT;
        BufferSize = 1024;
    }
    QFileDialog Dialog(OwnerHandle);
    Prepare(Dialog);
    Dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (MultiSelect)
        Dialog.setFileMode(QFileDialog::ExistingFiles);
    else if (Options & OFN_FILEMUSTEXIST)
        Dialog.setFileMode(QFileDialog::ExistingFile);
    else
        Dialog.setFileMode(QFileDialog::AnyFile);
    if (Dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList Chosen = Dialog.selectedFiles();
    if (Chosen.isEmpty())
        return false;
    if (MultiSelect)
        Files = Chosen;
    FileName = Chosen.first();
    return true;
}

TFileSaveDialog::TFileSaveDialog() {
    Options |= OFN_OVERWRITEPROMPT;
}

bool TFileSaveDialog::Execute() {
    QFileDialog Dialog(OwnerHandle);
    Prepare(Dialog);
    // Files that must exist make no sense when saving; that flag is
    // ignored here.
    Dialog.setAcceptMode(QFileDialog::AcceptSave);
    Dialog.setFileMode(QFileDialog::AnyFile);
    Dialog.setOption(QFileDialog::DontConfirmOverwrite, !(Options & OFN_OVERWRITEPROMPT));
    if (!DefaultExt.isEmpty())
        Dialog.setDefaultSuffix(DefaultExt);
    if (Dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList Chosen = Dialog.selectedFiles();
    if (Chosen.isEmpty())
        return false;
    FileName = Chosen.first();
    return true;
}
