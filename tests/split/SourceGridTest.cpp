#include "SourceGrid.h"

#include "FrameBuilder.h"
#include "FrameFiles.h"
#include "TestFiles.h"
#include "ThrownMessage.h"

#include <gtest/gtest.h>

TEST(SourceGrid, TheAudioFramesOfEveryFixtureWithoutTheInformationFrame) {
    for (const auto& Fixture : Fixtures()) {
        SCOPED_TRACE(Fixture.Name);
        const TFrameGrid Grid = ReadFrameGrid(FixturePath(Fixture.Name));
        EXPECT_EQ(Grid.Frames, Fixture.Frames - Fixture.InfoFrame);
        EXPECT_EQ(Grid.FrameTicks * Fixture.SampleRate % TicksPerSecond, 0);
        // The fixture's play time counts the information frame in.
        EXPECT_NEAR(TicksToSeconds(Grid.TotalTicks()),
                    Fixture.Seconds * static_cast<double>(Grid.Frames) /
                        static_cast<double>(Fixture.Frames),
                    1e-6);
    }
}

TEST(SourceGrid, FramesThatChangeLengthAreRefusedNamingWhere) {
    TTempDir Dir;
    const struct {
        TFrameSpec Later;
        const char* Change;
    } Cases[] = {
        {{.SampleRate = 48000}, "sample rate"},
        {{.Version = 2, .SampleRate = 24000}, "MPEG-2"},
        {{.Layer = 1}, "layer"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Change);
        TStreamBuilder Stream;
        Stream.Frames(10).Frames(5, Case.Later);
        Stream.WriteTo(Dir.File("mixed.mp3"));
        const std::string Message = ThrownMessage([&] { ReadFrameGrid(Dir.File("mixed.mp3")); });
        EXPECT_NE(Message.find("split only by size"), std::string::npos) << Message;
        EXPECT_NE(Message.find("at 00:00.261"), std::string::npos) << Message;
    }
    // Another bit rate, or half the samples at half the rate, keeps the
    // frames' length: a grid.
    TStreamBuilder Stream;
    Stream.Frames(10)
        .Frames(5, TFrameSpec{.Kbps = 320})
        .Frames(5, {.Version = 2, .SampleRate = 22050});
    Stream.WriteTo(Dir.File("bitrates.mp3"));
    EXPECT_EQ(ReadFrameGrid(Dir.File("bitrates.mp3")).Frames, 20);
}
