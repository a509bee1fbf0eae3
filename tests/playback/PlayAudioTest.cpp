#include "PlayAudio.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FrameClock.h"
#include "FrameFiles.h"
#include "MP3Utils.h"
#include "TestFiles.h"
#include "ThrownMessage.h"

#include <QCoreApplication>
#include <QObject>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Real playback of the fixtures in real time: without a sound device the
// pipeline's audio sink falls back to a fake one that keeps time.

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr int64_t Ms(int64_t Milliseconds) {
    return Milliseconds * 10'000;
}

// Slack for timing under a loaded machine; positions themselves are exact
// to within a frame (26 ms).
constexpr int64_t Frame = Ms(30);

// GStreamer's leaks tracer keeps count of the pipelines alive. It has to be
// chosen before GStreamer starts, which the player does at its first Open;
// a choice made outside the tests is left alone.
const bool PipelinesCounted = setenv("GST_TRACERS", "leaks(filters=\"GstPlayBin\")", 0) == 0;

// The pipelines alive now, or -1 when the leaks tracer is not running.
int LivePipelines() {
    if (!PipelinesCounted)
        return -1;
    GList* Tracers = gst_tracing_get_active_tracers();
    int Count = -1;
    for (GList* Item = Tracers; Item != nullptr; Item = Item->next) {
        if (Count >= 0 || g_strcmp0(G_OBJECT_TYPE_NAME(Item->data), "GstLeaksTracer") != 0)
            continue;
        GstStructure* Info = nullptr;
        g_signal_emit_by_name(Item->data, "get-live-objects", &Info);
        if (Info == nullptr)
            continue;
        const GValue* Live = gst_structure_get_value(Info, "live-objects-list");
        Count = Live != nullptr ? static_cast<int>(gst_value_list_get_size(Live)) : 0;
        gst_structure_free(Info);
    }
    g_list_free_full(Tracers, gst_object_unref);
    return Count;
}

void EnsureApplication() {
    static int Argc = 1;
    static char Name[] = "playback_tests";
    static char* Argv[] = {Name, nullptr};
    static QCoreApplication Application(Argc, Argv);
}

// Answers each notification with one CheckCompletion, as the main window
// does; without a player it only counts.
class TNotifyTarget : public QObject {
public:
    void Answer(TAudioPlayer* Player) { FPlayer = Player; }

    bool event(QEvent* Event) override {
        if (Event->type() != PlayerEventMessage)
            return QObject::event(Event);
        ++Notifications;
        if (FPlayer != nullptr && FPlayer->CheckCompletion())
            ++Completions;
        return true;
    }

    int Notifications = 0;
    int Completions = 0;

private:
    TAudioPlayer* FPlayer = nullptr;
};

