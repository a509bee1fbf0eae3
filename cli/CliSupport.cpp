#include "CliSupport.h"

#include "Latin1Text.h"
#include "TimeFormat.h"

#include <algorithm>
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

int64_t ParseNumber(const std::string& Option, const std::string& Text, int64_t Low, int64_t High) {
    const TUsageError Refused(Option + " needs a number from " + std::to_string(Low) + " to " +
                              std::to_string(High));
    if (Text.empty() || Text.size() > 18)
        throw Refused;
    int64_t Value = 0;
    for (char C : Text) {
        if (C < '0' || C > '9')
            throw Refused;
        Value = Value * 10 + (C - '0');
    }
    if (Value < Low || Value > High)
        throw Refused;
    return Value;
}

std::string Required(const TCommandArgs& Parsed, const std::string& Option) {
    auto Value = Parsed.Value(Option);
    if (!Value || Value->empty())
        throw TUsageError(Option + " is required");
    return *Value;
}

int64_t ParseTimeOption(const std::string& Option, const std::string& Text) {
    const auto Ms = ParseTimeMs(Text);
    if (!Ms)
        throw TUsageError(Option +
                          " takes a time such as 01:15.5, 1:02:03.4, 75, 75.5 or 10.237, not '" +
                          Text + "'");
    // Kept far from where milliseconds, turned into the frames' ticks or
    // the player's units, would overflow.
    if (*Ms > MaxTimeMs)
        throw TUsageError(Option + " lies too far out: " + Text);
    return *Ms;
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

std::string EscapeControls(const std::string& Text, TTextKind Kind) {
    std::string Result;
    size_t At = 0;
    while (At < Text.size()) {
        // In UTF-8 a character of several bytes passes whole, or all its
        // bytes are escaped; a byte that begins none is escaped alone.
        const TTextChar Char = TextCharAt(Text, At, Kind != TTextKind::Latin1);
        const size_t Length = Char.Length;
        if (Char.Control() && !(Kind == TTextKind::Message && Char.Char == '\n')) {
            for (size_t I = At; I < At + Length; ++I) {
                char Hex[5];
                std::snprintf(Hex, sizeof Hex, "\\x%02X", static_cast<unsigned char>(Text[I]));
                Result += Hex;
            }
        } else if (Char.Char == '\\') {
            Result += "\\\\";
        } else {
            Result.append(Text, At, Length);
        }
        At += Length;
    }
    return Result;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}
