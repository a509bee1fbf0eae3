#include "SaveForm.h"

#include "ui_SaveForm.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FileDlg.h"
#include "FileLib.h"
#include "MsgUtils.h"

#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <array>
#include <utility>
#include <vector>

TfrmSave* frmSave = nullptr;

namespace {

// What a person typed, as the tag's single bytes: ISO-8859-1, each character
// outside it one "?". Composed first, so an "e" followed by a combining
// accent is stored as the one byte of "é".
std::string TagBytes(const QString& Text) {
    const QString Composed = Text.normalized(QString::NormalizationForm_C);
    std::string Bytes;
    for (char32_t Char : Composed.toUcs4())
        Bytes += Char <= 0xFF ? static_cast<char>(Char) : '?';
    return Bytes;
}

// Blanks and control characters off both ends.
QString WithoutBlankEnds(const QString& Text) {
    qsizetype First = 0, Last = Text.size();
    while (First < Last && Text[First].unicode() <= 32)
        ++First;
    while (Last > First && Text[Last - 1].unicode() <= 32)
        --Last;
    return Text.mid(First, Last - First);
}

// Keeps children at their distance from the right (and bottom) edge of
// their parent when it changes size.
class TAnchors : public QObject {
public:
    explicit TAnchors(QWidget* Parent) : QObject(Parent), FParent(Parent) {
        Parent->installEventFilter(this);
    }

    void Add(QWidget* Child, bool Bottom) {
        const QRect Place = Child->geometry();
        FChildren.push_back(
            {Child, FParent->width() - Place.x(), Bottom ? FParent->height() - Place.y() : -1});
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Watched == FParent && Event->type() == QEvent::Resize)
            for (const TAnchored& Item : FChildren)
                Item.Child->move(FParent->width() - Item.FromRight,
                                 Item.FromBottom < 0 ? Item.Child->y()
                                                     : FParent->height() - Item.FromBottom);
        return false;
    }

private:
    struct TAnchored {
        QWidget* Child;
        int FromRight;
        int FromBottom; // -1: anchored to the top
    };
    QWidget* FParent;
    std::vector<TAnchored> FChildren;
};
// The tags' text fields and the edits that show them, in the form's order.
struct TTagEdit {
    QLineEdit* Edit;
    std::string TID3Info::*ID3v1;
    std::optional<std::string> TTagFields::*ID3v2;
};
std::array<TTagEdit, 5> TagEdits(const Ui::frmSave& Form) {
    return {{{Form.edtTitle, &TID3Info::Title, &TTagFields::Title},
             {Form.edtArtist, &TID3Info::Artist, &TTagFields::Artist},
             {Form.edtAlbum, &TID3Info::Album, &TTagFields::Album},
             {Form.edtYear, &TID3Info::Year, &TTagFields::Year},
             {Form.edtComment, &TID3Info::Comment, &TTagFields::Comment}}};
}

// The number in front of "3/12", as the ID3v1.1 tag keeps it; 0 for none.
uint8_t TrackNumber(const QString& Track) {
    int Number = 0;
    for (QChar Char : Track) {
        if (Char.unicode() < '0' || Char.unicode() > '9' || Number > 255)
            break;
        Number = Number * 10 + (Char.unicode() - '0');
    }
    return Number <= 255 ? static_cast<uint8_t>(Number) : 0;
}

QString Shown(const std::optional<std::string>& Field) {
    return Field ? QString::fromStdString(*Field) : QString();
}

} // namespace

TfrmSave::TfrmSave(QWidget* Owner, IFolderHistory* Folders)
    : QDialog(Owner), ui(std::make_unique<Ui::frmSave>()), FFolders(Folders) {
    ui->setupUi(this);
    auto* DialogAnchors = new TAnchors(this);
    DialogAnchors->Add(ui->btnOK, true);
    DialogAnchors->Add(ui->btnCancel, true);
    auto* GroupAnchors = new TAnchors(ui->GroupBox2);
    GroupAnchors->Add(ui->sbnLoadFromFile, false);
    setFixedSize(size());
    ui->cbxGenre->addItem(QString());
    for (const std::string& Name : GenreNames())
        ui->cbxGenre->addItem(QString::fromStdString(Name));

    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmSave::btnOKClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmSave::reject);
    connect(ui->sbnSelect, &QToolButton::clicked, this, &TfrmSave::sbnSelectClick);
    connect(ui->sbnLoadFromFile, &QToolButton::clicked, this, &TfrmSave::sbnLoadFromFileClick);
}

TfrmSave::~TfrmSave() = default;

QLineEdit* TfrmSave::edtFolder() const {
    return ui->edtFolder;
}
QLineEdit* TfrmSave::edtFileName() const {
    return ui->edtFileName;
}
QLineEdit* TfrmSave::edtTitle() const {
    return ui->edtTitle;
}
QLineEdit* TfrmSave::edtArtist() const {
    return ui->edtArtist;
}
QLineEdit* TfrmSave::edtAlbum() const {
    return ui->edtAlbum;
}
QLineEdit* TfrmSave::edtYear() const {
    return ui->edtYear;
}
QLineEdit* TfrmSave::edtComment() const {
    return ui->edtComment;
}
QLineEdit* TfrmSave::edtTrack() const {
    return ui->edtTrack;
}
QComboBox* TfrmSave::cbxGenre() const {
    return ui->cbxGenre;
}