// Delivers posted events until Done holds or Limit has passed.
template <typename TCondition>
bool RunEventsUntil(TCondition Done, std::chrono::milliseconds Limit) {
    const auto Deadline = TClock::now() + Limit;
    while (!Done()) {
        if (TClock::now() >= Deadline)
            return false;
        QCoreApplication::sendPostedEvents();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void RunEventsFor(std::chrono::milliseconds Time) {
    RunEventsUntil([] { return false; }, Time);
}

double SecondsSince(TClock::time_point Start) {
    return std::chrono::duration<double>(TClock::now() - Start).count();
}

std::string ReadText(const std::string& Path) {
    const auto Bytes = ReadFileBytes(Path);
    return {Bytes.begin(), Bytes.end()};
}

const std::string Sample = FixturePath("cbr-128-info.mp3");

class AudioPlayer : public ::testing::Test {
protected:
    AudioPlayer() {
        EnsureApplication();
        Target.Answer(&Player);
        Player.NotifyWindow(&Target);
    }

    // Opens the sample and plays its last 200 ms and the end for 800 ms.
    void PlayPastTheEnd() {
        Player.Open(Sample);
        Player.Seek(Ms(2800), -1);
        Player.Play();
        RunEventsFor(800ms);
    }

    // The target outlives the player, as the main window outlives its own.
    TNotifyTarget Target;
    TAudioPlayer Player;
};

} // namespace

TEST(PlayerErrorText, GivesTheTableTextsAndHexForOtherCodes) {
    EXPECT_EQ(ErrorText(VFW_S_PARTIAL_RENDER),
              "Some of the streams in this movie are in an unsupported format.");
    EXPECT_EQ(ErrorText(VFW_S_AUDIO_NOT_RENDERED),
              "Cannot play back the audio stream: could not find a suitable renderer.");
    EXPECT_EQ(ErrorText(E_FAIL), "Failure.");
    EXPECT_EQ(ErrorText(E_INVALIDARG), "Argument is invalid.");
    EXPECT_EQ(ErrorText(VFW_E_NOT_FOUND), "An object or name was not found.");
    EXPECT_EQ(ErrorText(VFW_E_UNKNOWN_FILE_TYPE), "The media type of this file is not recognized.");
    EXPECT_EQ(ErrorText(VFW_E_UNSUPPORTED_STREAM),
              "Cannot play back the file: the format is not supported.");
    EXPECT_EQ(ErrorText(PlayerCode(0x80040256)), "Unknown error: 80040256");
    EXPECT_EQ(ErrorText(PlayerCode(0x8004ABCD)), "Unknown error: 8004ABCD");
    EXPECT_EQ(ErrorText(S_OK), "Unknown error: 0");
    EXPECT_EQ(ErrorText(PlayerCode(0x0004022C)), "Unknown error: 4022C");
}

TEST_F(AudioPlayer, DurationOfEachFixtureIsTheSumOfItsFrames) {
    std::ifstream Table(FixturePath("fixtures.tsv"));
    std::string Line;
    std::getline(Table, Line);
    int Files = 0;
    while (std::getline(Table, Line)) {
        std::stringstream Row(Line);
        std::string Name, Size, FirstOffset, Frames, LastOffset, FramesEnd, Seconds, Packets;
        int InfoFrame = 0;
        Row >> Name >> Size >> FirstOffset >> Frames >> LastOffset >> FramesEnd >> Seconds >>
            Packets >> InfoFrame;
        SCOPED_TRACE(Name);
        // Every frame of a fixture plays as long; the information frame not
        // at all.
        const double OneFrame = std::stod(Seconds) * 1e7 / std::stod(Frames);
        const double Expected = std::stod(Seconds) * 1e7 - InfoFrame * OneFrame;
        Player.Open(FixturePath(Name));
        ASSERT_TRUE(Player.IsOpen());
        EXPECT_NEAR(static_cast<double>(Player.Duration()), Expected, 1);
        Player.Close();
        ++Files;
    }
    EXPECT_GE(Files, 9);
}

TEST_F(AudioPlayer, PositionAdvancesWhilePlayingAndHoldsWhilePausedOrStopped) {
    Player.Open(Sample);
    EXPECT_EQ(Player.Position(), 0);

    Player.Play();
    RunEventsFor(600ms);
    Player.Pause();
    const int64_t Paused = Player.Position();
    EXPECT_GT(Paused, Ms(400));
    EXPECT_LT(Paused, Ms(1200));
    RunEventsFor(300ms);
    EXPECT_EQ(Player.Position(), Paused);

    Player.Play();
    RunEventsFor(300ms);
    Player.Stop();
    const int64_t Stopped = Player.Position();
    EXPECT_GT(Stopped, Paused + Ms(150));
    RunEventsFor(300ms);
    EXPECT_EQ(Player.Position(), Stopped);
    EXPECT_EQ(Target.Completions, 0);
}

TEST_F(AudioPlayer, SeekWithAStopPointCompletesOnceThereAndStays) {
    Player.Open(Sample);
    Player.Seek(Ms(1000), Ms(1500));
    EXPECT_NEAR(Player.Position(), Ms(1000), Frame);

    const auto Start = TClock::now();
    Player.Play();
    ASSERT_TRUE(RunEventsUntil([&] { return Target.Completions > 0; }, 3s));
    const double Took = SecondsSince(Start);
    EXPECT_GT(Took, 0.35);
    EXPECT_LT(Took, 1.5);
    EXPECT_NEAR(Player.Position(), Ms(1500), Frame);

    RunEventsFor(400ms);
    EXPECT_EQ(Target.Completions, 1);
    EXPECT_NEAR(Player.Position(), Ms(1500), Frame);
}

TEST_F(AudioPlayer, SeekWithoutAStopPointKeepsTheEarlierOne) {
    Player.Open(Sample);
    Player.Seek(Ms(500), Ms(1000));
    Player.Seek(Ms(700), -1);
    EXPECT_NEAR(Player.Position(), Ms(700), Frame);

    const auto Start = TClock::now();
    Player.Play();
    ASSERT_TRUE(RunEventsUntil([&] { return Target.Completions > 0; }, 3s));
    EXPECT_LT(SecondsSince(Start), 1.0);
    EXPECT_NEAR(Player.Position(), Ms(1000), Frame);
}

TEST_F(AudioPlayer, EndOfTheFileCompletesAndThePositionStaysAtTheEnd) {
    Player.Open(Sample);
    Player.Seek(Ms(2600), Player.Duration());
    Player.Play();
    ASSERT_TRUE(RunEventsUntil([&] { return Target.Completions > 0; }, 3s));
    const int64_t End = Player.Position();
    EXPECT_GT(End, Ms(2900));
    EXPECT_LE(End, Player.Duration());
    RunEventsFor(300ms);
    EXPECT_EQ(Player.Position(), End);
    EXPECT_EQ(Target.Completions, 1);
}

TEST_F(AudioPlayer, SeekRefusesAStopBeforeThePositionAndTakesANegativeStartAsZero) {
    Player.Open(Sample);
    EXPECT_EQ(ThrownMessage([&] { Player.Seek(Ms(2000), Ms(1000)); }), "Unable to set position");
    Player.Seek(Ms(500), Ms(1000));
    EXPECT_EQ(ThrownMessage([&] { Player.Seek(Ms(1500), -1); }), "Unable to set position");
    EXPECT_NEAR(Player.Position(), Ms(500), Frame);

    Player.Seek(Ms(-2000), Ms(300));
    EXPECT_EQ(Player.Position(), 0);
    Player.Play();
    ASSERT_TRUE(RunEventsUntil([&] { return Target.Completions > 0; }, 3s));
    EXPECT_NEAR(Player.Position(), Ms(300), Frame);
}

TEST_F(AudioPlayer, EveryOtherMessageAnswersFalseOneMessagePerCall) {
    // Count only, and fetch by hand afterwards: the end of stream must come
    // out after the messages queued before it, one per call.
    Target.Answer(nullptr);
    PlayPastTheEnd();
    ASSERT_GT(Target.Notifications, 5);

    int EndAt = -1;
    for (int Call = 0; Call < Target.Notifications; ++Call)
        if (Player.CheckCompletion()) {
            EXPECT_EQ(EndAt, -1) << "a second completion";
            EndAt = Call;
        }
    EXPECT_GT(EndAt, 5);
    EXPECT_FALSE(Player.CheckCompletion());
}

TEST_F(AudioPlayer, AReceiverThatAnswersAtOnceNeverMissesTheEnd) {
    // The receiver handles each notification the moment it is posted, from
    // a tight loop, while the pipeline's thread may not have let go of the
    // message yet. Short plays to a stop point, one after another: every one
    // must be reported, in its own turn.
    Player.Open(Sample);
    const auto Start = TClock::now();
    int Plays = 0;
    while (SecondsSince(Start) < 1.5) {
        Player.Seek(Ms(1000), Ms(1020));
        Player.Play();
        ++Plays;
        const auto Deadline = TClock::now() + 2s;
        while (Target.Completions < Plays && TClock::now() < Deadline)
            QCoreApplication::sendPostedEvents();
        Player.Pause();
        ASSERT_EQ(Target.Completions, Plays) << "the end of play " << Plays << " went unreported";
    }
    EXPECT_GT(Plays, 10);
}

TEST_F(AudioPlayer, WithoutANotifyTargetNothingIsPosted) {
    TNotifyTarget Unused;
    Player.NotifyWindow(nullptr);
    PlayPastTheEnd();
    EXPECT_EQ(Target.Notifications, 0);
    EXPECT_EQ(Unused.Notifications, 0);
    // The messages still queue; a caller that polls finds the end.
    bool Ended = false;
    for (int Call = 0; Call < 1000 && !Ended; ++Call)
        Ended = Player.CheckCompletion();
    EXPECT_TRUE(Ended);
}

TEST_F(AudioPlayer, ANotifyTargetDestroyedBeforeThePlayerIsLetGo) {
    auto Early = std::make_unique<TNotifyTarget>();
    Early->Answer(&Player);
    Player.NotifyWindow(Early.get());
    Player.Open(Sample);
    Player.Seek(Ms(2700), -1);
    Player.Play();
    RunEventsFor(100ms);
    Early.reset();
    EXPECT_EQ(Player.NotifyWindow(), nullptr);

    // The end comes while nobody listens; it waits for a poll.
    RunEventsFor(600ms);
    bool Ended = false;
    for (int Call = 0; Call < 1000 && !Ended; ++Call)
        Ended = Player.CheckCompletion();
    EXPECT_TRUE(Ended);
    Player.Open(Sample);
    Player.Play();
    RunEventsFor(100ms);
    EXPECT_EQ(Target.Notifications, 0);

    // Replaced while its pipeline is open, then destroyed: the pipeline lets
    // it go too, and the new one waits for the next Open.
    auto Replaced = std::make_unique<TNotifyTarget>();
    Player.NotifyWindow(Replaced.get());
    Player.Open(Sample);
    Player.NotifyWindow(&Target);
    Player.Seek(Ms(2700), -1);
    Player.Play();
    RunEventsFor(100ms);
    Replaced.reset();
    RunEventsFor(600ms);
    EXPECT_EQ(Player.NotifyWindow(), &Target);
    EXPECT_EQ(Target.Notifications, 0);
}

TEST_F(AudioPlayer, FilesThatCannotBePlayedFailAndLeaveAPipelineForCloseToRelease) {
    TTempDir Dir;
    WriteTextFile(Dir.File("text.mp3"), 2200);
    // The kind of file the preparation is offered for.
    WriteBrokenTagFile(Dir.File("broken-tag.mp3"), ReadFileBytes(Sample));

    const struct {
        std::string File;
        std::string Message;
        bool Pipeline = true; // built before it failed
    } Cases[] = {
        {Dir.File("missing.mp3"), "Unable to open file. An object or name was not found."},
        // Not MPEG audio: refused before any pipeline is built for it.
        {Dir.File("text.mp3"),
         "Not an MPEG audio file: " + Dir.File("text.mp3") +
             "\nNo run of MPEG audio frames makes up most of it.",
         false},
        {Dir.File("broken-tag.mp3"), "Unable to open file. The file format is invalid."},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.File);
        EXPECT_EQ(ThrownMessage([&] { Player.Open(Case.File); }), Case.Message);
        EXPECT_FALSE(Player.IsOpen());
        EXPECT_FALSE(Player.CheckCompletion());
        EXPECT_THROW(Player.Duration(), Exception);
        EXPECT_EQ(Player.Play(), E_POINTER);

        Player.SaveGraph(Dir.File("failed.dot"));
        const std::string Failed = ReadText(Dir.File("failed.dot"));
        EXPECT_NE(Failed.find("digraph"), std::string::npos);
        EXPECT_EQ(Failed.find("GstPlayBin") != std::string::npos, Case.Pipeline)
            << "the failed pipeline is kept";

        Player.Close();
        Player.SaveGraph(Dir.File("closed.dot"));
        const std::string Closed = ReadText(Dir.File("closed.dot"));
        EXPECT_FALSE(Closed.empty());
        EXPECT_EQ(Closed.find("GstPlayBin"), std::string::npos) << "Close released the pipeline";
    }

    Player.Open(Sample);
    EXPECT_TRUE(Player.IsOpen());
}

