#include "CliSupport.h"
#include "Commands.h"
#include "Errors.h"

#if defined(SEGMORA_PLAY_HELPER)
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#elif !defined(SEGMORA_NO_PLAYBACK)
#include "PlayAudio.h"
#include "TimeFormat.h"

#include <QCoreApplication>
#include <QObject>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>
#endif

const char* const PlayUsage =
    "Usage: segmora-cli play SOURCE [--start TIME] [--end TIME]\n"
    "Plays the file, or the part between the two times, until it ends or Ctrl+C.\n"
    "On a terminal it shows the position and the length once a second.\n\n"
    "TIME is MM:SS, HH:MM:SS or seconds, each with up to three decimals: 01:15.5,\n"
    "1:02:03.4, 75, 75.5, 10.237.\n\n"
    "  --start TIME  where to begin; the start of the file when not given\n"
    "  --end TIME    where to stop; the end of the file when not given\n";

#if defined(SEGMORA_NO_PLAYBACK)

int RunPlay(const std::vector<std::string>& Args) {
    // Parsed first, so that its help is still there.
    [[maybe_unused]] TCommandArgs Parsed(Args, {}, {"--start", "--end"});
    throw Exception("play is not available: this segmora-cli was built without playback");
}

#elif defined(SEGMORA_PLAY_HELPER)

namespace {

// The player program: beside this one in the build, else where the
// installed tree keeps it relative to this program. Never one found by an
// absolute path (that could be another version's), nor in the current
// folder when this program can't tell where it lies.
std::string FindPlayHelper() {
    std::string Self(4096, '\0');
    const ssize_t Length = readlink("/proc/self/exe", Self.data(), Self.size() - 1);
    if (Length <= 0)
        throw Exception(std::string("play is not available: cannot find ") + SEGMORA_PLAY_HELPER +
                        ": " + std::strerror(errno));
    Self.resize(static_cast<size_t>(Length));
    const std::string Folder = Self.substr(0, Self.rfind('/') + 1);
    const std::string Beside = Folder + SEGMORA_PLAY_HELPER;
    if (access(Beside.c_str(), X_OK) == 0)
        return Beside;
    return Folder + SEGMORA_BIN_TO_PLAY "/" SEGMORA_PLAY_HELPER;
}

} // namespace

int RunPlay(const std::vector<std::string>& Args) {
    // Checked here first, so that help and usage errors read as ever.
    [[maybe_unused]] TCommandArgs Parsed(Args, {}, {"--start", "--end"});
    const std::string Helper = FindPlayHelper();
    std::vector<std::string> Words = {"segmora-cli", "play"};
    Words.insert(Words.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (auto& Word : Words)
        Argv.push_back(Word.data());
    Argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(Helper.c_str(), Argv.data());
    throw Exception("play is not available: cannot start " + Helper + ": " + std::strerror(errno));
}

#else

namespace {

// Reference times (100 ns) in one tenth of a second, and in a millisecond.
constexpr int64_t RefPerTenth = 1'000'000;
constexpr int64_t RefPerMs = 10'000;

std::optional<int64_t> Mark(const TCommandArgs& Parsed, const std::string& Option) {
    const auto Text = Parsed.Value(Option);
    if (!Text)
        return std::nullopt;
    return ParseTimeOption(Option, *Text);
}

// Hears the player's notifications and answers each with CheckCompletion,
// as the main window does.
class TCompletionWatch : public QObject {
public:
    void Watch(TAudioPlayer* Player) { FPlayer = Player; }
    bool Completed() const { return FCompleted; }

    bool event(QEvent* Event) override {
        if (Event->type() != PlayerEventMessage)
            return QObject::event(Event);
        if (FPlayer != nullptr && FPlayer->CheckCompletion())
            FCompleted = true;
        return true;
    }

private:
    TAudioPlayer* FPlayer = nullptr;
    bool FCompleted = false;
};

void ShowPosition(const TAudioPlayer& Player, int64_t Duration) {
    try {
        std::fprintf(stderr, "\r%s / %s ",
                     FormatTime(static_cast<int32_t>(Player.Position() / RefPerTenth)).c_str(),
                     FormatTime(static_cast<int32_t>(Duration / RefPerTenth)).c_str());
        std::fflush(stderr);
    } catch (const Exception&) {
        // A position the pipeline cannot give this once is shown next time.
    }
}

} // namespace

int RunPlay(const std::vector<std::string>& Args) {
    // First, so that an early Ctrl+C also ends playback in order.
    InstallInterruptHandler();
    TCommandArgs Parsed(Args, {}, {"--start", "--end"});
    const std::string Source = Parsed.ExpectPositional(1)[0];
    const auto Start = Mark(Parsed, "--start");
    const auto End = Mark(Parsed, "--end");
    if (Start && End && *Start >= *End)
        throw TUsageError("the start must lie before the end");

    int Argc = 1;
    char Name[] = "segmora-cli";
    char* Argv[] = {Name, nullptr};
    QCoreApplication Application(Argc, Argv);
    // The watch outlives the player, whose pipeline posts to it.
    TCompletionWatch Watch;
    TAudioPlayer Player;
    Watch.Watch(&Player);
    Player.NotifyWindow(&Watch);
    Player.Open(Source);

    const int64_t Duration = Player.Duration();
    const int64_t LastMs = Duration / RefPerMs;
    if (Start && *Start > LastMs)
        throw Exception("The start lies past the end of the file (" + FormatTimeMs(LastMs, true) +
                        ")");
    if (Start || End)
        Player.Seek(Start.value_or(0) * RefPerMs, End && *End <= LastMs ? *End * RefPerMs : -1);

    const bool Show = StderrIsTerminal();
    auto NextShow = std::chrono::steady_clock::now();
    Player.Play();
    while (!Watch.Completed() && !Interrupted()) {
        QCoreApplication::sendPostedEvents();
        if (Show && std::chrono::steady_clock::now() >= NextShow) {
            ShowPosition(Player, Duration);
            NextShow += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Player.Pause();
    if (Show) {
        ShowPosition(Player, Duration);
        std::fputc('\n', stderr);
    }
    Player.Close();
    // Ctrl+C is how playback is meant to end; SIGTERM and SIGHUP still say
    // the program was stopped.
    return Interrupted() && InterruptSignal() != SIGINT ? InterruptedExitStatus() : ExitOk;
}

#endif
