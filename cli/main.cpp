// segmora-cli: the cutting engine from a terminal or a script.

#include "CliSupport.h"
#include "Commands.h"
#include "Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

const TCommand Commands[] = {
    {"info", "show a file's first frame, frame count and play time", InfoUsage, RunInfo},
    {"split", "cut the whole file into parts: by size, time, silences, marks, cue, chapters",
     SplitUsage, RunSplit},
    {"cut", "save the frames between two times as a new file", CutUsage, RunCut},
    {"prepare", "copy only the frames of a file into a new file", PrepareUsage, RunPrepare},
    {"tag", "show or write a file's ID3v1 tag", TagUsage, RunTag},
    {"play", "play a file, or the part between two times", PlayUsage, RunPlay},
};

void PrintProgramUsage(std::ostream& Out) {
    Out << "Usage: segmora-cli COMMAND [ARGS...]\n"
           "Cuts MP3 files frame by frame, without decoding or re-encoding.\n\n"
           "Commands:\n";
    for (const auto& Command : Commands)
        Out << "  " << Command.Name << std::string(10 - std::string(Command.Name).size(), ' ')
            << Command.Summary << "\n";
    Out << "\n  -h, --help  show this text and exit\n"
           "  --version   show the version and exit\n"
           "\nRun 'segmora-cli COMMAND --help' for a command's options.\n\n"
           "Exit status: 0 done, 1 failed (the reason on standard error), 2 bad usage;\n"
           "130, 143 or 129 when Ctrl+C, SIGTERM or SIGHUP stopped a job: the frame in\n"
           "hand is finished and every output closed (a part with its tag), so what\n"
           "was written so far stays, ending on a whole frame.\n";
}

// Output that never reached its file (a full disk, a closed pipe) makes the
// command a failure, whatever it did besides: a script must not take the
// lost lines for all there was.
int CheckedStdout(int Status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return Status;
    const int Code = errno;
    std::cerr << "segmora-cli: cannot write to standard output"
              << (Code != 0 ? std::string(": ") + std::strerror(Code) : std::string()) << "\n";
    return ExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> Args(argv + 1, argv + argc);
    if (Args.empty()) {
        PrintProgramUsage(std::cerr);
        return ExitUsage;
    }
    if (Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help") {
        PrintProgramUsage(std::cout);
        return CheckedStdout(ExitOk);
    }
    if (Args[0] == "--version") {
        std::cout << "segmora-cli " << SEGMORA_VERSION << "\n";
        return CheckedStdout(ExitOk);
    }
    for (const auto& Command : Commands) {
        if (Args[0] != Command.Name)
            continue;
        std::vector<std::string> Rest(Args.begin() + 1, Args.end());
        try {
            return CheckedStdout(Command.Run(Rest));
        } catch (const THelpRequest&) {
            std::cout << Command.Usage;
            return CheckedStdout(ExitOk);
        } catch (const TUsageError& E) {
            std::cerr << "segmora-cli " << Command.Name << ": "
                      << EscapeControls(E.what(), TTextKind::Message) << "\n"
                      << Command.Usage;
            return ExitUsage;
        } catch (const std::exception& E) {
            // Every failure leaves here: the file names it holds, whoever
            // built it, must not drive the terminal.
            std::cout.flush();
            std::cerr << EscapeControls(E.what(), TTextKind::Message) << "\n";
            return ExitFailure;
        }
    }
    std::cerr << "segmora-cli: unknown command '" << EscapeControls(Args[0], TTextKind::Name)
              << "'\n";
    PrintProgramUsage(std::cerr);
    return ExitUsage;
}
