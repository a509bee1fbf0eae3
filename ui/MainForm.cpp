#include "MainForm.h"

#include "ui_MainForm.h"

#include "AboutBox.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FileDlg.h"
#include "FileLib.h"
#include "FilePreparation.h"
#include "FrameClock.h"
#include "HelpFile.h"
#include "MsgUtils.h"
#include "OverviewBuilder.h"
#include "OverviewCache.h"
#include "PathDialog.h"
#include "PlayAudio.h"
#include "ProgressDlg.h"
#include "Segmora.h"
#include "Settings.h"
#include "ShellUtils.h"
#include "SourceTag.h"
#include "SplitPage.h"
#include "TimeFormat.h"
#include "ToolbarImages.h"
#include "TrackLine.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTabBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

TfrmMain* frmMain = nullptr;

namespace {

// Where each part of Plan starts, in milliseconds on the timeline's Clock.
std::vector<int64_t> PartStartsMs(const TSplitPlan& Plan, const TClockSpan& Clock) {
    std::vector<int64_t> Starts;
    for (const TPlannedPart& Part : Plan.Parts)
        Starts.push_back(TicksToNearestMs(Clock.Of(Part.Start)));
    return Starts;
}

// The player counts reference time in units of 100 ns; the timeline
// milliseconds.
constexpr int64_t RefTimePerMs = 10'000;

// The smallest window: the layout of the controls as the form places them.
constexpr int BaseWidth = 432;
constexpr int BaseHeight = 303;

// The cursor moves at least this often while playing.
constexpr int CursorIntervalMs = 30;

// The first bytes of a source that could not be opened, kept for diagnosis.
constexpr int64_t HeadSize = 204800;

const QString NoSelectedFile = QStringLiteral("There is no selected file");

bool IsDigitKey(int Key) {
    return Key >= Qt::Key_0 && Key <= Qt::Key_9;
}

// A control that takes typed text: a key it can type or move in is its own.
bool TakesText(const QObject* Control) {
    const auto* Edit = qobject_cast<const QLineEdit*>(Control);
    return Edit != nullptr && !Edit->isReadOnly();
}

bool IsTextKey(const QKeyEvent* Key) {
    if (Key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (Key->key()) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return true;
    default:
        return !Key->text().isEmpty() && Key->text().at(0).isPrint();
    }
}

} // namespace

