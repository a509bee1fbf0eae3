#include "LoudnessOverview.h"

#include <algorithm>
#include <cmath>

TLoudnessOverview::TLoudnessOverview(int64_t BlockTicks, int64_t Duration)
    : FBlockTicks(std::max<int64_t>(BlockTicks, 1)), FDuration(std::max<int64_t>(Duration, 0)) {
    SizeLevels((FDuration + FBlockTicks - 1) / FBlockTicks);
}

void TLoudnessOverview::SizeLevels(int64_t Blocks) {
    FLevels.emplace_back(static_cast<size_t>(Blocks));
    while (FLevels.back().size() > 1)
        FLevels.emplace_back((FLevels.back().size() + LevelFactor - 1) / LevelFactor);
    FPending.assign(FLevels.size(), TSum{});
    FWritten.assign(FLevels.size(), 0);
}

std::unique_ptr<TLoudnessOverview>
TLoudnessOverview::Restore(int64_t BlockTicks, int64_t Duration,
                           std::vector<std::vector<TOverviewCell>> Levels) {
    if (BlockTicks <= 0 || Duration < 0)
        return nullptr;
    const TLoudnessOverview Shape(BlockTicks, Duration);
    if (Levels.size() != Shape.FLevels.size())
        return nullptr;
    for (size_t L = 0; L < Levels.size(); ++L)
        if (Levels[L].size() != Shape.FLevels[L].size())
            return nullptr;
    std::unique_ptr<TLoudnessOverview> Overview(new TLoudnessOverview);
    Overview->FBlockTicks = BlockTicks;
    Overview->FDuration = Duration;
    Overview->FLevels = std::move(Levels);
    Overview->FKnown.store(Overview->BlockCount(), std::memory_order_release);
    Overview->FComplete.store(true, std::memory_order_release);
    return Overview;
}

size_t TLoudnessOverview::MemoryBytes() const {
    size_t Bytes = 0;
    for (const auto& Level : FLevels)
        Bytes += Level.capacity() * sizeof(TOverviewCell);
    return Bytes;
}

void TLoudnessOverview::AddBlock(float Peak, double MeanSquare) {
    if (FWritten[0] >= BlockCount())
        return;
    FPending[0] = TSum{Peak, MeanSquare, 1};
    Close(0);
    FKnown.store(FWritten[0], std::memory_order_release);
}

void TLoudnessOverview::Close(size_t Level) {
    TSum& Sum = FPending[Level];
    const int64_t Index = FWritten[Level];
    if (Sum.Blocks > 0 && Index < static_cast<int64_t>(FLevels[Level].size())) {
        FLevels[Level][static_cast<size_t>(Index)] = {
            ToStep(Sum.Peak), ToStep(std::sqrt(Sum.MeanSquares / static_cast<double>(Sum.Blocks)))};
        ++FWritten[Level];
        if (Level + 1 < FLevels.size()) {
            TSum& Up = FPending[Level + 1];
            Up.Peak = std::max(Up.Peak, Sum.Peak);
            Up.MeanSquares += Sum.MeanSquares;
            Up.Blocks += Sum.Blocks;
            if (FWritten[Level] % LevelFactor == 0)
                Close(Level + 1);
        }
    }
    Sum = TSum{};
}

void TLoudnessOverview::Finish() {
    while (FWritten[0] < BlockCount())
        AddBlock(0, 0);
    for (size_t Level = 1; Level < FLevels.size(); ++Level)
        Close(Level);
    FKnown.store(BlockCount(), std::memory_order_release);
    FComplete.store(true, std::memory_order_release);
}

void TLoudnessOverview::SetAhead(int64_t Index, float Peak, double MeanSquare) {
    if (Index >= 0 && Index < BlockCount())
        FLevels[0][static_cast<size_t>(Index)] = {ToStep(Peak), ToStep(std::sqrt(MeanSquare))};
}

