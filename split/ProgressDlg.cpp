#include "ProgressDlg.h"

#include "MsgUtils.h"
#include "ui_ProgressDlg.h"

#include <QApplication>
#include <QHideEvent>
#include <QShowEvent>

#include <cmath>
#include <limits>
#include <time.h>

namespace {

// Handling the event queue costs far more than a frame does, so it is done
// only when this much time (seconds) has passed since the last round: still
// often enough to repaint smoothly and to answer Cancel at once.
constexpr double EventInterval = 0.005;

int32_t TruncateToInt32(double Value) {
    if (std::isnan(Value))
        return 0;
    if (Value <= std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (Value >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(Value);
}

int64_t ClampToInt64(double Value) {
    constexpr double Limit = 9.2e18;
    if (std::isnan(Value))
        return 0;
    if (Value >= Limit)
        return static_cast<int64_t>(Limit);
    if (Value <= -Limit)
        return -static_cast<int64_t>(Limit);
    return static_cast<int64_t>(Value);
}

} // namespace

TfrmProgress::TfrmProgress(QWidget* Owner)
    : QDialog(Owner), ui(std::make_unique<Ui::frmProgress>()),
      FNow(&TfrmProgress::MonotonicSeconds) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
    FormCreate();
}

TfrmProgress::~TfrmProgress() {
    // QDialog hides the window only after this class is gone, too late for
    // FormHide to give the other windows back.
    if (isVisible())
        hide();
}

double TfrmProgress::MonotonicSeconds() {
    // The coarse clock is read from memory without a system call; its few
    // milliseconds of resolution are plenty for an estimate and the pacing.
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &Now);
    return static_cast<double>(Now.tv_sec) + static_cast<double>(Now.tv_nsec) * 1e-9;
}

void TfrmProgress::SetClock(TClock Clock) {
    FNow = std::move(Clock);
}

void TfrmProgress::SetText(const QString& Text) {
    ui->lblText->setText(Text);
}

void TfrmProgress::SetShowTime(bool Value) {
    FShowTime = Value;
    if (!Value)
        ui->lblTime->hide();
}

void TfrmProgress::SetProgress(double Value) {
    FProgress = Value;
    const int32_t Position = TruncateToInt32(Value);
    if (Position != FPosition) {
        ui->ProgressBar->setValue(Position);
        FPosition = Position;
    }
    if (FShowTime)
        UpdateTimeRemaining();
}

double TfrmProgress::ReadClock() {
    FReading = FNow();
    FReadingFresh = true;
    return FReading;
}

void TfrmProgress::UpdateTimeRemaining() {
    const double Now = ReadClock();
    if (FStartTime == 0)
        FStartTime = Now;
    if (FStartProgress == 0)
        FStartProgress = FProgress;
    // Times are in seconds rather than days: the same estimate, and a whole
    // or half second stays exact through the division.
    const double Elapsed = Now - FStartTime;
    if (Elapsed <= 3)
        return;
    if (FStartProgress == FProgress)
        return;

    const double Rate = (FProgress - FStartProgress) / Elapsed;
    const double Estimate = std::nearbyint((100 - FProgress) / Rate);
    if (Estimate < 0)
        SetShowTime(false);
    const int64_t Seconds = ClampToInt64(Estimate);

    QString Text;
    if (Seconds < 60)
        Text = QString::number(Seconds) + QStringLiteral(" seconds remaining");
    else if (Seconds < 10800)
        Text = QString::number(Seconds / 60) + QStringLiteral(" minutes remaining");
    else
        Text = QString::number(Seconds / 3600) + QStringLiteral(" hours remaining");
    ui->lblTime->setText(Text);

    FStartTime = Now;
    FStartProgress = FProgress;
}

bool TfrmProgress::IsCancelled() {
    // The job asks right after it set the progress: the time the estimate
    // just read is as good as a new one, and saves a clock read per frame.
    const double Now = FReadingFresh ? FReading : FNow();
    FReadingFresh = false;
    if (FEventsDue || Now - FLastEventTime >= EventInterval) {
        QCoreApplication::processEvents();
        FEventsDue = false;
        FLastEventTime = FNow();
    }
    return FCancelled;
}

void TfrmProgress::showEvent(QShowEvent* Event) {
    // A spontaneous show is the window manager restoring the window, not a
    // new operation.
    if (!Event->spontaneous())
        FormShow();
    QDialog::showEvent(Event);
}

void TfrmProgress::hideEvent(QHideEvent* Event) {
    // A spontaneous hide is a minimised window; the job still runs, so the
    // other windows stay disabled.
    if (!Event->spontaneous())
        FormHide();
    QDialog::hideEvent(Event);
}

void TfrmProgress::reject() {
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (CanClose)
        QDialog::reject();
}

void TfrmProgress::FormCreate() {
    ui->lblText->clear();
    ui->lblTime->clear();
    FShowTime = true;
    FStartTime = 0;
}

void TfrmProgress::FormShow() {
    FCancelled = false;
    FPosition = 0;
    FProgress = 0;
    FStartTime = 0;
    FStartProgress = 0;
    FEventsDue = true;

    FWindowList.clear();
    for (QWidget* Window : QApplication::topLevelWidgets()) {
        if (Window != this && Window->isVisible() && Window->isEnabled()) {
            Window->setEnabled(false);
            FWindowList.append(Window);
        }
    }
    // Disabling the owner disabled this dialog along with it.
    setEnabled(true);
}

void TfrmProgress::FormHide() {
    for (const QPointer<QWidget>& Window : FWindowList)
        if (Window)
            Window->setEnabled(true);
    FWindowList.clear();
}

void TfrmProgress::FormCloseQuery(bool& CanClose) {
    FCancelled = true;
    CanClose = true;
}

void TfrmProgress::btnCancelClick() {
    FCancelled = true;
}

TProgressFrontEnd::TProgressFrontEnd(QWidget* Owner) : FOwner(Owner) {}

std::unique_ptr<IJobProgress> TProgressFrontEnd::BeginJob(const std::string& Caption,
                                                          const std::string& Text) {
    auto Form = std::make_unique<TfrmProgress>(FOwner.data());
    if (FClock)
        Form->SetClock(FClock);
    Form->setWindowTitle(QString::fromStdString(Caption));
    Form->SetText(QString::fromStdString(Text));
    Form->show();
    return Form;
}

void TProgressFrontEnd::ShowJobError(const std::string& Message) {
    CenteredMessageDlg(QString::fromStdString(Message), mtWarning, mbOKOnly);
}