TfrmMain::TfrmMain(QWidget* Parent) : QWidget(Parent), ui(std::make_unique<Ui::frmMain>()) {
    ui->setupUi(this);
    RecordLayout();
    // It can be resized and maximised; its smallest size is the form's.
    setWindowFlags(Qt::Window);
    setMinimumSize(BaseWidth, BaseHeight);
    resize(BaseWidth, BaseHeight);
    setWindowIcon(ApplicationIcon());
    move(231, 239);
    // The page tabs are a tab stop of their own; the page control is none.
    ui->PageControl->tabBar()->setFocusPolicy(Qt::TabFocus);
    chkExact = new QCheckBox(QStringLiteral("Cut to the sample"), ui->PageControl);
    chkExact->setObjectName(QStringLiteral("chkExact"));
    chkExact->setToolTip(
        QStringLiteral("Start every file with the frames its first sound is decoded from, and "
                       "tell players to drop the samples outside the marks: the file plays "
                       "exactly the marked samples in players that honour the encoder's delay "
                       "(Layer III files)"));
    ui->PageControl->setCornerWidget(chkExact, Qt::TopRightCorner);
    QWidget::setTabOrder(ui->PageControl->tabBar(), chkExact);

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
    CursorTimer = new QTimer(this);
    CursorTimer->setObjectName(QStringLiteral("CursorTimer"));
    CursorTimer->setInterval(CursorIntervalMs);

    edtMarkTime = new QLineEdit(ui->GroupBox4);
    edtMarkTime->setObjectName(QStringLiteral("edtMarkTime"));
    edtMarkTime->hide();

    for (QAction* Action : {ui->acnZoomIn, ui->acnZoomOut, ui->acnZoomAll, ui->acnZoomSelection,
                            ui->acnTypeStart, ui->acnTypeEnd})
        addAction(Action);
    const std::array<std::pair<QAction*, int>, 7> Pictures = {{
        {ui->acnGoStart, imgGoStart},
        {ui->acnGoEnd, imgGoEnd},
        {ui->acnSelectStart, imgSelectStart},
        {ui->acnSelectEnd, imgSelectEnd},
        {ui->acnPlaySelected, imgPlaySelected},
        {ui->acnSaveSelected, imgSave},
        {ui->acnAddMarker, imgAddMarker},
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
    ui->tbnAddMarker->setDefaultAction(ui->acnAddMarker);

    FSplitPage = new TSplitPage(*ui, this);
    FSplitPage->setObjectName(QStringLiteral("SplitPage"));

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
    CursorTimer->stop();
    StopOverview();
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
    RestoreFormPlacement(FormsKey + QStringLiteral("frmMain"), this, false);
    KeepOnScreen();
    ui->chkPadNumbers->setChecked(ReadRegBool(SegmoraKey, QStringLiteral("PadNumbers")));
    chkExact->setChecked(ReadRegBool(SegmoraKey, QStringLiteral("CutToTheSample")));
    FPlayer->SetPlayedClock(chkExact->isChecked());
    connect(chkExact, &QCheckBox::toggled, this, [this] { Guarded([this] { ChangeClock(); }); });
    FLastOpenFolder = ReadRegString(SegmoraKey, QStringLiteral("LastOpenFolder"));
    FLastSaveFolder = ReadRegString(SegmoraKey, QStringLiteral("LastSaveFolder"));
    FSplitPage->Load();
    CloseSourceFile();
}

void TfrmMain::FormDestroy() {
    SaveFormPlacement(FormsKey + QStringLiteral("frmMain"), this);
    if (!FLastOpenFolder.trimmed().isEmpty())
        WriteRegString(SegmoraKey, QStringLiteral("LastOpenFolder"), FLastOpenFolder);
    if (!FLastSaveFolder.trimmed().isEmpty())
        WriteRegString(SegmoraKey, QStringLiteral("LastSaveFolder"), FLastSaveFolder);
    WriteRegBool(SegmoraKey, QStringLiteral("PadNumbers"), ui->chkPadNumbers->isChecked());
    WriteRegBool(SegmoraKey, QStringLiteral("CutToTheSample"), chkExact->isChecked());
    FSplitPage->Save();
    FPlayer.reset();
    FSplitter.reset();
}

void TfrmMain::CreateTrackLine() {
    FTrackLine = new TTrackLine(ui->pnlTrackLine);
    FTrackLine->setObjectName(QStringLiteral("TrackLine"));
    auto* Fill = new QVBoxLayout(ui->pnlTrackLine);
    Fill->setContentsMargins(0, 0, 0, 0);
    Fill->addWidget(FTrackLine);
    // Above both pages, so that the parts' starts and the markers show
    // while the split page is set up; in the Tab order after the source.
    QWidget::setTabOrder(ui->btnSelectSourceFile, FTrackLine);
    QWidget::setTabOrder(FTrackLine, ui->PageControl->tabBar());
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
    FTrackLine->SetOnValidPos(
        [this](TTrackLine*, TShiftState, int64_t& Pos) { Pos = SnapToFrame(Pos); });
    FTrackLine->SetOnViewChange([this](TTrackLine*) {
        UpdatePositionLabel();
        UpdateSelectionLabels();
    });
    FTrackLine->SetOnMarkersChange([this](TTrackLine*) {
        if (FSplitPage->Mode() == TSplitMode::AtMarkers)
            UpdatePreview();
    });
    FTrackLine->SetOnPlayPause(
        [this](TTrackLine*) { Guarded([this] { FPlaying ? tbnPauseClick() : tbnPlayClick(); }); });
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
    ui->acnZoomIn->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)});
    ui->acnZoomOut->setShortcut(QKeySequence(Qt::Key_Minus));
    ui->acnZoomAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    ui->acnZoomSelection->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    ui->acnTypeStart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    ui->acnTypeEnd->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    ui->acnAddMarker->setShortcut(QKeySequence(Qt::Key_M));
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
    connect(CursorTimer, &QTimer::timeout, this, Handler(&TfrmMain::CursorTimerTimer));
    connect(ui->acnZoomIn, &QAction::triggered, this, Handler(&TfrmMain::acnZoomInExecute));
    connect(ui->acnZoomOut, &QAction::triggered, this, Handler(&TfrmMain::acnZoomOutExecute));
    connect(ui->acnZoomAll, &QAction::triggered, this, Handler(&TfrmMain::acnZoomAllExecute));
    connect(ui->acnZoomSelection, &QAction::triggered, this,
            Handler(&TfrmMain::acnZoomSelectionExecute));
    connect(ui->acnTypeStart, &QAction::triggered, this, [this] { TypeMark(true); });
    connect(ui->acnTypeEnd, &QAction::triggered, this, [this] { TypeMark(false); });
    connect(edtMarkTime, &QLineEdit::returnPressed, this, [this] { FinishTypedMark(true); });
    connect(edtMarkTime, &QLineEdit::editingFinished, this, [this] { FinishTypedMark(true); });
    connect(ui->sbnSplitByParts, &QAbstractButton::clicked, this,
            Handler(&TfrmMain::sbnSplitByPartsClick));
    connect(ui->PageControl, &QTabWidget::currentChanged, this,
            Handler(&TfrmMain::PageControlChange));
    connect(ui->acnAddMarker, &QAction::triggered, this, Handler(&TfrmMain::acnAddMarkerExecute));
    FSplitPage->SetOnChange([this] { UpdatePreview(); });
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
    for (QAction* Action : {ui->acnZoomIn, ui->acnZoomOut, ui->acnZoomAll, ui->acnTypeStart,
                            ui->acnTypeEnd, ui->acnAddMarker})
        Action->setEnabled(FFileOpened);
    const bool Selected = FTrackLine->SelStart() != -1 && FTrackLine->SelEnd() != -1;
    ui->acnPlaySelected->setEnabled(FFileOpened && Selected);
    ui->acnSaveSelected->setEnabled(FFileOpened && Selected);
    ui->acnZoomSelection->setEnabled(FFileOpened && Selected);
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

