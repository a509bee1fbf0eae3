#include "MainForm.h"

#include "ui_MainForm.h"

#include "AboutBox.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FileDlg.h"
#include "FileLib.h"
#include "FilePreparation.h"
#include "HelpFile.h"
#include "MsgUtils.h"
#include "PathDialog.h"
#include "PlayAudio.h"
#include "ProgressDlg.h"
#include "Segmora.h"
#include "Settings.h"
#include "ShellUtils.h"
#include "Tenths.h"
#include "ToolbarImages.h"
#include "TrackLine.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTabBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

TfrmMain* frmMain = nullptr;

namespace {

// The first bytes of a source that could not be opened, kept for diagnosis.
constexpr int64_t HeadSize = 204800;

const QString NoSelectedFile = QStringLiteral("There is no selected file");

bool IsDigitKey(int Key) {
    return Key >= Qt::Key_0 && Key <= Qt::Key_9;
}

} // namespace

TfrmMain::TfrmMain(QWidget* Parent) : QWidget(Parent), ui(std::make_unique<Ui::frmMain>()) {
    ui->setupUi(this);
    // A fixed single border: it can be minimised and closed, not resized or
    // maximised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(432, 303);
    setWindowIcon(ApplicationIcon());
    move(231, 239);
    // The tabs are no tab stop; the page control itself is set so in the
    // form, its tab bar is a widget of its own.
    ui->PageControl->tabBar()->setFocusPolicy(Qt::NoFocus);

    ui->edtPartCount->SetMinValue(2);
    ui->edtPartCount->SetMaxValue(999);
    ui->edtPartCount->SetValue(2);
    ui->edtPartCount->setMaxLength(3);

    OutputDialog = new TPathDialog(this);
    OutputDialog->setObjectName(QStringLiteral("OutputDialog"));
    OutputDialog->SetTitle(QStringLiteral("Select the output folder"));

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(500);

    const std::array<std::pair<QAction*, int>, 6> Pictures = {{
        {ui->acnGoStart, imgGoStart},
        {ui->acnGoEnd, imgGoEnd},
        {ui->acnSelectStart, imgSelectStart},
        {ui->acnSelectEnd, imgSelectEnd},
        {ui->acnPlaySelected, imgPlaySelected},
        {ui->acnSaveSelected, imgSave},
    }};
    for (const auto& [Action, Image] : Pictures) {
        Action->setIcon(ToolbarImage(Image));
        addAction(Action);
    }
    ui->tbnPlay->setIcon(ToolbarImage(imgPlay));
    ui->tbnPause->setIcon(ToolbarImage(imgPause));
    ui->tbnGoStart->setDefaultAction(ui->acnGoStart);
    ui->tbnGoEnd->setDefaultAction(ui->acnGoEnd);
    ui->tbnSelectStart->setDefaultAction(ui->acnSelectStart);
    ui->tbnSelectEnd->setDefaultAction(ui->acnSelectEnd);
    ui->tbnPlaySelected->setDefaultAction(ui->acnPlaySelected);
    ui->tbnSaveSegment->setDefaultAction(ui->acnSaveSelected);

    SetMainWindow(this);
    FormCreate();
    BindHandlers();
    // The actions' keys are looked at before any control of the window
    // claims them.
    qApp->installEventFilter(this);
    ui->gbxSource->setFocus();
}

TfrmMain::~TfrmMain() {
    qApp->removeEventFilter(this);
    Timer->stop();
    FormDestroy();
    if (MainWindow() == this)
        SetMainWindow(nullptr);
}

