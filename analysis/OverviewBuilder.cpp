#include "OverviewBuilder.h"

#include "Errors.h"
#include "FrameClock.h"
#include "MP3Read.h"
#include "OverviewCache.h"
#include "StreamScan.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace {

// Bytes of frames handed to the decoder at once: a few seconds of audio,
// between two looks at the stop flag.
constexpr size_t FeedBytes = 64 * 1024;

class TDecoder {
public:
    TDecoder() {
        static std::once_flag Initialised;
        std::call_once(Initialised, [] { mpg123_init(); });
        FHandle = mpg123_new(nullptr, nullptr);
        if (FHandle == nullptr)
            return;
        // Nothing trimmed, nothing resampled: every frame fed gives its
        // whole output at its own rate. Frames are fed without information
        // frames, but one the reader took for audio must play as a frame,
        // as it does in a cut.
        mpg123_param(FHandle, MPG123_REMOVE_FLAGS, MPG123_GAPLESS | MPG123_AUTO_RESAMPLE, 0);
        mpg123_param(FHandle, MPG123_ADD_FLAGS,
                     MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_NO_FRANKENSTEIN, 0);
        mpg123_format_none(FHandle);
        const long* Rates = nullptr;
        size_t RateCount = 0;
        mpg123_rates(&Rates, &RateCount);
        for (size_t I = 0; I < RateCount; ++I)
            mpg123_format(FHandle, Rates[I], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        if (mpg123_open_feed(FHandle) != MPG123_OK) {
            mpg123_delete(FHandle);
            FHandle = nullptr;
        }
    }
    ~TDecoder() {
        if (FHandle != nullptr) {
            mpg123_close(FHandle);
            mpg123_delete(FHandle);
        }
    }
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    bool Ready() const { return FHandle != nullptr; }
    mpg123_handle* Handle() const { return FHandle; }

private:
    mpg123_handle* FHandle = nullptr;
};

// Sums the decoded samples into the overview's blocks, in order on the
// frames' clock.
class TBlockSums {
public:
    explicit TBlockSums(TLoudnessOverview& Overview) : FOverview(Overview) {}

    int64_t Position() const { return FPosition; }

    // Frames samples of Channels each (interleaved), the first at At.
    void Add(int64_t At, const float* Samples, int64_t Frames, int Channels,
             int64_t TicksPerSample) {
        if (At > FPosition)
            MoveTo(At);
        const int64_t BlockTicks = FOverview.BlockTicks();
        while (Frames > 0) {
            const int64_t BlockEnd = (FBlock + 1) * BlockTicks;
            const int64_t Take =
                std::min(Frames, (BlockEnd - FPosition + TicksPerSample - 1) / TicksPerSample);
            Sum(Samples, static_cast<size_t>(Take * Channels));
            Samples += Take * Channels;
            Frames -= Take;
            FPosition += Take * TicksPerSample;
            if (FPosition >= BlockEnd)
                Close();
        }
    }

    void Finish() {
        if (FCount > 0)
            Close();
        FOverview.Finish();
    }

private:
    void Sum(const float* Samples, size_t Count) {
        // Eight samples a step in two vector registers: a plain loop
        // compiles to one sample a step, a tenth of all the decoding costs.
        using TFloats = float __attribute__((vector_size(16)));
        using TBits = int32_t __attribute__((vector_size(16)));
        const TBits NoSign = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
        TFloats Peak[2] = {{FPeak, 0, 0, 0}, {0, 0, 0, 0}};
        TFloats Squares[2] = {{0, 0, 0, 0}, {0, 0, 0, 0}};
        size_t I = 0;
        for (; I + 8 <= Count; I += 8)
            for (size_t K = 0; K < 2; ++K) {
                TFloats Value;
                std::memcpy(&Value, Samples + I + 4 * K, sizeof Value);
                const auto Size =
                    reinterpret_cast<TFloats>(reinterpret_cast<TBits>(Value) & NoSign);
                Peak[K] = Size > Peak[K] ? Size : Peak[K];
                Squares[K] += Value * Value;
            }
        float Max = 0;
        double Sum = 0;
        for (size_t K = 0; K < 4; ++K) {
            Max = std::max({Max, Peak[0][K], Peak[1][K]});
            Sum += static_cast<double>(Squares[0][K]) + Squares[1][K];
        }
        for (; I < Count; ++I) {
            Max = std::max(Max, std::abs(Samples[I]));
            Sum += static_cast<double>(Samples[I]) * Samples[I];
        }
        FPeak = Max;
        FSquares += Sum;
        FCount += static_cast<int64_t>(Count);
    }
    void Close() {
        FOverview.AddBlock(FPeak, FCount > 0 ? FSquares / static_cast<double>(FCount) : 0);
        ++FBlock;
        FPeak = 0;
        FSquares = 0;
        FCount = 0;
    }
    // A frame the decoder gave nothing for: its blocks stay silent.
    void MoveTo(int64_t At) {
        while ((FBlock + 1) * FOverview.BlockTicks() <= At)
            Close();
        FPosition = At;
    }