QString TfrmMain::PositionText(int64_t Ms) const {
    if (FTrackLine->ShowsMillis())
        return QString::fromStdString(FormatTimeMs(Ms, true));
    // A mark on a frame boundary rarely falls on a tenth: the nearest one
    // is shown, so that a typed 7.5 does not come back as 7.4.
    return QString::fromStdString(FormatTimeMs((Ms + 50) / 100 * 100, false));
}

void TfrmMain::UpdatePositionLabel() {
    QString Text = QStringLiteral("Position : not selected");
    if (FPlayer->IsOpen())
        Text = QStringLiteral("Position : ") + PositionText(FPlayer->Position() / RefTimePerMs) +
               QStringLiteral(" of ") + PositionText(FTrackLine->MaxPos());
    if (ui->lblPosition->text() != Text)
        ui->lblPosition->setText(Text);
}

void TfrmMain::UpdateSelectionLabels() {
    const auto Mark = [this](int64_t Value) {
        return Value == -1 ? QStringLiteral("not selected.") : PositionText(Value);
    };
    ui->lblStartSelection->setText(QStringLiteral("Start : ") + Mark(FTrackLine->SelStart()));
    ui->lblEndSelection->setText(QStringLiteral("End : ") + Mark(FTrackLine->SelEnd()));
}

void TfrmMain::OpenPlayer() {
    FPlayer->Open(ui->lblSourceFileName->text().toStdString());
    SetCurPos(0);
    // Rounded, so that an end mark at the end keeps the last frame.
    FTrackLine->SetMaxPos((FPlayer->Duration() + RefTimePerMs / 2) / RefTimePerMs);
    FTrackLine->SetFrameLength(static_cast<double>(FPlayer->FrameTicks()) /
                               static_cast<double>(MsToTicks(1)));
    FTrackLine->ShowAll();
    FTrackLine->SetEnabled(true);
    FTrackLine->update();
    Timer->start();
    CursorTimer->start();
    FPlaying = false;
    StartOverview();
}

