#pragma once

// The command line's front end for the cutting jobs: a percentage bar on
// standard error while a job runs, Ctrl+C as its Cancel button, and a job's
// failure kept for the command to report once the job is over.

#include "JobProgress.h"

#include <cstdio>
#include <optional>
#include <string>

// How a job ended, as far as its front end learns it.
struct TJobOutcome {
    bool Cancelled = false;
    bool Failed = false;
};

// One job's bar. Draws only when enabled, and only when the whole
// percentage changes; finishes its line when destroyed, at 100% when the job
// ran to its end.
class TCliProgress : public IJobProgress {
public:
    // Outcome is shared with the front end and outlives the bar.
    TCliProgress(std::FILE* Out, bool Draw, const std::string& Caption, TJobOutcome& Outcome);
    ~TCliProgress() override;
    TCliProgress(const TCliProgress&) = delete;
    TCliProgress& operator=(const TCliProgress&) = delete;

    void SetProgress(double Value) override;
    // True once Ctrl+C was pressed (or SIGTERM or SIGHUP came).
    bool IsCancelled() override;

    // How often the bar was drawn; lets tests see it is not drawn per frame.
    int Redraws() const { return FRedraws; }

    static constexpr int BarWidth = 40;

private:
    void Draw();

    std::FILE* FOut;
    bool FDraw;
    std::string FCaption;
    int FPercent = -1;
    int FRedraws = 0;
    TJobOutcome& FOutcome;
};

class TCliFrontEnd : public IJobFrontEnd {
public:
    // Quiet turns the bar off; so does a standard error that is no terminal.
    explicit TCliFrontEnd(bool Quiet);

    std::unique_ptr<IJobProgress> BeginJob(const std::string& Caption,
                                           const std::string& Text) override;
    void ShowJobError(const std::string& Message) override;

    // The failure of the last job, if it failed.
    const std::optional<std::string>& JobError() const { return FJobError; }
    // True when the last job was told to stop by Ctrl+C.
    bool JobCancelled() const { return FOutcome.Cancelled; }
    // The exit status for the job that just ran: raises the failure (which
    // the program prints with status 1), or gives 128 + the signal after a
    // stop request (130 Ctrl+C, 143 SIGTERM, 129 SIGHUP), else 0.
    int Finish() const;

private:
    bool FDraw;
    std::optional<std::string> FJobError;
    TJobOutcome FOutcome;
};