    TLoudnessOverview& FOverview;
    int64_t FPosition = 0;
    int64_t FBlock = 0;
    float FPeak = 0;
    double FSquares = 0;
    int64_t FCount = 0;
};

// Feeds the decoder runs of frames and places its output: the decoder
// numbers the frames it decodes from 0, in the order fed, and each frame's
// output starts where the frame starts on the frames' clock.
class TFeeder {
public:
    TFeeder(mpg123_handle* Handle, TBlockSums& Sums) : FHandle(Handle), FSums(Sums) {
        FBytes.reserve(FeedBytes + 4096);
    }

    void AddFrame(const uint8_t* Frame, size_t Length, int64_t Ticks) {
        FBytes.insert(FBytes.end(), Frame, Frame + Length);
        FStarts.push_back(FTicks);
        FTicks += Ticks;
    }
    uint8_t* AddFrameSpace(size_t Length, int64_t Ticks) {
        FBytes.resize(FBytes.size() + Length);
        FStarts.push_back(FTicks);
        FTicks += Ticks;
        return FBytes.data() + FBytes.size() - Length;
    }
    bool Full() const { return FBytes.size() >= FeedBytes; }
    // Hands over the frames gathered and takes what the decoder gives for
    // them. False when the decoder failed.
    bool Feed() {
        if (FBytes.empty())
            return true;
        const int Fed = mpg123_feed(FHandle, FBytes.data(), FBytes.size());
        FBytes.clear();
        return Fed == MPG123_OK && Drain();
    }
    int64_t DecodedFrames() const { return FDecoded; }

private:
    bool Drain() {
        for (;;) {
            off_t Number = 0;
            unsigned char* Audio = nullptr;
            size_t Bytes = 0;
            const int Result = mpg123_decode_frame(FHandle, &Number, &Audio, &Bytes);
            if (Result == MPG123_NEED_MORE)
                return true;
            if (Result == MPG123_NEW_FORMAT) {
                long Rate = 0;
                int Encoding = 0;
                mpg123_getformat(FHandle, &Rate, &FChannels, &Encoding);
                FTicksPerSample = Rate > 0 ? TicksPerSecond / Rate : 0;
                continue;
            }
            if (Result != MPG123_OK)
                return false;
            if (Bytes == 0 || FChannels <= 0 || FTicksPerSample <= 0)
                continue;
            while (!FStarts.empty() && FFirstNumber < Number) {
                FStarts.pop_front();
                ++FFirstNumber;
            }
            const int64_t At =
                FStarts.empty() || FFirstNumber != Number ? FSums.Position() : FStarts.front();
            const int64_t Frames = static_cast<int64_t>(Bytes / sizeof(float)) / FChannels;
            FSums.Add(At, reinterpret_cast<const float*>(Audio), Frames, FChannels,
                      FTicksPerSample);
            ++FDecoded;
        }
    }

    mpg123_handle* FHandle;
    TBlockSums& FSums;
    std::vector<uint8_t> FBytes;
    std::deque<int64_t> FStarts; // of the frames fed and not decoded yet
    int64_t FFirstNumber = 0;    // the decoder's number of FStarts.front()
    int64_t FTicks = 0;
    int64_t FDecoded = 0;
    int FChannels = 0;
    int64_t FTicksPerSample = 0;
};

} // namespace

