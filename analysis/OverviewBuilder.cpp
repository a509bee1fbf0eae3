#include "OverviewBuilder.h"

#include "Errors.h"
#include "FrameClock.h"
#include "MP3Read.h"
#include "OverviewCache.h"
#include "Processors.h"
#include "StreamScan.h"

#include <mpg123.h>

#include <algorithm>
#include <array>
#include <climits>
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
    // From block FirstBlock on; Ahead: as the overview's second writer.
    explicit TBlockSums(TLoudnessOverview& Overview, int64_t FirstBlock = 0, bool Ahead = false)
        : FOverview(Overview), FPosition(FirstBlock * Overview.BlockTicks()), FBlock(FirstBlock),
          FAhead(Ahead) {}

    int64_t Position() const { return FPosition; }
    // The next block to close.
    int64_t Block() const { return FBlock; }
    // Samples from Limit on are left out.
    void SetLimit(int64_t Limit) { FLimit = Limit; }

    // Frames samples of Channels each (interleaved), the first at At.
    void Add(int64_t At, const float* Samples, int64_t Frames, int Channels,
             int64_t TicksPerSample) {
        if (At > FPosition) {
            MoveTo(std::min(At, FLimit));
        } else if (At < FPosition) {
            // What lies before the first block: frames decoded only to
            // fill the decoder's memory.
            const int64_t Skip = (FPosition - At + TicksPerSample - 1) / TicksPerSample;
            if (Skip >= Frames)
                return;
            Samples += Skip * Channels;
            Frames -= Skip;
        }
        if (FPosition >= FLimit)
            return;
        const int64_t Room = FLimit - FPosition;
        Frames = std::min(Frames, Room / TicksPerSample + (Room % TicksPerSample != 0));
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

    // Closes the block begun.
    void Flush() {
        if (FCount > 0)
            Close();
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
        const double MeanSquare = FCount > 0 ? FSquares / static_cast<double>(FCount) : 0;
        if (FAhead)
            FOverview.SetAhead(FBlock, FPeak, MeanSquare);
        else
            FOverview.AddBlock(FPeak, MeanSquare);
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
    bool FAhead;
    int64_t FLimit = INT64_MAX;
    float FPeak = 0;
    double FSquares = 0;
    int64_t FCount = 0;
};

// Feeds the decoder runs of frames and places its output: the decoder
// numbers the frames it decodes from 0, in the order fed, and each frame's
// output starts where the frame starts on the frames' clock.
class TFeeder {
public:
    // The first frame fed starts at StartTicks.
    TFeeder(mpg123_handle* Handle, TBlockSums& Sums, int64_t StartTicks)
        : FHandle(Handle), FSums(Sums), FTicks(StartTicks) {
        FBytes.reserve(FeedBytes + 4096);
    }
    // Where the next frame fed starts.
    int64_t Ticks() const { return FTicks; }

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
    int64_t FTicks;
    int64_t FDecoded = 0;
    int FChannels = 0;
    int64_t FTicksPerSample = 0;
};

enum class TFed { End, Limit, Stopped, Failed };

// Feeds the audio frames from the reader's next on (its current one first
// when Pending), until the file ends or a frame starts at or behind Limit
// on the frames' clock; that frame is then left Pending.
TFed FeedFrames(TMP3Reader& Reader, TInfoFrameSkip& IsInfoFrame, TFeeder& Feeder, bool& Pending,
                int64_t Limit, const std::function<bool()>& Stopped,
                const std::function<void()>& Report) {
    while (Pending || Reader.FindNextFrame()) {
        Pending = false;
        if (IsInfoFrame(Reader.Position()) || !Reader.FrameComplete())
            continue;
        if (Feeder.Ticks() >= Limit) {
            Pending = true;
            break;
        }
        const auto Length = static_cast<size_t>(Reader.FrameLength());
        if (Reader.Map().Mapped())
            Feeder.AddFrame(Reader.Map().Data() + Reader.Position(), Length, Reader.FrameTicks());
        else if (!Reader.ReadFrame(Feeder.AddFrameSpace(Length, Reader.FrameTicks())))
            return TFed::Failed;
        if (Feeder.Full()) {
            if (!Feeder.Feed())
                return TFed::Failed;
            if (Report)
                Report();
            if (Stopped())
                return TFed::Stopped;
        }
    }
    if (Stopped())
        return TFed::Stopped;
    if (!Feeder.Feed())
        return TFed::Failed;
    return Pending ? TFed::Limit : TFed::End;
}

// Frames decoded before the second half's first, their output left out:
// Layer III frames borrow up to 511 bytes from the frames before, and the
// decoder's filters carry over a frame; ten frames cover both at any rate.
constexpr int PrerollFrames = 10;

// Where a second thread takes over the decoding.
struct TSplit {
    int64_t PrerollOffset = -1; // the first frame it decodes
    int64_t PrerollTicks = 0;   // where that frame starts
    int64_t FirstBlock = 0;     // the first block it sums
};

// The first audio frame at or behind the middle of the audio, PrerollFrames
// after the frame the second half starts decoding with.
TSplit FindSplit(TMP3Reader& Reader, const TStreamScan& Scan, int64_t BlockTicks) {
    TInfoFrameSkip IsInfoFrame(Scan);
    std::array<std::pair<int64_t, int64_t>, PrerollFrames + 1> Recent{};
    size_t Count = 0;
    int64_t Ticks = 0;
    const int64_t Middle = Scan.AudioStart + (Scan.AudioEnd - Scan.AudioStart) / 2;
    Reader.Rewind();
    while (Reader.FindNextFrame()) {
        if (IsInfoFrame(Reader.Position()) || !Reader.FrameComplete())
            continue;
        Recent[Count++ % Recent.size()] = {Reader.Position(), Ticks};
        if (Reader.Position() >= Middle && Count > Recent.size()) {
            const auto [Offset, Start] = Recent[Count % Recent.size()];
            return {Offset, Start, (Ticks + BlockTicks - 1) / BlockTicks};
        }
        Ticks += Reader.FrameTicks();
    }
    return {};
}

struct TSecondHalf {
    TFed Result = TFed::Failed;
    int64_t EndBlock = 0; // behind the last block it summed
};

// Decodes from the split to the end on a reader of its own, setting the
// blocks ahead of the first writer.
void DecodeSecondHalf(const TMP3Reader& First, const TStreamScan& Scan, const TSplit& Split,
                      TLoudnessOverview& Overview, const std::function<bool()>& Stopped,
                      TSecondHalf& Out) {
    try {
        TMP3Reader Reader;
        Reader.OpenSameFile(First);
        TDecoder Decoder;
        Reader.SearchFrom(Split.PrerollOffset);
        bool Pending = Reader.FindNextFrame();
        if (!Decoder.Ready() || !Pending || Reader.Position() != Split.PrerollOffset)
            return;
        TBlockSums Sums(Overview, Split.FirstBlock, true);
        TFeeder Feeder(Decoder.Handle(), Sums, Split.PrerollTicks);
        TInfoFrameSkip IsInfoFrame(Scan);
        Out.Result = FeedFrames(Reader, IsInfoFrame, Feeder, Pending, INT64_MAX, Stopped, {});
        Sums.Flush();
        Out.EndBlock = Sums.Block();
    } catch (const Exception&) {
        Out.Result = TFed::Failed;
    } catch (const std::bad_alloc&) {
        Out.Result = TFed::Failed;
    }
}

} // namespace

