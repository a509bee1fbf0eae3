#pragma once

// The progress dialog of a long job (frmProgress): a text, a percentage bar,
// an estimate of the time remaining and a Cancel button. Shown modeless, it
// disables every other window of the program while it is visible; the job's
// own loop drives it through IJobProgress, and IsCancelled is where pending
// events are handled. TProgressFrontEnd runs the cutting jobs under it.

#include "JobProgress.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class frmProgress;
}

class TfrmProgress : public QDialog, public IJobProgress {
    Q_OBJECT

public:
    // The current time in seconds. Only differences are used; 0 is never
    // returned in practice and stands for "not taken".
    using TClock = std::function<double()>;

    explicit TfrmProgress(QWidget* Owner = nullptr);
    ~TfrmProgress() override;

    // Value is the share of the work done, in percent.
    void SetProgress(double Value) override;
    // Handles the pending events (at most every few milliseconds), then
    // tells whether Cancel was pressed or a close was requested.
    bool IsCancelled() override;

    bool ShowTime() const { return FShowTime; }
    void SetShowTime(bool Value);

    // The description of the operation (lblText).
    void SetText(const QString& Text);

    // Replaces the clock behind the estimate and the event pacing.
    void SetClock(TClock Clock);
    // A monotonic clock: the default.
    static double MonotonicSeconds();

protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    // Every close request of a dialog (close box, Alt+F4, Esc) ends here.
    void reject() override;

private:
    void FormCreate();
    void FormShow();
    void FormHide();
    void FormCloseQuery(bool& CanClose);
    void btnCancelClick();
    void UpdateTimeRemaining();
    double ReadClock();

    std::unique_ptr<Ui::frmProgress> ui;
    QList<QPointer<QWidget>> FWindowList;
    bool FCancelled = false;
    int32_t FPosition = 0;
    double FProgress = 0;
    bool FShowTime = true;
    double FStartTime = 0;
    double FStartProgress = 0;
    TClock FNow;
    double FLastEventTime = 0;
    bool FEventsDue = true;
    // The estimate's reading of the clock, until IsCancelled has used it.
    double FReading = 0;
    bool FReadingFresh = false;
};

// Runs the jobs of the cutting engine under a TfrmProgress owned by the main
// window, and shows a job's failure as a warning while the dialog is still
// on screen.
class TProgressFrontEnd : public IJobFrontEnd {
public:
    explicit TProgressFrontEnd(QWidget* Owner);

    std::unique_ptr<IJobProgress> BeginJob(const std::string& Caption,
                                           const std::string& Text) override;
    void ShowJobError(const std::string& Message) override;

    // The clock handed to every dialog this front end creates.
    void SetClock(TfrmProgress::TClock Clock) { FClock = std::move(Clock); }

private:
    QPointer<QWidget> FOwner;
    TfrmProgress::TClock FClock;
};
