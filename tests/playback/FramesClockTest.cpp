#include "PlayAudio.h"

#include "FrameClock.h"
#include "FrameFiles.h"
#include "Processes.h"
#include "Segmora.h"
#include "TestFiles.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

// One clock for what is heard, marked and cut. The burst fixtures hold
// silence with a 20 ms tone at 0.5 s and at 1.5 s, one file per kind of
// stream whose timeline the pipeline may shift. Where a burst lies on the
// frames' clock comes from mpg123 decoding every audio frame untrimmed;
// where the pipeline plays it, from decoding the file through the same
// GStreamer elements the player uses.

namespace {

using namespace std::chrono_literals;

struct TBurstFile {
    const char* Name;
    int32_t SampleRate;
    int32_t FrameSamples;
    bool Renamed = false; // played as RenamedCopy makes it
};

void PrintTo(const TBurstFile& File, std::ostream* Out) {
    *Out << File.Name << (File.Renamed ? " renamed" : "");
}

constexpr TBurstFile BurstFiles[] = {
    {"burst-44k.mp3", 44100, 1152},    // lame, Info frame with its extension
    {"burst-44k-t.mp3", 44100, 1152},  // lame -t: no information frame
    {"burst-22k.mp3", 22050, 576},     // lame, MPEG-2
    {"burst-8k.mp3", 8000, 576},       // lame, MPEG-2.5
    {"burst-layer2.mp3", 48000, 1152}, // twolame, Layer II
    {"burst-xing.mp3", 44100, 1152},   // Xing frame without extension
    {"burst-lavc.mp3", 44100, 1152},   // another encoder's extension
    {"burst-vbri.mp3", 44100, 1152},   // a VBRI frame in front of lame -t
    {"burst-8k.mp3", 8000, 576, true}, // an extension the pipeline ignores
};

// burst-8k.mp3 with its extension under our own name, which the pipeline
// does not trim for, stating a delay of 3000 samples (its end 59 ms before
// the first burst) and a padding of 4095. The extension follows the Info
// tag, the flags, the counts, the table and the quality; the delay and the
// padding take 12 bits each from its byte 21.
std::string RenamedCopy(const TTempDir& Dir) {
    TBytes Bytes = ReadFileBytes(FixturePath("burst-8k.mp3"));
    const size_t Extension = std::string(Bytes.begin(), Bytes.end()).find("Info") + 120;
    std::memcpy(&Bytes[Extension], "Segmora  ", 9);
    std::memcpy(&Bytes[Extension + 21], "\xBB\x8F\xFF", 3);
    WriteFileBytes(Dir.File("renamed.mp3"), Bytes);
    return Dir.File("renamed.mp3");
}

constexpr int16_t Loud = 2000;

using TSamples = std::vector<int16_t>;

// The first sample louder than Loud; -1 when none is.
int64_t Onset(const TSamples& Samples) {
    for (size_t I = 0; I < Samples.size(); ++I)
        if (std::abs(Samples[I]) > Loud)
            return static_cast<int64_t>(I);
    return -1;
}

const char* const Mpg123 = "/usr/bin/mpg123";

// Every audio frame decoded by mpg123, mixed to mono, nothing trimmed. A
// leading information frame is taken off first: decoders play a VBRI frame
// as one of silence.
TSamples DecodeAudioFrames(const std::string& FileName, const TTempDir& Dir) {
    const std::string Audio = Dir.File("audio-only.mp3");
    WriteFileBytes(Audio, OutputAudio(FileName));
    const std::string Raw = RunProcess(Mpg123, {"-q", "--no-gapless", "-m", "-s", Audio}).Stdout;
    TSamples Samples(Raw.size() / 2);
    std::memcpy(Samples.data(), Raw.data(), Samples.size() * 2);
    return Samples;
}

// Where the pipeline plays the first burst, in 100 ns units on its own
// timeline (-1 when none is heard), and the length it gives the stream.
struct TPipelineOnset {
    int32_t Rate;
    int64_t Time = -1;
    int64_t Duration = -1;
};

void OnHandoff(GstElement*, GstBuffer* Buffer, GstPad*, gpointer Data) {
    auto& Found = *static_cast<TPipelineOnset*>(Data);
    GstMapInfo Map;
    if (Found.Time >= 0 || !gst_buffer_map(Buffer, &Map, GST_MAP_READ))
        return;
    const TSamples Samples(reinterpret_cast<const int16_t*>(Map.data),
                           reinterpret_cast<const int16_t*>(Map.data) + Map.size / 2);
    gst_buffer_unmap(Buffer, &Map);
    const int64_t At = Onset(Samples);
    if (At >= 0)
        Found.Time =
            static_cast<int64_t>(GST_BUFFER_PTS(Buffer)) / 100 + At * 10'000'000 / Found.Rate;
}

TPipelineOnset PipelineOnset(const std::string& FileName, int32_t Rate) {
    gst_init(nullptr, nullptr);
    gchar* Uri = gst_filename_to_uri(FileName.c_str(), nullptr);
    const std::string Description = std::string("uridecodebin uri=") + Uri +
                                    " ! audioconvert ! audio/x-raw,format=S16LE,channels=1 ! "
                                    "fakesink name=sink signal-handoffs=true sync=false";
    g_free(Uri);
    GstElement* Pipeline = gst_parse_launch(Description.c_str(), nullptr);
    TPipelineOnset Found{Rate};
    if (Pipeline == nullptr)
        return Found;
    GstElement* Sink = gst_bin_get_by_name(GST_BIN(Pipeline), "sink");
    g_signal_connect(Sink, "handoff", G_CALLBACK(OnHandoff), &Found);
    gst_object_unref(Sink);
    gst_element_set_state(Pipeline, GST_STATE_PLAYING);
    GstBus* Bus = gst_element_get_bus(Pipeline);
    GstMessage* Message = gst_bus_timed_pop_filtered(
        Bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (Message != nullptr)
        gst_message_unref(Message);
    gint64 Duration = -1;
    if (gst_element_query_duration(Pipeline, GST_FORMAT_TIME, &Duration))
        Found.Duration = Duration / 100;
    gst_object_unref(Bus);
    gst_element_set_state(Pipeline, GST_STATE_NULL);
    gst_object_unref(Pipeline);
    return Found;
}

class FramesClock : public testing::TestWithParam<TBurstFile> {
protected:
    void SetUp() override {
        if (!FileExists(Mpg123))
            GTEST_SKIP() << "mpg123 is missing";
    }
    std::string Source() {
        return GetParam().Renamed ? RenamedCopy(Dir) : FixturePath(GetParam().Name);
    }
    TTempDir Dir;
};

constexpr int64_t Millisecond = 10'000;

} // namespace

TEST_P(FramesClock, WhatIsHeardIsWhereTheCutterCutsIt) {
    const TBurstFile& File = GetParam();
    const std::string Source = this->Source();
    const TSamples Untrimmed = DecodeAudioFrames(Source, Dir);
    const int64_t BurstSample = Onset(Untrimmed);
    ASSERT_GT(BurstSample, 0);
    const int64_t Burst = BurstSample * 10'000'000 / File.SampleRate;

    // The player's position when the burst is heard: the pipeline's time of
    // it, moved onto the frames' clock.
    TAudioPlayer Player;
    Player.Open(Source);
    const int64_t Heard = PipelineOnset(Source, File.SampleRate).Time;
    ASSERT_GE(Heard, 0);
    std::printf("[ lead ] %-18s %7.3f ms\n", File.Name,
                static_cast<double>(Player.TimelineLead()) / Millisecond);
    EXPECT_NEAR(Heard + Player.TimelineLead(), Burst, Millisecond);

    // Seeking there and reading the position back stays on that clock.
    Player.Seek(Burst, -1);
    EXPECT_NEAR(Player.Position(), Burst, Millisecond);

    // Marks a frame either side of what was heard: the cut holds the burst,
    // and where the cut's own first frame starts, the burst follows exactly
    // as far behind as in the source. The start mark goes back a tenth
    // more: the first frames of a cut miss the bytes they borrow from frames
    // left behind, and decode to silence.
    const double FrameSeconds = static_cast<double>(File.FrameSamples) / File.SampleRate;
    const double HeardSeconds = static_cast<double>(Heard + Player.TimelineLead()) / 1e7;
    const auto Start = static_cast<int32_t>(std::floor((HeardSeconds - FrameSeconds) * 10)) - 1;
    const auto End = static_cast<int32_t>(std::ceil((HeardSeconds + 0.02 + FrameSeconds) * 10));
    TSegmora Cutter;
    Cutter.SetSourceFile(Source);
    Cutter.SetDestFile(Dir.File("cut.mp3"));
    Cutter.SetSelStart(Start * 100);
    Cutter.SetSelEnd(End * 100);
    Cutter.Execute(true);
    const TSamples Cut = DecodeAudioFrames(Dir.File("cut.mp3"), Dir);
    // The first frame written is the first to end past the boundary the
    // start mark stands for.
    const int64_t Ticks = SamplesToTicks(File.FrameSamples, File.SampleRate);
    const int64_t FirstFrame = std::max<int64_t>((MsToTicks(Start * 100) + HalfMsTicks) / Ticks, 0);
    const int64_t Expected = BurstSample - FirstFrame * File.FrameSamples;
    EXPECT_NEAR(static_cast<double>(Onset(Cut)), static_cast<double>(Expected),
                File.SampleRate / 1000.0)
        << "marks " << Start << " to " << End;
    // Played back, the cut is on the same clock: its own information frame
    // tells the player what the pipeline trims from it, and gives the
    // pipeline the cut's length, less at most the decoder's delay.
    TAudioPlayer CutPlayer;
    CutPlayer.Open(Dir.File("cut.mp3"));
    const TPipelineOnset CutPlayed = PipelineOnset(Dir.File("cut.mp3"), File.SampleRate);
    EXPECT_NEAR(CutPlayed.Time + CutPlayer.TimelineLead(),
                Onset(Cut) * 10'000'000 / File.SampleRate, Millisecond);
    const double FrameTicks = FrameSeconds * 1e7;
    EXPECT_NEAR(CutPlayed.Duration,
                static_cast<double>(Cut.size() / static_cast<size_t>(File.FrameSamples)) *
                    FrameTicks,
                FrameTicks);
}

TEST_P(FramesClock, PlayingToTheEndReachesTheDuration) {
    TAudioPlayer Player;
    Player.Open(Source());
    const int64_t Duration = Player.Duration();
    Player.Seek(Duration - 300 * Millisecond, -1);
    Player.Play();
    bool Ended = false;
    for (int Wait = 0; Wait < 500 && !(Ended = Player.CheckCompletion()); ++Wait)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(Ended) << "within 5 s";
    EXPECT_EQ(Player.Position(), Duration);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FramesClock, testing::ValuesIn(BurstFiles));

// The player keeps to the sound that extension states, on the frames' clock.
TEST(FramesClockTrim, PlayingStartsAfterTheDelayAndEndsBeforeThePadding) {
    constexpr int64_t Lead = (3000 + 529) * 10'000'000LL / 8000;
    constexpr int64_t Tail = (4095 - 529) * 10'000'000LL / 8000;
    TTempDir Dir;
    TAudioPlayer Player;
    Player.Open(RenamedCopy(Dir));
    Player.Play();
    EXPECT_GE(Player.Position(), Lead) << "as opened";
    Player.Seek(0, -1);
    EXPECT_GE(Player.Position(), Lead) << "sought to the start";
    // From a tenth of a second before the padding, over long before the
    // padding could have played. Each call fetches one queued message.
    Player.Seek(Player.Duration() - Tail - 100 * Millisecond, -1);
    const auto Start = std::chrono::steady_clock::now();
    for (int Wait = 0; Wait < 20'000 && !Player.CheckCompletion(); ++Wait)
        std::this_thread::sleep_for(100us);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 100ms + Tail / 2 * 100ns);
}

// On the played clock the sound starts at 0 and lasts what the extension
// leaves of it, where the pipeline trims the delay (LAME) and where the
// player does; switched off, the same instant reads on the frames' clock.
TEST(FramesClockTrim, ThePlayedClockStartsWhereTheSoundDoes) {
    TTempDir Dir;
    for (const std::string& File : {FixturePath("burst-44k.mp3"), RenamedCopy(Dir)}) {
        SCOPED_TRACE(File);
        const TClockSpan Span = PlayedClockSpan(ScanStream(File));
        ASSERT_GT(Span.Origin, 0);
        const int64_t Origin = TicksToRefTime(Span.Origin);
        TAudioPlayer Player;
        Player.SetPlayedClock(true);
        Player.Open(File);
        EXPECT_EQ(Player.ClockSpan().Origin, Span.Origin);
        EXPECT_EQ(Player.Duration(), TicksToRefTime(Span.End) - Origin);
        EXPECT_EQ(Player.Position(), 0);
        Player.Seek(200 * Millisecond, -1);
        EXPECT_NEAR(Player.Position(), 200 * Millisecond, Millisecond);
        Player.SetPlayedClock(false);
        EXPECT_NEAR(Player.Position(), 200 * Millisecond + Origin, Millisecond);
    }
}