void TfrmMain::ClosePlayer() {
    StopOverview();
    FPlayer->Close();
    FTrackLine->SetEnabled(false);
    FTrackLine->SetFollowCursor(false);
    Timer->stop();
    CursorTimer->stop();
    FPlaying = false;
}

void TfrmMain::StartOverview() {
    StopOverview();
    FOverviewBuilder = std::make_unique<TOverviewBuilder>(
        ui->lblSourceFileName->text().toStdString(), OverviewFolder());
    FOverviewBuilder->Start();
    // A kept picture is there at once.
    CursorTimerTimer();
}

void TfrmMain::StopOverview() {
    if (FTrackLine)
        FTrackLine->SetOverview(nullptr, 0);
    // The worker ends within a few seconds of audio; waiting for it here
    // keeps a closed file's decoding from running on.
    FOverviewBuilder.reset();
}

std::shared_ptr<const TLoudnessOverview> TfrmMain::Overview() const {
    return FOverviewBuilder ? FOverviewBuilder->Overview() : nullptr;
}

int64_t TfrmMain::FrameTicks() const {
    return FPlayer->IsOpen() ? FPlayer->FrameTicks() : 0;
}

void TfrmMain::CursorTimerTimer() {
    if (!FPlayer->IsOpen() || FShowingError)
        return;
    if (FOverviewBuilder) {
        // The builder's first picture is kept even when its decoding fails
        // later on.
        const std::shared_ptr<const TLoudnessOverview> Picture = FOverviewBuilder->Overview();
        if (FTrackLine->Overview())
            FTrackLine->OverviewChanged();
        else if (Picture)
            FTrackLine->SetOverview(Picture, MsToTicks(1), FPlayer->ClockSpan().Origin);
        if (FPreviewWaits && Picture && Picture->Complete())
            UpdatePreview();
    }
    TakeSizePreview();
    if (frmPlaySelected) {
        frmPlaySelected->FollowPlayer();
    } else if (FPlaying) {
        FTrackLine->UpdateCurPos(FPlayer->Position() / RefTimePerMs);
        UpdatePositionLabel();
    }
}

void TfrmMain::CloseSourceFile() {
    FFileOpened = false;
    FTrackLine->SetSelStart(-1);
    FTrackLine->SetSelEnd(-1);
    FTrackLine->ClearMarkers();
    FChapters.clear();
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
        try {
            FChapters =
                TSourceTag::FromFile(ui->lblSourceFileName->text().toStdString()).Chapters();
        } catch (const Exception&) {
            // A tag that can't be read has no chapters to split by.
            FChapters.clear();
        }
        UpdateControls();
        UpdatePreview();
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
        UpdatePreview();
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

void TfrmMain::RecordLayout() {
    // Controls left out keep their place at the top left.
    FPlacements = {
        {ui->gbxSource, {}, false, false, true, false},
        {ui->lblSourceFileName, {}, false, false, true, false},
        {ui->btnSelectSourceFile, {}, true, false, false, false},
        {ui->pnlTrackLine, {}, false, false, true, true},
        {ui->PageControl, {}, false, true, true, false},
        {ui->lblStartSelection, {}, true, false, false, false},
        {ui->lblEndSelection, {}, true, false, false, false},
        {ui->lblHint, {}, false, false, true, false},
        {ui->edtOutputFolder, {}, false, false, true, false},
        {ui->btnSelectOutputFolder, {}, true, false, false, false},
        {ui->edtOutputFilePrefix, {}, false, false, true, false},
        {ui->sbnSplitByParts, {}, true, false, false, false},
        {ui->chkPadNumbers, {}, false, false, true, false},
        {ui->edtCueFile, {}, false, false, true, false},
        {ui->btnSelectCueFile, {}, true, false, false, false},
        {ui->lblModeNote, {}, false, false, true, false},
        {ui->btnHelp, {}, false, true, false, false},
        {ui->btnAbout, {}, false, true, false, false},
        {ui->lblStatus, {}, false, true, true, false},
        {ui->btnClose, {}, true, true, false, false},
    };
    for (TPlacement& Place : FPlacements)
        Place.Base = Place.Control->geometry();
}

void TfrmMain::ApplyLayout() {
    const int Wider = std::max(0, width() - BaseWidth);
    const int Taller = std::max(0, height() - BaseHeight);
    // The page control first: the controls on its pages lie in its room.
    for (const TPlacement& Place : FPlacements) {
        QRect Rect = Place.Base;
        Rect.translate(Place.MoveX ? Wider : 0, Place.MoveY ? Taller : 0);
        Rect.setWidth(Rect.width() + (Place.GrowWidth ? Wider : 0));
        Rect.setHeight(Rect.height() + (Place.GrowHeight ? Taller : 0));
        Place.Control->setGeometry(Rect);
    }
    if (!ui->lblStatus->toolTip().isEmpty())
        ShowStatus(ui->lblStatus->toolTip());
}

void TfrmMain::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    ApplyLayout();
    if (edtMarkTime && edtMarkTime->isVisible())
        FinishTypedMark(false);
}

