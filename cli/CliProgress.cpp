#include "CliProgress.h"

#include "CliSupport.h"
#include "Errors.h"

#include <csignal>
#include <cstring>
#include <exception>
#include <string>

TCliProgress::TCliProgress(std::FILE* Out, bool Draw, const std::string& Caption,
                           TJobOutcome& Outcome)
    : FOut(Out), FDraw(Draw), FCaption(Caption), FOutcome(Outcome) {
    SetProgress(0);
}

TCliProgress::~TCliProgress() {
    // The jobs report the offset of the last frame, short of 100 even when
    // they ran to the end.
    if (!FOutcome.Cancelled && !FOutcome.Failed && std::uncaught_exceptions() == 0)
        SetProgress(100);
    if (FDraw && FRedraws > 0) {
        std::fputc('\n', FOut);
        std::fflush(FOut);
    }
}

void TCliProgress::SetProgress(double Value) {
    // The jobs pass whole numbers from 0 to 100, but a selection's end mark
    // behind the source's start can give anything, even infinity.
    int Percent = 0;
    if (Value >= 100)
        Percent = 100;
    else if (Value > 0)
        Percent = static_cast<int>(Value);
    if (Percent == FPercent)
        return;
    FPercent = Percent;
    Draw();
}

bool TCliProgress::IsCancelled() {
    if (Interrupted())
        FOutcome.Cancelled = true;
    return FOutcome.Cancelled;
}

void TCliProgress::Draw() {
    if (!FDraw)
        return;
    ++FRedraws;
    const int Filled = FPercent * BarWidth / 100;
    std::fprintf(FOut, "\r%s [%s%s] %3d%%", FCaption.c_str(), std::string(Filled, '#').c_str(),
                 std::string(BarWidth - Filled, ' ').c_str(), FPercent);
    std::fflush(FOut);
}

TCliFrontEnd::TCliFrontEnd(bool Quiet) : FDraw(!Quiet && StderrIsTerminal()) {}

std::unique_ptr<IJobProgress> TCliFrontEnd::BeginJob(const std::string& Caption,
                                                     const std::string&) {
    FJobError.reset();
    FOutcome = {};
    return std::make_unique<TCliProgress>(stderr, FDraw, Caption, FOutcome);
}

void TCliFrontEnd::ShowJobError(const std::string& Message) {
    // The bar is still up: it must not close at 100% over a failure.
    FJobError = Message;
    FOutcome.Failed = true;
}

int TCliFrontEnd::Finish() const {
    if (FJobError)
        throw Exception(*FJobError);
    if (JobCancelled()) {
        // "Interrupted" for Ctrl+C, the signal's own name for the others.
        const int Signal = InterruptSignal();
        const std::string Why =
            Signal == 0 || Signal == SIGINT ? std::string("Interrupted") : strsignal(Signal);
        std::fprintf(stderr, "%s; what was written so far is kept.\n", Why.c_str());
        return InterruptedExitStatus();
    }
    return ExitOk;
}
