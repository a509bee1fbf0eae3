#pragma once

// Decodes a file's audio frames into its loudness overview, on a thread of
// its own, while the window goes on drawing what is known so far.
//
// Only the frames the reader finds as audio reach the decoder, information
// frames and tags left out, and nothing is trimmed: the decoder's own delay
// and the encoder's stay in the samples, as they stay in the frames a cut
// copies. A sample's place on the frames' clock is then the start of its
// frame plus its place in the frame's output.

#include "LoudnessOverview.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

enum class TOverviewResult {
    Done,    // the overview is complete
    Stopped, // asked to stop; the overview holds what was decoded
    Failed,  // no overview: not MPEG audio, unreadable, or undecodable
};

// Told how far the decoding is on the frames' clock, from the decoding thread.
using TOverviewProgress = std::function<void(int64_t DoneTicks, int64_t TotalTicks)>;
// Told the overview as soon as the frames are counted, before decoding.
using TOverviewReady = std::function<void(std::shared_ptr<const TLoudnessOverview>)>;

// Decodes FileName on the calling thread. Stop is looked at between runs of
// frames a few seconds of audio long. Raises nothing.
//
// When the audio frames take HalvesFrom bytes or more, and the process may
// use a second processor, a second thread decodes the second half at the
// same time, from a few frames before it so that its decoder starts as the
// first would be there; its blocks are known once the first thread reaches
// them. Progress tells the first thread's.
constexpr int64_t OverviewInHalvesMinBytes = 4 * 1024 * 1024;
TOverviewResult DecodeOverview(const std::string& FileName, const std::atomic<bool>& Stop,
                               const TOverviewReady& Ready, const TOverviewProgress& Progress = {},
                               int64_t HalvesFrom = OverviewInHalvesMinBytes);

// The decoding for the window: the overview kept in CacheFolder when it is
// still the file's, otherwise decoded on a worker thread and kept there once
// complete. An empty CacheFolder keeps nothing.
class TOverviewBuilder {
public:
    enum class TState { Idle, Running, Done, Stopped, Failed };

    TOverviewBuilder(std::string FileName, std::string CacheFolder,
                     TOverviewProgress Progress = {});
    // Stops the worker and waits for it.
    ~TOverviewBuilder();
    TOverviewBuilder(const TOverviewBuilder&) = delete;
    TOverviewBuilder& operator=(const TOverviewBuilder&) = delete;

    // Loads the kept overview or starts the worker; once only.
    void Start();
    // Asks the worker to stop; returns at once.
    void Stop() { FStop.store(true); }
    // Waits for the worker to end.
    void Wait();
    TState State() const { return FState.load(); }
    // What is known so far; null until the frames are counted, and for a
    // file that gives no overview.
    std::shared_ptr<const TLoudnessOverview> Overview() const;

private:
    void Run();
    void SetOverview(std::shared_ptr<const TLoudnessOverview> Overview);

    std::string FFileName;
    std::string FCacheFolder;
    TOverviewProgress FProgress;
    std::atomic<bool> FStop{false};
    std::atomic<TState> FState{TState::Idle};
    mutable std::mutex FLock; // guards FOverview, the pointer only
    std::shared_ptr<const TLoudnessOverview> FOverview;
    std::thread FWorker;
};