TOverviewResult DecodeOverview(const std::string& FileName, const std::atomic<bool>& Stop,
                               const TOverviewReady& Ready, const TOverviewProgress& Progress,
                               int64_t HalvesFrom) {
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
        TFeeder Feeder(Decoder.Handle(), Sums, 0);
        TInfoFrameSkip IsInfoFrame(Scan);
        const auto Report = [&] {
            if (Progress)
                Progress(Sums.Position(), Scan.Ticks);
        };

        // A second thread decodes the second half where the process may
        // use a second processor; the first stops where it took over.
        std::atomic<bool> Failed{false};
        const std::function<bool()> Stopped = [&] { return Stop.load() || Failed.load(); };
        TSplit Split;
        if (Reader.Map().Mapped() && Scan.AudioBytes >= HalvesFrom && !RunsOnOneProcessor())
            Split = FindSplit(Reader, Scan, Overview->BlockTicks());
        TSecondHalf Second;
        std::thread SecondThread;
        if (Split.PrerollOffset >= 0) {
            try {
                SecondThread = std::thread(DecodeSecondHalf, std::cref(Reader), std::cref(Scan),
                                           std::cref(Split), std::ref(*Overview),
                                           std::cref(Stopped), std::ref(Second));
                Sums.SetLimit(Split.FirstBlock * Overview->BlockTicks());
            } catch (const std::system_error&) {
            }
        }
        // Whatever the first thread meets, the second ends before its
        // reader and its overview go.
        struct TJoin {
            std::thread& Thread;
            std::atomic<bool>& Failed;
            ~TJoin() {
                if (Thread.joinable()) {
                    Failed.store(true);
                    Thread.join();
                }
            }
        } Join{SecondThread, Failed};
        bool Pending = false;
        Reader.Rewind();
        TFed Fed = FeedFrames(Reader, IsInfoFrame, Feeder, Pending,
                              SecondThread.joinable() ? Split.FirstBlock * Overview->BlockTicks()
                                                      : INT64_MAX,
                              Stopped, Report);
        bool Adopted = false;
        if (SecondThread.joinable()) {
            if (Fed == TFed::Failed)
                Failed.store(true);
            SecondThread.join();
            if (Fed == TFed::Limit || Fed == TFed::End) {
                if (Second.Result == TFed::End) {
                    Sums.Flush();
                    Overview->Adopt(Split.FirstBlock, Second.EndBlock);
                    Adopted = true;
                    Fed = TFed::End;
                } else if (Second.Result == TFed::Stopped) {
                    Fed = TFed::Stopped;
                } else {
                    // The second half failed: the first goes on alone.
                    Sums.SetLimit(INT64_MAX);
                    Fed = FeedFrames(Reader, IsInfoFrame, Feeder, Pending, INT64_MAX, Stopped,
                                     Report);
                }
            }
        }
        if (Fed == TFed::Stopped)
            return TOverviewResult::Stopped;
        if (Fed == TFed::Failed || Feeder.DecodedFrames() == 0)
            return TOverviewResult::Failed;
        if (!Adopted)
            Sums.Flush();
        Overview->Finish();
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
