#include "PlaySelForm.h"

#include "FrameClock.h"
#include "MsgUtils.h"
#include "PlayAudio.h"
#include "TimeFormat.h"
#include "ToolbarImages.h"
#include "TrackLine.h"
#include "ui_PlaySelForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPalette>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <exception>

TfrmPlaySelected* frmPlaySelected = nullptr;

namespace {

// The player counts reference time, units of 100 ns.
constexpr int64_t RefTimePerMs = 10'000;
constexpr int64_t TicksPerMs = TicksPerSecond / 1000;
// An arrow moves an end by a tenth of a second.
constexpr int64_t ArrowStep = 100;
// After the end moved, playback resumes this long before it.
constexpr int64_t LeadIn = 2000;
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

// A mark on a whole tenth reads as it always did; others to the millisecond.
QString FormatMark(int64_t Ms) {
    return QString::fromStdString(FormatTimeMs(Ms, Ms % 100 != 0));
}

} // namespace

TfrmPlaySelected::TfrmPlaySelected(ISelectionHost& Host)
    : QDialog(Host.HostWindow()), ui(std::make_unique<Ui::frmPlaySelected>()), FHost(Host),
      FPlayer(&Host.Player()) {
    ui->setupUi(this);
    setFixedSize(size());
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
    // Return reaches the boxes through eventFilter; leaving a box takes
    // what was typed as well.
    for (QLineEdit* Edit : {ui->edtStart, ui->edtEnd}) {
        connect(Edit, &QLineEdit::editingFinished, this,
                [this, Edit] { Reporting([this, Edit] { TimeTyped(Edit); }); });
        Edit->installEventFilter(this);
    }

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
    ui->edtStart->setText(FormatMark(FTrackLine->MinPos()));
    ui->edtEnd->setText(FormatMark(FTrackLine->MaxPos()));
    FSavedPosition = FPlayer->Position();
    // The segment's end is the stop point, so playback halts there by itself.
    FPlayer->Seek(FTrackLine->MinPos() * RefTimePerMs, FTrackLine->MaxPos() * RefTimePerMs);
    StartPlaying();
}

void TfrmPlaySelected::FormDestroy() {
    // A box losing the focus as the dialog goes must not move an end.
    ui->edtStart->disconnect(this);
    ui->edtEnd->disconnect(this);
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
    FTrackLine->SetOnPlayPause([this](TTrackLine*) { Reporting([this] { tbnPlayPauseClick(); }); });
    ShowOverview();
    // Space and the arrows work the track line from the start.
    setTabOrder(ui->edtEnd, FTrackLine);
    FTrackLine->setFocus();
    // Qt paints every widget double-buffered, so the repaints do not flicker.
}

void TfrmPlaySelected::ShowOverview() {
    const int64_t Frame = FHost.FrameTicks();
    FTrackLine->SetFrameLength(static_cast<double>(Frame) / TicksPerMs);
    std::shared_ptr<const TLoudnessOverview> Overview = FHost.Overview();
    if (Overview != FTrackLine->Overview())
        FTrackLine->SetOverview(std::move(Overview), TicksPerMs, FHost.Player().ClockSpan().Origin);
    else
        FTrackLine->OverviewChanged();
}

void TfrmPlaySelected::TrackLineChange() {
    // -1 keeps the stop point at the segment's end.
    FPlayer->Seek(FTrackLine->CurPos() * RefTimePerMs, -1);
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
    const int64_t Position = FPlayer->Position() / RefTimePerMs;
    FTrackLine->UpdateCurPos(Position);
    // The host may still be decoding the picture.
    ShowOverview();
    if (FAdjustTime != 0 && MonotonicSeconds() - FAdjustTime > AdjustDelay) {
        StartPlaying();
        FAdjustTime = 0;
    }
    // The position in the whole stream, not within the segment.
    if (FPlaying)
        setWindowTitle(QStringLiteral("Playing [") +
                       QString::fromStdString(FormatTimeMs(Position, FTrackLine->ShowsMillis())) +
                       QStringLiteral("]"));
}

void TfrmPlaySelected::FollowPlayer() {
    if (!FPlaying)
        return;
    FTrackLine->UpdateCurPos(FPlayer->Position() / RefTimePerMs);
    ShowOverview();
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
    const int64_t NewStart =
        FTrackLine->MinPos() + (Button == TUpDown::btNext ? ArrowStep : -ArrowStep);
    if (NewStart >= 0 && NewStart <= FTrackLine->MaxPos())
        MoveStart(NewStart);
}

void TfrmPlaySelected::udnEndClick(TUpDown::TUDBtnType Button) {
    const int64_t NewEnd =
        FTrackLine->MaxPos() + (Button == TUpDown::btNext ? ArrowStep : -ArrowStep);
    if (NewEnd >= FTrackLine->MinPos() && NewEnd <= FHost.TrackLine().MaxPos())
        MoveEnd(NewEnd);
}

void TfrmPlaySelected::MoveStart(int64_t NewStart) {
    ui->btnApply->setEnabled(true);
    StopPlaying();
    FTrackLine->SetMinPos(NewStart);
    FTrackLine->update();
    ui->edtStart->setText(FormatMark(NewStart));
    FPlayer->Seek(NewStart * RefTimePerMs, -1);
    FAdjustTime = MonotonicSeconds();
}

void TfrmPlaySelected::MoveEnd(int64_t NewEnd) {
    ui->btnApply->setEnabled(true);
    StopPlaying();
    FTrackLine->SetMaxPos(NewEnd);
    FTrackLine->update();
    ui->edtEnd->setText(FormatMark(NewEnd));
    // The lead-in is counted back from the end alone, so it may begin before
    // the segment, or before the stream, where it begins at 0.
    const int64_t LeadInStart = std::max<int64_t>(NewEnd - LeadIn, 0);
    FPlayer->Seek(LeadInStart * RefTimePerMs, NewEnd * RefTimePerMs);
    FAdjustTime = MonotonicSeconds();
}

void TfrmPlaySelected::TimeTyped(QLineEdit* Edit) {
    const bool IsStart = Edit == ui->edtStart;
    const int64_t Current = IsStart ? FTrackLine->MinPos() : FTrackLine->MaxPos();
    const int64_t Low = IsStart ? 0 : FTrackLine->MinPos();
    const int64_t High = IsStart ? FTrackLine->MaxPos() : FHost.TrackLine().MaxPos();
    const std::optional<int64_t> Typed = ParseTimeMs(Edit->text().trimmed().toStdString());
    if (Typed && *Typed >= Low && *Typed <= High) {
        // Onto a frame boundary, as the main window's marks; the bounds are
        // boundaries themselves, so the nearest one may not lie past them.
        const int64_t Ms = std::clamp(
            FHost.MarksOnFrames() ? SnapMsToFrame(*Typed, FHost.FrameTicks()) : *Typed, Low, High);
        if (Ms != Current) {
            IsStart ? MoveStart(Ms) : MoveEnd(Ms);
            return;
        }
    } else if (Edit->text() != FormatMark(Current)) {
        QApplication::beep();
    }
    Edit->setText(FormatMark(Current));
}

bool TfrmPlaySelected::eventFilter(QObject* Watched, QEvent* Event) {
    auto* Edit = qobject_cast<QLineEdit*>(Watched);
    if ((Edit == ui->edtStart || Edit == ui->edtEnd) && Event->type() == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent*>(Event)->key();
        if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
            Reporting([this, Edit] { TimeTyped(Edit); });
            return true;
        }
    }
    return QDialog::eventFilter(Watched, Event);
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