void TfrmMain::KeepOnScreen() {
    // The screen that shows most of it, else the primary one; a window
    // that does not fit there wholly is moved (and, if need be, shrunk)
    // into it.
    const QRect Frame = frameGeometry();
    QScreen* Best = QGuiApplication::primaryScreen();
    int64_t BestArea = 0;
    for (QScreen* Screen : QGuiApplication::screens()) {
        const QRect Shown = Screen->availableGeometry().intersected(Frame);
        const int64_t Area = static_cast<int64_t>(Shown.width()) * Shown.height();
        if (Area > BestArea) {
            Best = Screen;
            BestArea = Area;
        }
    }
    if (!Best)
        return;
    const QRect Room = Best->availableGeometry();
    if (Room.contains(Frame))
        return;
    const QSize Border = Frame.size() - size();
    resize(std::max(minimumWidth(), std::min(width(), Room.width() - Border.width())),
           std::max(minimumHeight(), std::min(height(), Room.height() - Border.height())));
    const QSize Outer = size() + Border;
    move(
        std::clamp(Frame.x(), Room.left(), std::max(Room.left(), Room.right() + 1 - Outer.width())),
        std::clamp(Frame.y(), Room.top(),
                   std::max(Room.top(), Room.bottom() + 1 - Outer.height())));
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
    FTrackLine->SetFollowCursor(false);
    UpdateControls();
}

void TfrmMain::tbnPlayClick() {
    if (!FPlayer->IsOpen())
        OpenPlayer();
    FPlayer->Play();
    FPlaying = true;
    FTrackLine->SetFollowCursor(true);
    UpdateControls();
}

void TfrmMain::tbnPauseClick() {
    if (FPlayer->IsOpen())
        FPlayer->Pause();
    FPlaying = false;
    FTrackLine->SetFollowCursor(false);
    UpdateControls();
}

void TfrmMain::TimerTimer() {
    if (!FPlayer->IsOpen() || FShowingError)
        return;
    if (frmPlaySelected) {
        frmPlaySelected->UpdateProgress();
        return;
    }
    FTrackLine->UpdateCurPos(FPlayer->Position() / RefTimePerMs);
    UpdatePositionLabel();
}

void TfrmMain::TrackLineChange() {
    FPlayer->Seek(FTrackLine->CurPos() * RefTimePerMs, -1);
    UpdatePositionLabel();
}

int64_t TfrmMain::SnapToFrame(int64_t Ms) const {
    return std::clamp<int64_t>(MarksOnFrames() ? SnapMsToFrame(Ms, FrameTicks()) : Ms,
                               FTrackLine->MinPos(), FTrackLine->MaxPos());
}

bool TfrmMain::MarksOnFrames() const {
    return !chkExact->isChecked();
}

int64_t TfrmMain::MarkPosition() const {
    // The cursor shows the last tick; what is heard is the player's
    // position now.
    if (FPlaying && FPlayer->IsOpen())
        return SnapToFrame(FPlayer->Position() / RefTimePerMs);
    return SnapToFrame(FTrackLine->CurPos());
}

