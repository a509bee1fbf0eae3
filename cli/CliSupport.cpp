#include "CliSupport.h"

#include <csignal>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t InterruptFlag = 0;

void OnInterrupt(int) {
    InterruptFlag = 1;
}
} // namespace

TCommandArgs::TCommandArgs(const std::vector<std::string>& Args, const std::set<std::string>& Flags,
                           const std::set<std::string>& Options) {
    bool OnlyPositional = false;
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
            } else {
                throw TUsageError("option " + Name + " needs a value");
            }
        } else {
            throw TUsageError("unknown option " + Name);
        }
    }
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

bool WantsHelp(const std::vector<std::string>& Args) {
    for (const auto& Arg : Args) {
        if (Arg == "--")
            return false;
        if (Arg == "--help" || Arg == "-h")
            return true;
    }
    return false;
}

void InstallInterruptHandler() {
    struct sigaction Action {};
    Action.sa_handler = OnInterrupt;
    sigemptyset(&Action.sa_mask);
    sigaction(SIGINT, &Action, nullptr);
}

bool Interrupted() {
    return InterruptFlag != 0;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}