void TfrmMain::FormCreate() {
    FPlayer = std::make_unique<TAudioPlayer>();
    FPlayer->NotifyWindow(this);
    FSplitter = std::make_unique<TSegmora>();
    FFrontEnd = std::make_unique<TProgressFrontEnd>(this);
    FSplitter->SetFrontEnd(FFrontEnd.get());
    CreateTrackLine();
    SetShortCuts();
    ui->PageControl->setCurrentIndex(0);
    setAcceptDrops(true);
    RestoreFormPlacement(FormsKey + QStringLiteral("frmMain"), this, true);
    FLastOpenFolder = ReadRegString(SegmoraKey, QStringLiteral("LastOpenFolder"));
    FLastSaveFolder = ReadRegString(SegmoraKey, QStringLiteral("LastSaveFolder"));
    CloseSourceFile();
}

void TfrmMain::FormDestroy() {
    SaveFormPlacement(FormsKey + QStringLiteral("frmMain"), this);
    if (!FLastOpenFolder.trimmed().isEmpty())
        WriteRegString(SegmoraKey, QStringLiteral("LastOpenFolder"), FLastOpenFolder);
    if (!FLastSaveFolder.trimmed().isEmpty())
        WriteRegString(SegmoraKey, QStringLiteral("LastSaveFolder"), FLastSaveFolder);
    FPlayer.reset();
    FSplitter.reset();
}

void TfrmMain::CreateTrackLine() {
    FTrackLine = new TTrackLine(ui->pnlTrackLine);
    FTrackLine->setObjectName(QStringLiteral("TrackLine"));
    auto* Fill = new QVBoxLayout(ui->pnlTrackLine);
    Fill->setContentsMargins(0, 0, 0, 0);
    Fill->addWidget(FTrackLine);
    FTrackLine->SetLeftMargin(3);
    FTrackLine->SetTopMargin(2);
    FTrackLine->SetRightMargin(3);
    FTrackLine->SetMinPos(0);
    FTrackLine->SetMaxPos(100);
    FTrackLine->SetOnChange([this](TTrackLine*) {
        // A write of the window's own lets a failure reach the handler that
        // made it; a click or drag has no handler above it.
        if (FWritingCurPos)
            TrackLineChange();
        else
            Guarded([this] { TrackLineChange(); });
    });
    FTrackLine->SetEnabled(false);
}

void TfrmMain::SetCurPos(int64_t Value) {
    FWritingCurPos = true;
    const auto Done = qScopeGuard([this] { FWritingCurPos = false; });
    FTrackLine->SetCurPos(Value);
}

void TfrmMain::SetShortCuts() {
    ui->acnGoStart->setShortcut(QKeySequence(Qt::Key_Home));
    ui->acnGoEnd->setShortcut(QKeySequence(Qt::Key_End));
    ui->acnSelectStart->setShortcut(QKeySequence(Qt::Key_1));
    ui->acnSelectEnd->setShortcut(QKeySequence(Qt::Key_2));
}

void TfrmMain::BindHandlers() {
    const auto Handler = [this](void (TfrmMain::*Method)()) {
        return [this, Method] { Guarded([this, Method] { (this->*Method)(); }); };
    };
    connect(ui->btnSelectSourceFile, &QAbstractButton::clicked, this,
            Handler(&TfrmMain::btnSelectSourceFileClick));
    connect(ui->btnSelectOutputFolder, &QAbstractButton::clicked, this,
            Handler(&TfrmMain::btnSelectOutputFolderClick));
    connect(ui->tbnPlay, &QAbstractButton::clicked, this, Handler(&TfrmMain::tbnPlayClick));
    connect(ui->tbnPause, &QAbstractButton::clicked, this, Handler(&TfrmMain::tbnPauseClick));
    connect(Timer, &QTimer::timeout, this, Handler(&TfrmMain::TimerTimer));
    connect(ui->btnClose, &QAbstractButton::clicked, this, Handler(&TfrmMain::btnCloseClick));
    connect(ui->btnHelp, &QAbstractButton::clicked, this, Handler(&TfrmMain::btnHelpClick));
    connect(ui->btnAbout, &QAbstractButton::clicked, this, Handler(&TfrmMain::btnAboutClick));
    connect(ui->acnGoStart, &QAction::triggered, this, Handler(&TfrmMain::acnGoStartExecute));
    connect(ui->acnGoEnd, &QAction::triggered, this, Handler(&TfrmMain::acnGoEndExecute));
    connect(ui->acnSelectStart, &QAction::triggered, this,
            Handler(&TfrmMain::acnSelectStartExecute));
    connect(ui->acnSelectEnd, &QAction::triggered, this, Handler(&TfrmMain::acnSelectEndExecute));
    connect(ui->acnPlaySelected, &QAction::triggered, this,
            Handler(&TfrmMain::acnPlaySelectedExecute));
    connect(ui->acnSaveSelected, &QAction::triggered, this,
            Handler(&TfrmMain::acnSaveSelectedExecute));
    connect(ui->sbnSplitByParts, &QAbstractButton::clicked, this,
            Handler(&TfrmMain::sbnSplitByPartsClick));
    connect(ui->PageControl, &QTabWidget::currentChanged, this,
            Handler(&TfrmMain::PageControlChange));
}

