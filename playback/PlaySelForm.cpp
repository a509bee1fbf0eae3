#include "PlaySelForm.h"

#include "MsgUtils.h"
#include "PlayAudio.h"
#include "Tenths.h"
#include "ToolbarImages.h"
#include "TrackLine.h"
#include "ui_PlaySelForm.h"

#include <QHBoxLayout>
#include <QPalette>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <exception>

TfrmPlaySelected* frmPlaySelected = nullptr;

namespace {

// After the end moved, playback resumes this many tenths before it.
constexpr int64_t LeadIn = 20;
// Playback resumes at the first timer tick more than this many seconds after
// the last accepted up-down click.
constexpr double AdjustDelay = 1.0;

double MonotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A failure inside a handler is shown as it stands and leaves the dialog as
// it was at that point; it must not unwind through Qt's event dispatch.
template <typename THandler> void Reporting(THandler Handler) {
    try {
        Handler();
    } catch (const std::exception& E) {
        CenteredMessageDlg(QString::fromUtf8(E.what()), mtError, mbOKOnly);
    }
}

void PaintButtonFace(QWidget* Widget, QPalette::ColorRole Role) {
    QPalette Palette = Widget->palette();
    Palette.setColor(Role, Palette.color(QPalette::Button));
    Widget->setPalette(Palette);
}

} // namespace

TfrmPlaySelected::TfrmPlaySelected(ISelectionHost& Host)
    : QDialog(Host.HostWindow()), ui(std::make_unique<Ui::frmPlaySelected>()), FHost(Host),
      FPlayer(&Host.Player()) {
    ui->setupUi(this);
    setFixedSize(size());
    PaintButtonFace(ui->edtStart, QPalette::Base);
    PaintButtonFace(ui->edtEnd, QPalette::Base);
    ui->tbnGoToStart->setIcon(ToolbarImage(imgGoStart));
    ShowPicture(imgPause);
    ui->ToolBar->resize(ui->ToolBar->sizeHint());

    connect(ui->tbnPlayPause, &QToolButton::clicked, this,
            [this] { Reporting([this] { tbnPlayPauseClick(); }); });
    connect(ui->tbnGoToStart, &QToolButton::clicked, this,
            [this] { Reporting([this] { tbnGoToStartClick(); }); });
    connect(ui->udnStart, &TUpDown::Click, this, [this](TUpDown::TUDBtnType Button) {
        Reporting([this, Button] { udnStartClick(Button); });
    });
    connect(ui->udnEnd, &TUpDown::Click, this, [this](TUpDown::TUDBtnType Button) {
        Reporting([this, Button] { udnEndClick(Button); });
    });
    // Both buttons close the dialog with the same result; nobody reads it.
    connect(ui->btnApply, &QPushButton::clicked, this, [this] {
        Reporting([this] { btnApplyClick(); });
        done(mrCancel);
    });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });

    FormCreate();
}

// Every way out (OK, Cancel, Esc, the close box, or the owner freeing a
// dialog it never showed) passes here.
TfrmPlaySelected::~TfrmPlaySelected() {
    Reporting([this] { FormDestroy(); });
}

void TfrmPlaySelected::FormCreate() {
    CreateTrackLine();
    ui->edtStart->setText(FormatTenths(FTrackLine->MinPos()));
    ui->edtEnd->setText(FormatTenths(FTrackLine->MaxPos()));
    FSavedPosition = FPlayer->Position();
    // The segment's end is the stop point, so playback halts there by itself.
    FPlayer->Seek(FTrackLine->MinPos() * RefTimePerTenth, FTrackLine->MaxPos() * RefTimePerTenth);
    StartPlaying();
}

void TfrmPlaySelected::FormDestroy() {
    // No restart may follow once the dialog is on its way out.
    FAdjustTime = 0;
    StopPlaying();
    // Back where the main window left the player, with the stream's end as
    // the stop point again.
    FPlayer->Seek(FSavedPosition, FPlayer->Duration());
}

void TfrmPlaySelected::CreateTrackLine() {
    PaintButtonFace(ui->pnlTrackLine, QPalette::Window);
    ui->pnlTrackLine->setAutoFillBackground(true);

    auto* Layout = new QHBoxLayout(ui->pnlTrackLine);
    Layout->setContentsMargins(0, 0, 0, 0);
    FTrackLine = new TTrackLine(ui->pnlTrackLine);
    Layout->addWidget(FTrackLine);
    FTrackLine->SetLeftMargin(3);
    FTrackLine->SetTopMargin(2);
    FTrackLine->SetRightMargin(3);
    FTrackLine->SetBottomMargin(2);

    const TTrackLine& Main = FHost.TrackLine();
    FTrackLine->SetMinPos(Main.SelStart());
    FTrackLine->SetMaxPos(Main.SelEnd());
    // Before OnChange is bound: the seek to the segment follows in FormCreate.
    FTrackLine->SetCurPos(FTrackLine->MinPos());
    FTrackLine->SetOnChange([this](TTrackLine*) { Reporting([this] { TrackLineChange(); }); });
    // Qt paints every widget double-buffered, so the repaints do not flicker.
}