void TfrmMain::acnZoomInExecute() {
    FTrackLine->ZoomAt(FTrackLine->CurPos(), 2.0);
}

void TfrmMain::acnZoomOutExecute() {
    FTrackLine->ZoomAt(FTrackLine->CurPos(), 0.5);
}

void TfrmMain::acnZoomAllExecute() {
    FTrackLine->ShowAll();
}

void TfrmMain::acnZoomSelectionExecute() {
    FTrackLine->ZoomToSelection();
}

void TfrmMain::TypeMark(bool Start) {
    if (!FFileOpened)
        return;
    QLabel* Label = Start ? ui->lblStartSelection : ui->lblEndSelection;
    const int64_t Mark = Start ? FTrackLine->SelStart() : FTrackLine->SelEnd();
    FTypingStart = Start;
    const int Indent = Label->fontMetrics().horizontalAdvance(Start ? QStringLiteral("Start : ")
                                                                    : QStringLiteral("End : "));
    edtMarkTime->setGeometry(Label->x() + Indent, Label->y() - 1,
                             std::max(60, Label->width() - Indent), Label->height() + 2);
    edtMarkTime->setText(
        QString::fromStdString(FormatTimeMs(Mark == -1 ? FTrackLine->CurPos() : Mark, true)));
    edtMarkTime->selectAll();
    edtMarkTime->show();
    edtMarkTime->setFocus();
}

void TfrmMain::FinishTypedMark(bool Apply) {
    if (!edtMarkTime->isVisible())
        return;
    const std::optional<int64_t> Typed = ParseTimeMs(edtMarkTime->text().trimmed().toStdString());
    // Hidden first: hiding takes the focus away, which finishes the
    // editing once more.
    edtMarkTime->hide();
    FTrackLine->setFocus();
    if (!Apply || !Typed)
        return;
    if (*Typed > FTrackLine->MaxPos()) {
        QApplication::beep();
        return;
    }
    const int64_t Mark = SnapToFrame(*Typed);
    if (FTypingStart)
        FTrackLine->SetSelStart(Mark);
    else
        FTrackLine->SetSelEnd(Mark);
    UpdateSelectionLabels();
    UpdateControls();
}

void TfrmMain::ShowStatus(const QString& Text) {
    ui->lblStatus->setToolTip(Text);
    ui->lblStatus->setText(
        ui->lblStatus->fontMetrics().elidedText(Text, Qt::ElideMiddle, ui->lblStatus->width()));
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
    FTrackLine->SetSelStart(MarkPosition());
    UpdateSelectionLabels();
    UpdateControls();
}

void TfrmMain::acnSelectEndExecute() {
    FTrackLine->SetSelEnd(MarkPosition());
    UpdateSelectionLabels();
    UpdateControls();
}

void TfrmMain::acnPlaySelectedExecute() {
    tbnPauseClick();
    ShowPlaySelected(*this);
}

void TfrmMain::acnSaveSelectedExecute() {
    tbnPauseClick();
    ShowStatus(QString());
    if (!frmSave || !ShowSaveDialog())
        return;
    FSplitter->SetSourceFile(ui->lblSourceFileName->text().toStdString());
    FSplitter->SetDestFile(frmSave->FileName().toStdString());
    FSplitter->SetSelStart(FTrackLine->SelStart());
    FSplitter->SetSelEnd(FTrackLine->SelEnd());
    FSplitter->SetID3Info(frmSave->ID3Info());
    FSplitter->SetTagFields(frmSave->TagFields());
    SetUpExact();
    if (FSplitter->Execute(true))
        ShowStatus(WithExactNote(
            QStringLiteral("Saved %1 (%2 s)")
                .arg(QFileInfo(frmSave->FileName()).fileName())
                .arg((FTrackLine->SelEnd() - FTrackLine->SelStart()) / 1000.0, 0, 'f', 2)));
}

void TfrmMain::SetUpExact() {
    FSplitter->SetExact(chkExact->isChecked());
}

