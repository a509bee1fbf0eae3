#pragma once

// What every sub-command of segmora-cli shares: argument parsing, the usage
// error that ends the program with status 2, and Ctrl+C (or SIGTERM, SIGHUP)
// as a request to stop.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130; // 128 + SIGINT; SIGTERM gives 143, SIGHUP 129

// Bad usage: the message goes to standard error with the command's usage text.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "--help" or "-h" where an option may stand: the command's usage goes to
// standard output and the program ends with status 0.
class THelpRequest : public std::runtime_error {
public:
    THelpRequest() : std::runtime_error("help") {}
};

// Arguments of one sub-command: positionals, flags and options taking a value
// ("--name value" or "--name=value"). Anything unknown is a usage error. A
// help request anywhere an option may stand wins over any usage error; as an
// option's value ("--title -h") or behind "--" it is just text.
class TCommandArgs {
public:
    TCommandArgs(const std::vector<std::string>& Args, const std::set<std::string>& Flags,
                 const std::set<std::string>& Options);

    const std::vector<std::string>& Positional() const { return FPositional; }
    bool Has(const std::string& Flag) const { return FFlags.count(Flag) != 0; }
    std::optional<std::string> Value(const std::string& Option) const;
    // The positionals, which must number exactly Count.
    const std::vector<std::string>& ExpectPositional(size_t Count) const;

private:
    std::vector<std::string> FPositional;
    std::set<std::string> FFlags;
    std::map<std::string, std::string> FValues;
};

// A whole number within bounds, or a usage error naming the option.
int64_t ParseNumber(const std::string& Option, const std::string& Text, int64_t Low, int64_t High);
// The option's value; a usage error when it is missing or empty.
std::string Required(const TCommandArgs& Parsed, const std::string& Option);

// The time an option gives (see ParseTimeMs), in milliseconds; a usage
// error naming the option and showing the forms it takes otherwise, or
// saying that it lies beyond MaxTimeMs.
int64_t ParseTimeOption(const std::string& Option, const std::string& Text);
// The latest time an option may give: what 32 bits of tenths of a second
// always reached, about 6.8 years.
constexpr int64_t MaxTimeMs = int64_t{2'147'483'647} * 100;

// A sub-command: its name, its usage text and the function that runs it.
struct TCommand {
    const char* Name;
    const char* Summary;
    const char* Usage;
    int (*Run)(const std::vector<std::string>& Args);
};

// Ctrl+C, SIGTERM and SIGHUP set a flag instead of ending the program; jobs
// poll it, finish the frame in hand, close their file and stop.
void InstallInterruptHandler();
bool Interrupted();
// The signal that asked to stop (0 when none did), and the exit status that
// tells it: 128 + its number.
int InterruptSignal();
int InterruptedExitStatus();
// How EscapeControls reads its text.
enum class TTextKind {
    Latin1,  // a tag's field: every byte a character, 0x80 to 0x9F control codes too
    Name,    // a file name: UTF-8, and a byte that begins no character is escaped
    Message, // lines naming files: as a name, its line breaks kept
};
// Bytes that would drive a terminal (control codes, DEL, the C1 range) as
// \xNN, and a backslash doubled: text from a file, or a name someone else
// chose, made safe to print.
std::string EscapeControls(const std::string& Text, TTextKind Kind = TTextKind::Latin1);

// True when standard error is a terminal.
bool StderrIsTerminal();
