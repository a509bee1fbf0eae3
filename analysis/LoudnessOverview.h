#pragma once

// How loud a file is along the frames' clock, for drawing it: the peak and
// the RMS level of every block of audio, and coarser levels each combining
// LevelFactor entries of the one below, so that a view of any width reads a
// few entries per column.
//
// A block is 288 samples at the MPEG-1 rates and 144 at the lower ones: a
// quarter of a Layer III frame, so the deepest zoom (a frame at least four
// pixels wide) still shows a block per pixel. That is at most 167 blocks a
// second (48 kHz), 10.8 million for 18 hours; at two bytes a block, with the
// coarser levels, 24.7 MB.
//
// Levels are stored in steps of 0.375 dB, one byte each for peak and RMS:
// 255 is full scale, 1 is -95.25 dB, 0 nothing above that.
//
// One thread writes (AddBlock, then Finish), any number read meanwhile
// without a lock: the entries are sized up front and never move, and a
// reader only looks at entries the writer published by an atomic count
// after writing them. A second thread may set later blocks ahead, which no
// reader looks at before the first writer has taken them over.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct TOverviewCell {
    uint8_t Peak = 0;
    uint8_t Rms = 0;
};

struct TOverviewColumn {
    float Peak = 0; // linear, 1 is full scale
    float Rms = 0;
    bool Known = false; // false: not decoded yet, or beyond the audio
};

class TLoudnessOverview {
public:
    static constexpr int LevelFactor = 8;
    static constexpr double StepDb = 0.375;

    // Samples in a block at SampleRate.
    static constexpr int32_t BlockSamples(int32_t SampleRate) {
        return SampleRate >= 32000 ? 288 : 144;
    }

    // An overview of Duration ticks of audio in blocks of BlockTicks, none
    // of them known yet.
    TLoudnessOverview(int64_t BlockTicks, int64_t Duration);
    // A finished overview from its stored levels; null when they don't fit
    // together.
    static std::unique_ptr<TLoudnessOverview>
    Restore(int64_t BlockTicks, int64_t Duration, std::vector<std::vector<TOverviewCell>> Levels);

    int64_t BlockTicks() const { return FBlockTicks; }
    int64_t Duration() const { return FDuration; }
    int64_t BlockCount() const { return static_cast<int64_t>(FLevels[0].size()); }
    int LevelCount() const { return static_cast<int>(FLevels.size()); }
    // Level Index's entries, 0 the blocks; only of a finished overview.
    const std::vector<TOverviewCell>& Level(int Index) const { return FLevels[Index]; }
    // Blocks known so far, from the first.
    int64_t KnownBlocks() const { return FKnown.load(std::memory_order_acquire); }
    bool Complete() const { return FComplete.load(std::memory_order_acquire); }
    size_t MemoryBytes() const;

    // Writer: the next block's peak (linear) and mean square.
    void AddBlock(float Peak, double MeanSquare);
    // Writer: no more blocks; those never added stay silent.
    void Finish();
    // A second writer, decoding a later stretch at once: block Index, which
    // stays unknown until the first writer adopts it. Writes no block the
    // first writer writes.
    void SetAhead(int64_t Index, float Peak, double MeanSquare);
    // First writer, once the second is done: the blocks up to From that it
    // did not add stay silent, and blocks From to To - 1 are taken as the
    // second writer set them.
    void Adopt(int64_t From, int64_t To);

    // ColumnCount columns splitting [Start, End) on the frames' clock
    // evenly. A column holds every block it overlaps: the loudest peak, and
    // the RMS of them all together. It reads the coarsest entries that
    // cover those blocks exactly, a few per level. A column is known when
    // all its blocks are.
    std::vector<TOverviewColumn> Columns(int64_t Start, int64_t End, int ColumnCount) const;

    static uint8_t ToStep(double Amplitude);
    static float FromStep(uint8_t Step) { return Amplitudes()[Step]; }

private:
    struct TSum {
        float Peak = 0;
        double MeanSquares = 0; // summed, each weighted by its blocks
        int64_t Blocks = 0;
    };
    TLoudnessOverview() = default;
    void SizeLevels(int64_t Blocks);
    // Writes the pending sum of Level as its next entry, then adds it to
    // the level above.
    void Close(size_t Level);
    // Blocks From to To - 1 together, from the coarsest entries that
    // cover them exactly; Whole: the overview is finished.
    TOverviewColumn Combine(int64_t From, int64_t To, bool Whole) const;
    static const std::array<float, 256>& Amplitudes();
    static const std::array<float, 256>& Powers();

    int64_t FBlockTicks = 1;
    int64_t FDuration = 0;
    std::vector<std::vector<TOverviewCell>> FLevels;
    std::atomic<int64_t> FKnown{0};
    std::atomic<bool> FComplete{false};
    // The writer's state: per level, the entry being summed and its index.
    std::vector<TSum> FPending;
    std::vector<int64_t> FWritten;
};