void TfrmMain::Guarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& Error) {
        // A failure that repeats on every timer tick would otherwise pile
        // up boxes while the first one is still open.
        if (FShowingError)
            return;
        FShowingError = true;
        const auto Shown = qScopeGuard([this] { FShowingError = false; });
        CenteredMessageDlg(QString::fromStdString(Error.what()), mtError, mbOKOnly);
    }
}

void TfrmMain::UpdateControls() {
    ui->lblPosition->setEnabled(FFileOpened);
    ui->lblStartSelection->setEnabled(FFileOpened);
    ui->lblEndSelection->setEnabled(FFileOpened);
    ui->sbnSplitByParts->setEnabled(FFileOpened &&
                                    !ui->edtOutputFolder->text().trimmed().isEmpty());
    ui->tbnPlay->setEnabled(FFileOpened && !FPlaying);
    ui->tbnPause->setEnabled(FFileOpened && FPlaying);
    ui->acnGoStart->setEnabled(FFileOpened);
    ui->acnGoEnd->setEnabled(FFileOpened);
    ui->acnSelectStart->setEnabled(FFileOpened);
    ui->acnSelectEnd->setEnabled(FFileOpened);
    const bool Selected = FTrackLine->SelStart() != -1 && FTrackLine->SelEnd() != -1;
    ui->acnPlaySelected->setEnabled(FFileOpened && Selected);
    ui->acnSaveSelected->setEnabled(FFileOpened && Selected);
    UpdateHint();
}

void TfrmMain::UpdateHint() {
    QString Hint;
    if (!FFileOpened)
        Hint = QStringLiteral("select a source file that should be splited.");
    else if (FTrackLine->SelStart() == -1)
        Hint = QStringLiteral("select a start of segment that should be extracted.");
    else if (FTrackLine->SelEnd() == -1)
        Hint = QStringLiteral("select a end of segment that should be extracted.");
    else
        Hint = QStringLiteral("save the selected segment to a file.");
    const QString Caption = QStringLiteral("Hint : ") + Hint;
    if (ui->lblHint->text() != Caption)
        ui->lblHint->setText(Caption);
}

void TfrmMain::UpdatePositionLabel() {
    if (FPlayer->IsOpen())
        ui->lblPosition->setText(
            QStringLiteral("Position : ") + FormatTenths(FPlayer->Position() / RefTimePerTenth) +
            QStringLiteral(" of ") + FormatTenths(FPlayer->Duration() / RefTimePerTenth));
    else
        ui->lblPosition->setText(QStringLiteral("Position : not selected"));
}

void TfrmMain::UpdateSelectionLabels() {
    const auto Mark = [](int64_t Value) {
        return Value == -1 ? QStringLiteral("not selected.") : FormatTenths(Value);
    };
    ui->lblStartSelection->setText(QStringLiteral("Start : ") + Mark(FTrackLine->SelStart()));
    ui->lblEndSelection->setText(QStringLiteral("End : ") + Mark(FTrackLine->SelEnd()));
}

