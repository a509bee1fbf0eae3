#include "CliSupport.h"

#include "TimeFormat.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t InterruptFlag = 0;

void OnInterrupt(int Signal) {
    if (InterruptFlag == 0)
        InterruptFlag = Signal;
}
} // namespace

TCommandArgs::TCommandArgs(const std::vector<std::string>& Args, const std::set<std::string>& Flags,
                           const std::set<std::string>& Options) {
    bool OnlyPositional = false;
    bool Help = false;
    std::optional<TUsageError> FirstError;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& Arg = Args[I];
        if (OnlyPositional || Arg.size() < 2 || Arg[0] != '-') {
            FPositional.push_back(Arg);
            continue;
        }
        if (Arg == "--") {
            OnlyPositional = true;
            continue;
        }
        if (Arg == "--help" || Arg == "-h") {
            Help = true;
            continue;
        }
        std::string Name = Arg;
        std::optional<std::string> Inline;
        if (auto Eq = Arg.find('='); Arg.rfind("--", 0) == 0 && Eq != std::string::npos) {
            Name = Arg.substr(0, Eq);
            Inline = Arg.substr(Eq + 1);
        }
        if (Flags.count(Name) != 0 && !Inline) {
            FFlags.insert(Name);
        } else if (Options.count(Name) != 0) {
            if (Inline) {
                FValues[Name] = *Inline;
            } else if (I + 1 < Args.size()) {
                FValues[Name] = Args[++I];
            } else if (!FirstError) {
                FirstError = TUsageError("option " + Name + " needs a value");
            }
        } else if (!FirstError) {
            FirstError = TUsageError("unknown option " + Name);
        }
    }
    if (Help)
        throw THelpRequest();
    if (FirstError)
        throw *FirstError;
}

std::optional<std::string> TCommandArgs::Value(const std::string& Option) const {
    auto It = FValues.find(Option);
    if (It == FValues.end())
        return std::nullopt;
    return It->second;
}

const std::vector<std::string>& TCommandArgs::ExpectPositional(size_t Count) const {
    if (FPositional.size() < Count)
        throw TUsageError("missing arguments");
    if (FPositional.size() > Count)
        throw TUsageError("unexpected argument " + FPositional[Count]);
    return FPositional;
}

int64_t ParseTimeOption(const std::string& Option, const std::string& Text) {
    const auto Tenths = ParseTimeText(Text);
    if (!Tenths)
        throw TUsageError(Option + " takes a time such as 01:15.5, 1:02:03.4, 75 or 75.5, not '" +
                          Text + "'");
    return *Tenths;
}

void InstallInterruptHandler() {
    struct sigaction Action {};
    Action.sa_handler = OnInterrupt;
    sigemptyset(&Action.sa_mask);
    for (int Signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(Signal, &Action, nullptr);
}

bool Interrupted() {
    return InterruptFlag != 0;
}

int InterruptSignal() {
    return InterruptFlag;
}

int InterruptedExitStatus() {
    return 128 + (InterruptFlag != 0 ? InterruptFlag : SIGINT);
}

std::string EscapeControls(const std::string& Text) {
    std::string Result;
    for (char C : Text) {
        const auto Byte = static_cast<unsigned char>(C);
        if (Byte < 0x20 || Byte == 0x7F || (Byte >= 0x80 && Byte < 0xA0)) {
            char Hex[5];
            std::snprintf(Hex, sizeof Hex, "\\x%02X", Byte);
            Result += Hex;
        } else if (C == '\\') {
            Result += "\\\\";
        } else {
            Result += C;
        }
    }
    return Result;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}