void TfrmMain::ChangeClock() {
    const int64_t Before = FPlayer->ClockSpan().Origin;
    FPlayer->SetPlayedClock(chkExact->isChecked());
    if (!FPlayer->IsOpen())
        return;
    const int64_t Shift = Before - FPlayer->ClockSpan().Origin;
    if (Shift == 0)
        return;
    const int64_t Start = FTrackLine->SelStart();
    const int64_t End = FTrackLine->SelEnd();
    std::vector<int64_t> Markers = FTrackLine->Markers();
    const bool Zoomed = FTrackLine->Zoomed();
    const int64_t ViewStart = FTrackLine->ViewStart();
    const int64_t ViewEnd = FTrackLine->ViewEnd();
    FTrackLine->SetSelStart(-1);
    FTrackLine->SetSelEnd(-1);
    FTrackLine->SetMaxPos((FPlayer->Duration() + RefTimePerMs / 2) / RefTimePerMs);
    // Every mark and the view stay on their sound, the marks back on the
    // frames' clock on a frame boundary again.
    const auto Shifted = [&](int64_t Ms) {
        return TicksToNearestMs(std::max<int64_t>(MsToTicks(Ms) + Shift, 0));
    };
    const auto Moved = [&](int64_t Ms) { return SnapToFrame(Shifted(Ms)); };
    if (Zoomed)
        FTrackLine->SetView(Shifted(ViewStart), Shifted(ViewEnd));
    for (int64_t& Marker : Markers)
        Marker = Moved(Marker);
    FTrackLine->SetMarkers(std::move(Markers));
    if (Start >= 0)
        FTrackLine->SetSelStart(Moved(Start));
    if (End >= 0)
        FTrackLine->SetSelEnd(Moved(End));
    FTrackLine->UpdateCurPos(FPlayer->Position() / RefTimePerMs);
    if (const std::shared_ptr<const TLoudnessOverview> Picture = FTrackLine->Overview())
        FTrackLine->SetOverview(Picture, MsToTicks(1), FPlayer->ClockSpan().Origin);
    UpdateSelectionLabels();
    UpdatePositionLabel();
    UpdatePreview();
}

QString TfrmMain::WithExactNote(const QString& Done) const {
    if (FSplitter->ExactApplied())
        return Done;
    return Done + QStringLiteral(". ") +
           QString::fromStdString(TSegmora::ExactNotAppliedText(
               QFileInfo(ui->lblSourceFileName->text()).fileName().toStdString()));
}

void TfrmMain::sbnSplitByPartsClick() {
    tbnPauseClick();
    ShowStatus(QString());
    std::optional<TSplitPlan> Plan;
    try {
        Plan = CurrentPlan();
    } catch (const Exception& Error) {
        // The page says why; nothing is asked and nothing written.
        ShowStatus(QString::fromStdString(Error.what()));
        FPreviewFailed = true;
        return;
    }
    if (!CheckDestFolder(ui->edtOutputFolder->text()))
        return;
    FSplitter->SetSourceFile(ui->lblSourceFileName->text().toStdString());
    FSplitter->SetPartCount(ui->edtPartCount->Value());
    FSplitter->SetFolder(ui->edtOutputFolder->text().toStdString());
    FSplitter->SetPrefix(ui->edtOutputFilePrefix->text().toStdString());
    FSplitter->SetPadNumbers(ui->chkPadNumbers->isChecked());
    FSplitter->SetPlan(Plan);
    // The user's fields are the selection's: the parts carry the source's.
    FSplitter->SetTagFields({});
    const int32_t Total = FSplitter->PartTotal();
    std::vector<std::string> Names;
    for (int32_t Number = 1; Number <= Total; ++Number)
        Names.push_back(FSplitter->PartFileName(Number));
    if (!ConfirmOverwriteParts(Names))
        return;
    SetUpExact();
    if (FSplitter->Execute(false))
        ShowStatus(WithExactNote(QStringLiteral("Split into %1 parts in %2")
                                     .arg(Total)
                                     .arg(ui->edtOutputFolder->text())));
}

