#include "FilePreparation.h"

#include "FileDlg.h"
#include "MP3Prepare.h"
#include "MsgUtils.h"
#include "ProgressDlg.h"

#include <memory>

bool PrepareMP3File(const QString& FileName, QString& PreparedName) {
    if (!HasID3v2Header(FileName.toStdString()))
        return false;
    if (CenteredMessageDlg(QStringLiteral("The selected file has a format problem. Try to "
                                          "prepare the file to fix the problem?"),
                           mtConfirmation, mbYesCancel) != mrYes)
        return false;

    {
        TFileSaveDialog Dialog;
        Dialog.OwnerHandle = MainWindow();
        Dialog.Filter = QStringLiteral("MP3 files|*.mp3");
        Dialog.Title = QStringLiteral("Please select a file name for the prepared file");
        Dialog.DefaultExt = QStringLiteral("mp3");
        if (!Dialog.Execute())
            return false;
        PreparedName = Dialog.FileName;
    }

    const std::unique_ptr<IJobProgress> Progress =
        TProgressFrontEnd(MainWindow())
            .BeginJob("Preparing...", "The selected file is being prepared. Please wait...");
    CopyMP3Frames(FileName.toStdString(), PreparedName.toStdString(), *Progress);
    // One more look at Cancel also hands out the events still waiting.
    return !Progress->IsCancelled();
}