void TfrmPlaySelected::TrackLineChange() {
    // -1 keeps the stop point at the segment's end.
    FPlayer->Seek(FTrackLine->CurPos() * RefTimePerTenth, -1);
}

void TfrmPlaySelected::StartPlaying() {
    FPlayer->Play();
    FPlaying = true;
    ShowPicture(imgPause);
    ui->tbnPlayPause->setToolTip(QStringLiteral("Pause"));
}

void TfrmPlaySelected::StopPlaying() {
    FPlayer->Pause();
    FPlaying = false;
    ShowPicture(imgPlay);
    ui->tbnPlayPause->setToolTip(QStringLiteral("Play"));
    setWindowTitle(QStringLiteral("Pause"));
}

void TfrmPlaySelected::ShowPicture(int Index) {
    ui->tbnPlayPause->setIcon(ToolbarImage(Index));
}

void TfrmPlaySelected::UpdateProgress() {
    const int64_t Position = FPlayer->Position() / RefTimePerTenth;
    FTrackLine->UpdateCurPos(Position);
    if (FAdjustTime != 0 && MonotonicSeconds() - FAdjustTime > AdjustDelay) {
        StartPlaying();
        FAdjustTime = 0;
    }
    // The position in the whole stream, not within the segment.
    if (FPlaying)
        setWindowTitle(QStringLiteral("Playing [") + FormatTenths(Position) + QStringLiteral("]"));
}

void TfrmPlaySelected::PlaybackComplete() {
    StopPlaying();
}

void TfrmPlaySelected::tbnPlayPauseClick() {
    if (FPlaying)
        StopPlaying();
    else
        StartPlaying();
}

void TfrmPlaySelected::tbnGoToStartClick() {
    FTrackLine->SetCurPos(FTrackLine->MinPos());
}

void TfrmPlaySelected::udnStartClick(TUpDown::TUDBtnType Button) {
    const int64_t NewStart = FTrackLine->MinPos() + (Button == TUpDown::btNext ? 1 : -1);
    if (NewStart < 0 || NewStart > FTrackLine->MaxPos())
        return;
    ui->btnApply->setEnabled(true);
    StopPlaying();
    FTrackLine->SetMinPos(NewStart);
    FTrackLine->update();
    ui->edtStart->setText(FormatTenths(NewStart));
    FPlayer->Seek(NewStart * RefTimePerTenth, -1);
    FAdjustTime = MonotonicSeconds();
}

void TfrmPlaySelected::udnEndClick(TUpDown::TUDBtnType Button) {
    const int64_t NewEnd = FTrackLine->MaxPos() + (Button == TUpDown::btNext ? 1 : -1);
    if (NewEnd < FTrackLine->MinPos() || NewEnd > FHost.TrackLine().MaxPos())
        return;
    ui->btnApply->setEnabled(true);
    StopPlaying();
    FTrackLine->SetMaxPos(NewEnd);
    FTrackLine->update();
    ui->edtEnd->setText(FormatTenths(NewEnd));
    // The lead-in is counted back from the end alone, so it may begin before
    // the segment, or before the stream, where it begins at 0.
    const int64_t LeadInStart = std::max<int64_t>(NewEnd - LeadIn, 0);
    FPlayer->Seek(LeadInStart * RefTimePerTenth, NewEnd * RefTimePerTenth);
    FAdjustTime = MonotonicSeconds();
}

void TfrmPlaySelected::btnApplyClick() {
    // Start first: a start raised to meet the end then leaves only the end.
    TTrackLine& Main = FHost.TrackLine();
    Main.SetSelStart(FTrackLine->MinPos());
    Main.SetSelEnd(FTrackLine->MaxPos());
    FHost.UpdateSelectionLabels();
}

void ShowPlaySelected(ISelectionHost& Host) {
    // Declared before the dialog, so it runs after the dialog is freed,
    // however this function is left.
    struct TForget {
        ~TForget() { frmPlaySelected = nullptr; }
    } Forget;
    const auto Dialog = std::make_unique<TfrmPlaySelected>(Host);
    frmPlaySelected = Dialog.get();
    Dialog->exec();
}