TEST_F(AudioPlayer, APipeIsRefusedAtOnce) {
    // A pipe whose writer sends nothing would hold the pipeline up until the
    // preroll gives up; it is no file to cut anyway.
    TTempDir Dir;
    const std::string Pipe = Dir.File("silent.mp3");
    ASSERT_EQ(mkfifo(Pipe.c_str(), 0600), 0);
    const int Writer = open(Pipe.c_str(), O_RDWR);
    ASSERT_GE(Writer, 0);
    const auto Start = TClock::now();
    EXPECT_EQ(ThrownMessage([&] { Player.Open(Pipe); }),
              "Unable to open file. " + SysErrorMessage(ERROR_NOT_A_FILE) + "\nFile: " + Pipe);
    EXPECT_LT(SecondsSince(Start), 1.0);
    EXPECT_FALSE(Player.IsOpen());
    close(Writer);
    Player.Close();
}

TEST_F(AudioPlayer, SaveGraphDescribesTheOpenPipeline) {
    TTempDir Dir;
    Player.SaveGraph(Dir.File("none.dot"));
    EXPECT_NE(ReadText(Dir.File("none.dot")).find("digraph"), std::string::npos);

    Player.Open(Sample);
    Player.SaveGraph(Dir.File("open.dot"));
    const std::string Open = ReadText(Dir.File("open.dot"));
    EXPECT_NE(Open.find("digraph"), std::string::npos);
    EXPECT_NE(Open.find("cbr-128-info.mp3"), std::string::npos);
    EXPECT_NE(Open.find("mpegaudioparse"), std::string::npos);
}