TOverviewResult DecodeOverview(const std::string& FileName, const std::atomic<bool>& Stop,
                               const TOverviewReady& Ready, const TOverviewProgress& Progress) {
    try {
        TMP3Reader Reader;
        Reader.Open(FileName);
        Reader.SetSearchCheck([&Stop] { return Stop.load(); });
        const TStreamScan Scan = ScanStream(Reader);
        if (Stop.load())
            return TOverviewResult::Stopped;
        if (Scan.MostlyUnframed())
            return TOverviewResult::Failed;
        TDecoder Decoder;
        if (!Decoder.Ready())
            return TOverviewResult::Failed;
        const int32_t Rate = Scan.First.SampleRate;
        auto Overview = std::make_shared<TLoudnessOverview>(
            SamplesToTicks(TLoudnessOverview::BlockSamples(Rate), Rate), Scan.Ticks);
        if (Ready)
            Ready(Overview);
        TBlockSums Sums(*Overview);
        TFeeder Feeder(Decoder.Handle(), Sums);
        TInfoFrameSkip IsInfoFrame(Scan);
        Reader.Rewind();
        while (Reader.FindNextFrame()) {
            if (IsInfoFrame(Reader.Position()) || !Reader.FrameComplete())
                continue;
            const auto Length = static_cast<size_t>(Reader.FrameLength());
            if (Reader.Map().Mapped())
                Feeder.AddFrame(Reader.Map().Data() + Reader.Position(), Length,
                                Reader.FrameTicks());
            else if (!Reader.ReadFrame(Feeder.AddFrameSpace(Length, Reader.FrameTicks())))
                return TOverviewResult::Failed;
            if (Feeder.Full()) {
                if (!Feeder.Feed())
                    return TOverviewResult::Failed;
                if (Progress)
                    Progress(Sums.Position(), Scan.Ticks);
                if (Stop.load())
                    return TOverviewResult::Stopped;
            }
        }
        if (Stop.load())
            return TOverviewResult::Stopped;
        if (!Feeder.Feed() || Feeder.DecodedFrames() == 0)
            return TOverviewResult::Failed;
        Sums.Finish();
        if (Progress)
            Progress(Scan.Ticks, Scan.Ticks);
        return TOverviewResult::Done;
    } catch (const Exception&) {
        return TOverviewResult::Failed;
    } catch (const std::bad_alloc&) {
        return TOverviewResult::Failed;
    }
}

TOverviewBuilder::TOverviewBuilder(std::string FileName, std::string CacheFolder,
                                   TOverviewProgress Progress)
    : FFileName(std::move(FileName)), FCacheFolder(std::move(CacheFolder)),
      FProgress(std::move(Progress)) {}

TOverviewBuilder::~TOverviewBuilder() {
    Stop();
    Wait();
}

void TOverviewBuilder::Start() {
    TState Idle = TState::Idle;
    if (!FState.compare_exchange_strong(Idle, TState::Running))
        return;
    FWorker = std::thread([this] { Run(); });
}

void TOverviewBuilder::Wait() {
    if (FWorker.joinable())
        FWorker.join();
}

std::shared_ptr<const TLoudnessOverview> TOverviewBuilder::Overview() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FOverview;
}

void TOverviewBuilder::SetOverview(std::shared_ptr<const TLoudnessOverview> Overview) {
    std::lock_guard<std::mutex> Guard(FLock);
    FOverview = std::move(Overview);
}

void TOverviewBuilder::Run() {
    const std::optional<TOverviewKey> Key = OverviewKeyOf(FFileName);
    if (Key && !FCacheFolder.empty()) {
        if (std::shared_ptr<const TLoudnessOverview> Kept = LoadOverview(FCacheFolder, *Key)) {
            SetOverview(std::move(Kept));
            FState.store(TState::Done);
            return;
        }
    }
    std::shared_ptr<const TLoudnessOverview> Decoded;
    const TOverviewResult Result = DecodeOverview(
        FFileName, FStop,
        [this, &Decoded](std::shared_ptr<const TLoudnessOverview> Overview) {
            Decoded = Overview;
            SetOverview(std::move(Overview));
        },
        FProgress);
    if (Result == TOverviewResult::Failed) {
        SetOverview(nullptr);
        FState.store(TState::Failed);
        return;
    }
    // Kept only when the file is still the one decoded.
    if (Result == TOverviewResult::Done && Key && !FCacheFolder.empty() &&
        OverviewKeyOf(FFileName) == Key)
        SaveOverview(FCacheFolder, *Key, *Decoded);
    FState.store(Result == TOverviewResult::Done ? TState::Done : TState::Stopped);
}
