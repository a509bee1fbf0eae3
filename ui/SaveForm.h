#pragma once

// The save dialog (frmSave): the destination folder and file name of a
// segment and the fields of the tags it will carry: the ID3v2 tag takes them
// as typed, the ID3v1 tag in ISO-8859-1. It checks
// the destination before it closes (creating a missing folder on request,
// asking before an existing file is replaced) and writes no file itself.
// CheckDestFolder is shared with the main window's split by parts.

#include "ID3v1.h"
#include "SourceTag.h"

#include <QDialog>
#include <QString>

#include <memory>

class QComboBox;
class QLineEdit;

namespace Ui {
class frmSave;
}

// The two folders the dialog starts its file dialogs in. The main window
// keeps them (and stores them between runs); the dialog reads both and
// writes LastSaveFolder.
class IFolderHistory {
public:
    virtual ~IFolderHistory() = default;
    virtual QString LastOpenFolder() const = 0;
    virtual QString LastSaveFolder() const = 0;
    virtual void SetLastSaveFolder(const QString& Value) = 0;
};

class TfrmSave : public QDialog {
    Q_OBJECT

public:
    // Folders may be nullptr until the main window plugs itself in.
    explicit TfrmSave(QWidget* Owner = nullptr, IFolderHistory* Folders = nullptr);
    ~TfrmSave() override;

    void SetFolders(IFolderHistory* Folders) { FFolders = Folders; }

    // Fills the tag's fields from the file's ID3v2 tag, or else from its
    // ID3v1 tag (decoded as ISO-8859-1), or empties them when it has
    // neither. Raises the file layer's error when the file can't be opened.
    void LoadID3Info(const QString& FileName);
    // Copies the fields into ID3Info (as ISO-8859-1 bytes, a character
    // outside it becoming "?"; the genre's number, 255 for none; the track's
    // number) and into TagFields as typed, where an empty field is not given:
    // the source's stays.
    void StoreID3Info();

    // Set by a successful OK.
    const QString& FileName() const { return FFileName; }
    const TID3Info& ID3Info() const { return FID3Info; }
    const TTagFields& TagFields() const { return FTagFields; }

    // The components the main window and the tests reach.
    QLineEdit* edtFolder() const;
    QLineEdit* edtFileName() const;
    QLineEdit* edtTitle() const;
    QLineEdit* edtArtist() const;
    QLineEdit* edtAlbum() const;
    QLineEdit* edtYear() const;
    QLineEdit* edtComment() const;
    QLineEdit* edtTrack() const;
    // "" for none, then the named genres in their ID3v1 order.
    QComboBox* cbxGenre() const;

private:
    void btnOKClick();
    void sbnSelectClick();
    void sbnLoadFromFileClick();

    std::unique_ptr<Ui::frmSave> ui;
    IFolderHistory* FFolders = nullptr;
    QString FFileName;
    TID3Info FID3Info;
    TTagFields FTagFields;
};

// The one save dialog, created at start-up right after the main window and
// kept for the whole run; nullptr before and after.
extern TfrmSave* frmSave;

// Places frmSave 3 px right of and 22 px below the main window's top-left
// corner, focuses the folder box when it is empty (else the name, all of it
// selected) and shows it modally; true when it closed with OK.
bool ShowSaveDialog();

// False without a message for a folder that is blank once trimmed; true when
// the folder (untrimmed) exists; otherwise asks whether to create it, creates
// it with its parents on Yes and says so when that failed.
bool CheckDestFolder(const QString& Folder);