TEST_F(AudioPlayer, AClosedPlayerRefusesWorkWithoutCrashing) {
    EXPECT_FALSE(Player.IsOpen());
    EXPECT_EQ(Player.Play(), E_POINTER);
    EXPECT_EQ(Player.Pause(), E_POINTER);
    EXPECT_EQ(Player.Stop(), E_POINTER);
    EXPECT_FALSE(Player.CheckCompletion());
    EXPECT_EQ(ThrownMessage([&] { Player.Duration(); }), "Unable to determine duration");
    EXPECT_EQ(ThrownMessage([&] { Player.Position(); }), "Unable to determine current position");
    EXPECT_EQ(ThrownMessage([&] { Player.Seek(0, -1); }), "Unable to set position");
    Player.Close();
    Player.Close();
}

TEST_F(AudioPlayer, ClosingReleasesThePipelineWhateverItLeftUnread) {
    Player.Open(Sample); // GStreamer is running from here on
    Player.Close();
    const int Before = LivePipelines();
    if (Before < 0)
        GTEST_SKIP() << "GStreamer's leaks tracer is not running";

    // Messages left unanswered, a failed open, a player destroyed while open.
    Target.Answer(nullptr);
    Player.Open(Sample);
    Player.Play();
    RunEventsFor(200ms);
    Player.Close();
    EXPECT_NE(ThrownMessage([&] { Player.Open("/nonexistent/segmora.mp3"); }), "");
    Player.Close();
    {
        TAudioPlayer Other;
        Other.Open(Sample);
        Other.Play();
    }
    EXPECT_EQ(LivePipelines(), Before);
}