void TfrmMain::OpenPlayer() {
    FPlayer->Open(ui->lblSourceFileName->text().toStdString());
    SetCurPos(0);
    FTrackLine->SetMaxPos(FPlayer->Duration() / RefTimePerTenth);
    FTrackLine->SetEnabled(true);
    FTrackLine->update();
    Timer->start();
    FPlaying = false;
}

void TfrmMain::ClosePlayer() {
    FPlayer->Close();
    FTrackLine->SetEnabled(false);
    Timer->stop();
    FPlaying = false;
}

void TfrmMain::CloseSourceFile() {
    FFileOpened = false;
    FTrackLine->SetSelStart(-1);
    FTrackLine->SetSelEnd(-1);
    UpdateSelectionLabels();
    if (FPlayer->IsOpen())
        ClosePlayer();
    UpdatePositionLabel();
    UpdateControls();
}

void TfrmMain::OpenSourceFile(const QString& FileName) {
    ui->lblSourceFileName->setText(FileName);
    ui->edtOutputFilePrefix->setText(QFileInfo(FileName).completeBaseName() + QLatin1Char('-'));
    try {
        try {
            OpenPlayer();
        } catch (const ENotMpegAudio&) {
            // No copy of it would be MPEG audio either.
            throw;
        } catch (const Exception&) {
            QString PreparedName;
            if (!PrepareMP3File(FileName, PreparedName))
                throw;
            ui->lblSourceFileName->setText(PreparedName);
            OpenPlayer();
        }
        UpdatePositionLabel();
        FFileOpened = true;
        UpdateControls();
        if (frmSave) {
            if (QLineEdit* Name = frmSave->edtFileName())
                Name->clear();
            frmSave->LoadID3Info(FileName);
        }
    } catch (const std::exception& Error) {
        ui->lblSourceFileName->setText(NoSelectedFile);
        ui->edtOutputFilePrefix->clear();
        FFileOpened = false;
        UpdateControls();
        WriteErrorInfo(FileName);
        // A failure after the player opened the file (its tag, its position)
        // must not leave it playing under a window that shows no file.
        if (FPlayer->IsOpen())
            ClosePlayer();
        UpdatePositionLabel();
        CenteredMessageDlg(QString::fromStdString(Error.what()), mtWarning, mbOKOnly);
    }
}

void TfrmMain::WriteErrorInfo(const QString& FileName) {
    // The dump only helps to find out why the open failed; its own failure
    // must never take the place of the open's message.
    try {
        const QString Folder =
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
            QStringLiteral("/errorinfo");
        if (!ForceDirectories(Folder))
            throw Exception(FormatMessage("Cannot create folder %s", Folder.toStdString()));
        FPlayer->SaveGraph((Folder + QStringLiteral("/graph.grf")).toStdString());

        TFileStream Source(FileName.toStdString(), fmOpenRead | fmShareDenyNone);
        TFileStream Head((Folder + QStringLiteral("/head.dat")).toStdString(), fmCreate);
        std::vector<char> Buffer(static_cast<size_t>(std::min(HeadSize, Source.Size())));
        const int32_t Read = Source.Read(Buffer.data(), static_cast<uint32_t>(Buffer.size()));
        if (Read > 0)
            Head.WriteBuffer(Buffer.data(), static_cast<uint32_t>(Read));
    } catch (const std::exception& Error) {
        qWarning("The diagnostic files could not be written: %s", Error.what());
    }
}

void TfrmMain::btnSelectSourceFileClick() {
    TFileOpenDialog Dialog;
    Dialog.OwnerHandle = this;
    if (!FLastOpenFolder.isEmpty())
        Dialog.InitialDir = FLastOpenFolder;
    Dialog.Filter = Mp3Filter;
    if (!Dialog.Execute())
        return;
    FLastOpenFolder = QFileInfo(Dialog.FileName).absolutePath();
    CloseSourceFile();
    OpenSourceFile(Dialog.FileName);
}