void TLoudnessOverview::Adopt(int64_t From, int64_t To) {
    while (FWritten[0] < std::min(From, BlockCount()))
        AddBlock(0, 0);
    To = std::min(To, BlockCount());
    while (FWritten[0] < To) {
        const TOverviewCell Cell = FLevels[0][static_cast<size_t>(FWritten[0])];
        FPending[0] = TSum{FromStep(Cell.Peak), Powers()[Cell.Rms], 1};
        Close(0);
    }
    FKnown.store(FWritten[0], std::memory_order_release);
}

TOverviewColumn TLoudnessOverview::Combine(int64_t From, int64_t To, bool Whole) const {
    const auto& Power = Powers();
    const int64_t Blocks = BlockCount();
    const int64_t Count = To - From;
    uint8_t Peak = 0;
    double Squares = 0;
    while (From < To) {
        // The coarsest entry that starts at From and ends by To.
        size_t Level = 0;
        int64_t Span = 1;
        // The last entry of a level may cover fewer blocks; it is written
        // when the overview is finished.
        while (Level + 1 < FLevels.size() && From % (Span * LevelFactor) == 0 &&
               (From + Span * LevelFactor <= To || (Whole && Blocks <= To))) {
            ++Level;
            Span *= LevelFactor;
        }
        const TOverviewCell Cell = FLevels[Level][static_cast<size_t>(From / Span)];
        const int64_t Covered = std::min(Span, Blocks - From);
        Peak = std::max(Peak, Cell.Peak);
        Squares += static_cast<double>(Power[Cell.Rms]) * static_cast<double>(Covered);
        From += Covered;
    }
    return {FromStep(Peak), static_cast<float>(std::sqrt(Squares / static_cast<double>(Count))),
            true};
}

std::vector<TOverviewColumn> TLoudnessOverview::Columns(int64_t Start, int64_t End,
                                                        int ColumnCount) const {
    std::vector<TOverviewColumn> Result(static_cast<size_t>(std::max(ColumnCount, 0)));
    const int64_t Blocks = BlockCount();
    if (ColumnCount <= 0 || End <= Start || Blocks == 0)
        return Result;
    const bool Whole = Complete();
    const int64_t Known = Whole ? Blocks : KnownBlocks();
    const int64_t Span = End - Start;
    for (int C = 0; C < ColumnCount; ++C) {
        const int64_t From = Start + Span * C / ColumnCount;
        const int64_t To = Start + Span * (C + 1) / ColumnCount;
        if (To <= 0 || From >= FDuration || To <= From)
            continue;
        // Every block the column overlaps.
        const int64_t First = std::max<int64_t>(From, 0) / FBlockTicks;
        const int64_t Last = std::min((To + FBlockTicks - 1) / FBlockTicks, Blocks);
        if (Last > Known)
            continue;
        Result[static_cast<size_t>(C)] = Combine(First, Last, Whole);
    }
    return Result;
}

uint8_t TLoudnessOverview::ToStep(double Amplitude) {
    if (!(Amplitude > 0))
        return 0;
    const long Step = 255 + std::lround(20 * std::log10(Amplitude) / StepDb);
    return static_cast<uint8_t>(std::clamp<long>(Step, 0, 255));
}

const std::array<float, 256>& TLoudnessOverview::Amplitudes() {
    static const std::array<float, 256> Table = [] {
        std::array<float, 256> Values{};
        for (int Step = 1; Step < 256; ++Step)
            Values[static_cast<size_t>(Step)] =
                static_cast<float>(std::pow(10.0, (Step - 255) * StepDb / 20));
        return Values;
    }();
    return Table;
}

const std::array<float, 256>& TLoudnessOverview::Powers() {
    static const std::array<float, 256> Table = [] {
        std::array<float, 256> Values{};
        for (size_t Step = 0; Step < 256; ++Step)
            Values[Step] = Amplitudes()[Step] * Amplitudes()[Step];
        return Values;
    }();
    return Table;
}