TEST_F(AudioPlayer, DestroyingAPlayingPlayerStopsIt) {
    TNotifyTarget Counter;
    {
        TAudioPlayer Playing;
        Playing.NotifyWindow(&Counter);
        Playing.Open(Sample);
        Playing.Seek(Ms(2400), -1);
        Playing.Play();
        RunEventsFor(200ms);
    }
    QCoreApplication::sendPostedEvents();
    const int AtDestruction = Counter.Notifications;
    EXPECT_GT(AtDestruction, 0);
    // Playing on would have reached the end, and posted it, within a second.
    RunEventsFor(1200ms);
    EXPECT_EQ(Counter.Notifications, AtDestruction);
}

TEST_F(AudioPlayer, TaggedAndJoinedFilesLastAsLongAsTheirAudioFrames) {
    // The window's length is the cutter's: no tag byte and no information
    // frame of a joined file counts as audio.
    for (const auto& Fixture : TaggedFixtures()) {
        SCOPED_TRACE(Fixture.Name);
        int64_t Ticks = 0;
        for (const auto& Frame : Fixture.Frames) {
            TMP3FrameInfo Info;
            ASSERT_TRUE(DecodeFrameHeader(FrameHeaderAt(Frame.data()), Info));
            Ticks += Info.Ticks;
        }
        Player.Open(FixturePath(Fixture.Name));
        EXPECT_EQ(Player.Duration(), TicksToRefTime(Ticks));
        Player.Close();
    }
}