bool TfrmMain::ConfirmOverwriteParts(const std::vector<std::string>& Paths) {
    for (const std::string& Name : Paths) {
        const QString Path = QString::fromStdString(Name);
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

TPlanSource TfrmMain::PlanSource() const {
    TPlanSource Source;
    const int64_t Frame = FrameTicks();
    if (Frame > 0) {
        Source.Grid = {Frame, FPlayer->FrameCount()};
        const TClockSpan Clock = FPlayer->ClockSpan();
        Source.Grid.Origin = Clock.Origin;
        Source.Grid.Tail = Source.Grid.TotalTicks() - Clock.End;
    }
    const std::shared_ptr<const TLoudnessOverview> Loudness = Overview();
    if (Loudness && Loudness->Complete())
        Source.Loudness = Loudness.get();
    for (const int64_t Marker : FTrackLine->Markers())
        Source.MarkerTicks.push_back(MsToTicks(Marker));
    Source.Chapters = FChapters;
    return Source;
}

std::optional<TSplitPlan> TfrmMain::CurrentPlan() const {
    // The overview is held while the plan reads it.
    const std::shared_ptr<const TLoudnessOverview> Loudness = Overview();
    return MakeSplitPlan(FSplitPage->Settings(), PlanSource());
}

void TfrmMain::UpdatePreview() {
    FPreviewWaits = false;
    std::vector<int64_t> Starts;
    QString Failure;
    if (FFileOpened && FSplitPage->Mode() == TSplitMode::BySize) {
        // A walk of the source: the result comes in on a later tick.
        const std::string Source = ui->lblSourceFileName->text().toStdString();
        const int32_t Count = FSplitPage->Settings().Parts;
        FSizePreview =
            std::async(std::launch::async, [Source, Count, Clock = FPlayer->ClockSpan()] {
                TSegmora Sizes;
                Sizes.SetSourceFile(Source);
                Sizes.SetPartCount(Count);
                return PartStartsMs(Sizes.PlanBySize(), Clock);
            });
    } else if (FFileOpened) {
        const std::shared_ptr<const TLoudnessOverview> Loudness = Overview();
        if (FSplitPage->Mode() == TSplitMode::AtSilences && !(Loudness && Loudness->Complete())) {
            FPreviewWaits = true;
        } else {
            try {
                if (const std::optional<TSplitPlan> Plan = CurrentPlan())
                    Starts = PartStartsMs(*Plan, FPlayer->ClockSpan());
            } catch (const Exception& Error) {
                Failure = QString::fromStdString(Error.what());
            }
        }
    }
    FTrackLine->SetPartStarts(std::move(Starts));
    if (!Failure.isEmpty()) {
        ShowStatus(Failure);
        FPreviewFailed = true;
    } else if (FPreviewFailed) {
        ShowStatus(QString());
        FPreviewFailed = false;
    }
}

void TfrmMain::TakeSizePreview() {
    using namespace std::chrono_literals;
    if (!FSizePreview.valid() || FSizePreview.wait_for(0s) != std::future_status::ready)
        return;
    try {
        std::vector<int64_t> Starts = FSizePreview.get();
        if (FFileOpened && FSplitPage->Mode() == TSplitMode::BySize)
            FTrackLine->SetPartStarts(std::move(Starts));
    } catch (const std::exception&) {
        // The split itself will say what is wrong with the source.
    }
}

void TfrmMain::acnAddMarkerExecute() {
    if (FFileOpened)
        FTrackLine->AddMarker(MarkPosition());
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
    if (Watched == edtMarkTime && Event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape) {
        FinishTypedMark(false);
        return true;
    }
    // Qt asks the focused control first whether it wants a key before it
    // looks for a shortcut, and edit boxes want every printable key and
    // Home and End. The window's actions come first while they are enabled.
    if (Event->type() != QEvent::ShortcutOverride || !Watched->isWidgetType() ||
        static_cast<QWidget*>(Watched)->window() != this)
        return false;
    const auto* Key = static_cast<QKeyEvent*>(Event);
    // A box being typed in keeps its keys: digits, Home and End included.
    if (TakesText(Watched) && IsTextKey(Key))
        return false;
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
