// Decodes one file's loudness overview as the window's worker does, and
// says how long it took and what the overview holds.

#include "FrameClock.h"
#include "OverviewBuilder.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: segmora-overview-bench FILE\n");
        return 2;
    }
    std::atomic<bool> Stop{false};
    std::shared_ptr<const TLoudnessOverview> Overview;
    const auto Began = std::chrono::steady_clock::now();
    const TOverviewResult Result =
        DecodeOverview(argv[1], Stop, [&](auto Ready) { Overview = Ready; });
    const std::chrono::duration<double> Took = std::chrono::steady_clock::now() - Began;
    if (Result != TOverviewResult::Done) {
        std::fprintf(stderr, "%s: no overview\n", argv[1]);
        return 1;
    }
    std::printf("%.3f s for %.1f s of audio, %lld blocks, %zu bytes\n", Took.count(),
                TicksToSeconds(Overview->Duration()),
                static_cast<long long>(Overview->BlockCount()), Overview->MemoryBytes());
    return 0;
}
