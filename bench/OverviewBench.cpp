// Decodes one file's loudness overview as the window's worker does, and
// says how long it took and what the overview holds.
//
//   segmora-overview-bench FILE
//   segmora-overview-bench --first FILE [WIDTH]
//   segmora-overview-bench --memory HOURS SAMPLE_RATE
//
// --first starts the window's builder (keeping nothing) and prints the
// seconds until the first column of a picture WIDTH columns wide (1000) is
// known. --memory prints the bytes an overview of that much audio holds,
// without decoding anything.

#include "FrameClock.h"
#include "OverviewBuilder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point Began) {
    return std::chrono::duration<double>(TClock::now() - Began).count();
}

int DecodeOnce(const char* FileName) {
    std::atomic<bool> Stop{false};
    std::shared_ptr<const TLoudnessOverview> Overview;
    const auto Began = TClock::now();
    const TOverviewResult Result =
        DecodeOverview(FileName, Stop, [&](auto Ready) { Overview = Ready; });
    const double Took = SecondsSince(Began);
    if (Result != TOverviewResult::Done) {
        std::fprintf(stderr, "%s: no overview\n", FileName);
        return 1;
    }
    std::printf("%.3f s for %.1f s of audio, %lld blocks, %zu bytes\n", Took,
                TicksToSeconds(Overview->Duration()),
                static_cast<long long>(Overview->BlockCount()), Overview->MemoryBytes());
    return 0;
}

int FirstColumn(const char* FileName, int Width) {
    const auto Began = TClock::now();
    TOverviewBuilder Builder(FileName, "");
    Builder.Start();
    // Polled as the window's repaint timer would, only far more often.
    while (Builder.State() == TOverviewBuilder::TState::Running) {
        if (const auto Overview = Builder.Overview()) {
            const int64_t ColumnEnd = Overview->Duration() / Width;
            if (ColumnEnd > 0 && Overview->Columns(0, ColumnEnd, 1)[0].Known)
                break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double Took = SecondsSince(Began);
    if (Builder.State() == TOverviewBuilder::TState::Failed) {
        std::fprintf(stderr, "%s: no overview\n", FileName);
        return 1;
    }
    std::printf("%.4f\n", Took);
    return 0;
}

int Memory(double Hours, int32_t SampleRate) {
    const TLoudnessOverview Overview(
        SamplesToTicks(TLoudnessOverview::BlockSamples(SampleRate), SampleRate),
        static_cast<int64_t>(Hours * 3600) * TicksPerSecond);
    std::printf("%zu\n", Overview.MemoryBytes());
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: segmora-overview-bench FILE\n"
                         "       segmora-overview-bench --first FILE [WIDTH]\n"
                         "       segmora-overview-bench --memory HOURS SAMPLE_RATE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-')
        return DecodeOnce(argv[1]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--first") == 0) {
        const int Width = argc == 4 ? std::atoi(argv[3]) : 1000;
        return Width > 0 ? FirstColumn(argv[2], Width) : Usage();
    }
    if (argc == 4 && std::strcmp(argv[1], "--memory") == 0) {
        const int32_t SampleRate = std::atoi(argv[3]);
        return SampleRate > 0 ? Memory(std::atof(argv[2]), SampleRate) : Usage();
    }
    return Usage();
}