void TfrmSave::LoadID3Info(const QString& FileName) {
    const TSourceTag Tag = TSourceTag::FromFile(QFile::encodeName(FileName).toStdString());
    const TTagFields& Fields = Tag.Fields();
    for (const TTagEdit& Field : TagEdits(*ui))
        Field.Edit->setText(Shown(Fields.*Field.ID3v2));
    ui->edtTrack->setText(Shown(Fields.Track));
    const int Genre = ui->cbxGenre->findText(Shown(Fields.Genre));
    ui->cbxGenre->setCurrentIndex(Genre < 0 ? 0 : Genre);
}

void TfrmSave::StoreID3Info() {
    FTagFields = {};
    for (const TTagEdit& Field : TagEdits(*ui)) {
        FID3Info.*Field.ID3v1 = TagBytes(Field.Edit->text());
        if (!Field.Edit->text().isEmpty())
            FTagFields.*Field.ID3v2 = Field.Edit->text().toStdString();
    }
    const QString Genre = ui->cbxGenre->currentText();
    FID3Info.Genre = GenreNumber(Genre.toStdString());
    if (!Genre.isEmpty())
        FTagFields.Genre = Genre.toStdString();
    FID3Info.Track = TrackNumber(ui->edtTrack->text());
    if (!ui->edtTrack->text().isEmpty())
        FTagFields.Track = ui->edtTrack->text().toStdString();
}

void TfrmSave::btnOKClick() {
    QString Message;
    if (ui->edtFileName->text().isEmpty())
        Message = QStringLiteral("The destination file name is not selected.");
    if (ui->edtFolder->text().isEmpty())
        Message = QStringLiteral("The destination folder is not selected.");
    if (!Message.isEmpty()) {
        CenteredMessageDlg(Message, mtInformation, mbOKOnly);
        return;
    }
    if (!CheckDestFolder(ui->edtFolder->text()))
        return;

    FFileName =
        ui->edtFolder->text() + QLatin1Char('/') + ui->edtFileName->text() + QStringLiteral(".mp3");
    // A link that leads nowhere would still be written through.
    const QFileInfo Existing(FFileName);
    if ((Existing.exists() && !Existing.isDir()) || Existing.isSymLink()) {
        const QString Question = QStringLiteral("The file \"") + FFileName +
                                 QStringLiteral("\" already exists. Do you want to overwrite it?");
        if (CenteredMessageDlg(Question, mtConfirmation, mbYesCancel) != mrYes)
            return;
    }
    StoreID3Info();
    accept();
}

void TfrmSave::sbnSelectClick() {
    TFileSaveDialog Dialog;
    Dialog.OwnerHandle = this;
    if (FFolders && !FFolders->LastSaveFolder().isEmpty())
        Dialog.InitialDir = FFolders->LastSaveFolder();
    Dialog.Filter = Mp3Filter;
    Dialog.DefaultExt = QStringLiteral("mp3");
    Dialog.Options &= ~OFN_OVERWRITEPROMPT;
    if (!Dialog.Execute())
        return;

    const QString& Chosen = Dialog.FileName;
    const qsizetype Slash = Chosen.lastIndexOf(QLatin1Char('/'));
    const QString Folder = Slash > 0 ? Chosen.left(Slash) : QStringLiteral("/");
    QString Name = Chosen.mid(Slash + 1);
    const qsizetype Dot = Name.lastIndexOf(QLatin1Char('.'));
    if (Dot >= 0)
        Name.truncate(Dot);
    if (FFolders)
        FFolders->SetLastSaveFolder(Folder);
    ui->edtFolder->setText(Folder);
    ui->edtFileName->setText(Name);
    ui->edtFileName->selectAll();
    ui->edtFileName->setFocus();
}

void TfrmSave::sbnLoadFromFileClick() {
    TFileOpenDialog Dialog;
    Dialog.OwnerHandle = this;
    if (FFolders && !FFolders->LastOpenFolder().isEmpty())
        Dialog.InitialDir = FFolders->LastOpenFolder();
    Dialog.Filter = Mp3Filter;
    if (!Dialog.Execute())
        return;
    // A file that can't be read leaves the fields as they were; the reason
    // is shown the way every other failure is.
    try {
        LoadID3Info(Dialog.FileName);
    } catch (const Exception& Error) {
        CenteredMessageDlg(QString::fromStdString(Error.Message()), mtError, mbOKOnly);
    }
}

bool ShowSaveDialog() {
    if (!frmSave)
        return false;
    if (QWidget* Main = MainWindow())
        frmSave->move(Main->pos() + QPoint(3, 22));
    if (frmSave->edtFolder()->text().isEmpty())
        frmSave->edtFolder()->setFocus();
    else
        frmSave->edtFileName()->setFocus();
    if (!frmSave->edtFileName()->text().isEmpty())
        frmSave->edtFileName()->selectAll();
    return frmSave->exec() == QDialog::Accepted;
}

bool CheckDestFolder(const QString& Folder) {
    if (WithoutBlankEnds(Folder).isEmpty())
        return false;
    if (DirectoryExists(Folder))
        return true;
    if (CenteredMessageDlg(QStringLiteral("The destination folder does not exist. Create?"),
                           mtConfirmation, mbYesCancel) != mrYes)
        return false;
    ForceDirectories(Folder);
    if (DirectoryExists(Folder))
        return true;
    CenteredMessageDlg(QStringLiteral("Unable to create the destination folder."), mtWarning,
                       mbOKOnly);
    return false;
}