void TfrmMain::OpenDroppedFile(const QString& Name) {
    Guarded([this, &Name] { WMDropFiles(Name); });
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* Event) {
    if (Event->mimeData()->hasUrls())
        Event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* Event) {
    Event->acceptProposedAction();
    // The drag source waits until the drop returns; the open may ask
    // questions, so it runs once the drop is over.
    const QString Name = GetDroppedFileName(Event);
    QTimer::singleShot(0, this, [this, Name] { OpenDroppedFile(Name); });
}

void TfrmMain::WMDropFiles(const QString& Name) {
    CloseSourceFile();
    const QFileInfo File(Name);
    if (Name.isEmpty() || !File.isFile())
        return;
    raise();
    activateWindow();
    OpenSourceFile(File.absoluteFilePath());
}

bool TfrmMain::event(QEvent* Event) {
    if (Event->type() == PlayerEventMessage) {
        Guarded([this] { WMPlayerNotify(); });
        return true;
    }
    return QWidget::event(Event);
}

void TfrmMain::WMPlayerNotify() {
    if (!FPlayer->CheckCompletion())
        return;
    if (frmPlaySelected) {
        frmPlaySelected->PlaybackComplete();
        return;
    }
    FPlayer->Stop();
    FPlaying = false;
    UpdateControls();
}

void TfrmMain::tbnPlayClick() {
    if (!FPlayer->IsOpen())
        OpenPlayer();
    FPlayer->Play();
    FPlaying = true;
    UpdateControls();
}

void TfrmMain::tbnPauseClick() {
    if (FPlayer->IsOpen())
        FPlayer->Pause();
    FPlaying = false;
    UpdateControls();
}

void TfrmMain::TimerTimer() {
    if (!FPlayer->IsOpen() || FShowingError)
        return;
    if (frmPlaySelected) {
        frmPlaySelected->UpdateProgress();
        return;
    }
    FTrackLine->UpdateCurPos(FPlayer->Position() / RefTimePerTenth);
    UpdatePositionLabel();
}

void TfrmMain::TrackLineChange() {
    FPlayer->Seek(FTrackLine->CurPos() * RefTimePerTenth, -1);
    UpdatePositionLabel();
}

void TfrmMain::acnGoStartExecute() {
    SetCurPos(FTrackLine->MinPos());
    UpdateControls();
}

void TfrmMain::acnGoEndExecute() {
    SetCurPos(FTrackLine->MaxPos());
    UpdateControls();
}

void TfrmMain::acnSelectStartExecute() {
    FTrackLine->SetSelStart(FTrackLine->CurPos());
    UpdateSelectionLabels();
    UpdateControls();
}

void TfrmMain::acnSelectEndExecute() {
    FTrackLine->SetSelEnd(FTrackLine->CurPos());
    UpdateSelectionLabels();
    UpdateControls();
}

void TfrmMain::acnPlaySelectedExecute() {
    tbnPauseClick();
    ShowPlaySelected(*this);
}

void TfrmMain::acnSaveSelectedExecute() {
    tbnPauseClick();
    if (!frmSave || !ShowSaveDialog())
        return;
    FSplitter->SetSourceFile(ui->lblSourceFileName->text().toStdString());
    FSplitter->SetDestFile(frmSave->FileName().toStdString());
    FSplitter->SetSelStart(static_cast<int32_t>(FTrackLine->SelStart()));
    FSplitter->SetSelEnd(static_cast<int32_t>(FTrackLine->SelEnd()));
    FSplitter->SetID3Info(frmSave->ID3Info());
    FSplitter->SetTagFields(frmSave->TagFields());
    FSplitter->Execute(true);
}

void TfrmMain::sbnSplitByPartsClick() {
    tbnPauseClick();
    if (!CheckDestFolder(ui->edtOutputFolder->text()))
        return;
    if (!ConfirmOverwriteParts())
        return;
    FSplitter->SetSourceFile(ui->lblSourceFileName->text().toStdString());
    FSplitter->SetPartCount(ui->edtPartCount->Value());
    FSplitter->SetFolder(ui->edtOutputFolder->text().toStdString());
    FSplitter->SetPrefix(ui->edtOutputFilePrefix->text().toStdString());
    FSplitter->SetPadNumbers(ui->chkPadNumbers->isChecked());
    // The user's fields are the selection's: the parts carry the source's.
    FSplitter->SetTagFields({});
    FSplitter->Execute(false);
}

bool TfrmMain::ConfirmOverwriteParts() {
    const std::string Folder = ui->edtOutputFolder->text().toStdString();
    const std::string Prefix = ui->edtOutputFilePrefix->text().toStdString();
    const int32_t Count = ui->edtPartCount->Value();
    for (int32_t Number = 1; Number <= Count; ++Number) {
        const QString Path = QString::fromStdString(TSegmora::PartFileName(
            Folder, Prefix, Number, ui->chkPadNumbers->isChecked() ? Count : 0));
        if (!QFileInfo(Path).isFile())
            continue;
        const int Answer = CenteredMessageDlg(QStringLiteral("The file \"") + Path +
                                                  QStringLiteral("\" is already exists.\r\n"
                                                                 "Do you want to overwrite it?"),
                                              mtConfirmation, mbYesCancelYesToAll);
        if (Answer == mrYesToAll)
            return true;
        if (Answer != mrYes)
            return false;
    }
    return true;
}

void TfrmMain::PageControlChange() {
    tbnPauseClick();
}

void TfrmMain::btnSelectOutputFolderClick() {
    if (!FLastSaveFolder.isEmpty())
        OutputDialog->SetDirectory(FLastSaveFolder);
    if (!OutputDialog->Execute())
        return;
    ui->edtOutputFolder->setText(OutputDialog->Directory());
    FLastSaveFolder = OutputDialog->Directory();
    UpdateControls();
}

void TfrmMain::btnHelpClick() {
    const QString Manual = FindManual();
    if (!Manual.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(Manual));
}

void TfrmMain::btnAboutClick() {
    ShowAboutBox(this);
    ui->gbxSource->setFocus();
}

void TfrmMain::btnCloseClick() {
    close();
}

QAction* TfrmMain::ShortcutAction(const QKeyEvent* Key) const {
    Qt::KeyboardModifiers Modifiers = Key->modifiers();
    // Home and End of the numeric pad are the same keys; its digits are not.
    if (!IsDigitKey(Key->key()))
        Modifiers &= ~Qt::KeypadModifier;
    const QKeySequence Pressed(QKeyCombination(Modifiers, static_cast<Qt::Key>(Key->key())));
    for (QAction* Action : actions())
        if (!Action->shortcut().isEmpty() && Action->shortcut() == Pressed)
            return Action;
    return nullptr;
}

bool TfrmMain::eventFilter(QObject* Watched, QEvent* Event) {
    // Qt asks the focused control first whether it wants a key before it
    // looks for a shortcut, and edit boxes want every printable key and
    // Home and End. The window's actions come first while they are enabled.
    if (Event->type() != QEvent::ShortcutOverride || !Watched->isWidgetType() ||
        static_cast<QWidget*>(Watched)->window() != this)
        return false;
    const auto* Key = static_cast<QKeyEvent*>(Event);
    if (QAction* Action = ShortcutAction(Key)) {
        if (!Action->isEnabled())
            return false;
        // Nobody claims the key: the shortcut runs the action.
        Event->ignore();
        return true;
    }
    if ((Key->modifiers() & Qt::KeypadModifier) && IsDigitKey(Key->key())) {
        // Qt would try a pad digit as the plain digit when no shortcut
        // matches it; claimed here, it goes to the focused control instead.
        Event->accept();
        return true;
    }
    return false;
}
