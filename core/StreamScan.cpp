#include "StreamScan.h"

#include "Errors.h"
#include "FrameClock.h"
#include "Processors.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// What a walk has counted of the audio frames it passed.
struct TSums {
    int64_t Frames = 0;
    int64_t Bytes = 0;
    int64_t Ticks = 0;
    int64_t Tags = 0; // the reader's TagBytes()
};

// The second half of a file, walked by a thread of its own on a reader of
// the same open file. It keeps the offsets of its first frames, each with
// the sums of the frames before it; where the calling thread's walk meets
// one of them, both walks would go on alike, and the calling thread takes
// the second walk's sums from there on.
class TSecondHalf {
public:
    // How many of its first frames the second walk keeps.
    static constexpr int Kept = 64;

    struct TEntry {
        int64_t Offset = 0;
        TSums Before;
    };
    // The end of the second walk.
    struct TTail {
        TSums Sums;
        int64_t LastAudio = -1;
        int64_t AudioEnd = -1;
        // The index of the last frame whose bit rate differs from the one
        // before it (0 for the first), and the last frame's bit rate: the
        // frames from index I on keep one rate when LastChange <= I.
        int64_t LastChange = 0;
        int32_t LastBitrate = -1;
        // Where the frames' play time changes: the frame's index, the ticks
        // before it and its play time, the first frame's included. Rare
        // (a change of sample rate or layer), so kept whole.
        struct TTicksChange {
            int64_t Index;
            int64_t Before;
            int64_t FrameTicks;
        };
        std::vector<TTicksChange> TicksChanges;
        std::vector<int64_t> InfoFrames;
    };
    enum class TAnswer { Match, NotHere, GiveUp, Stop };

    // Opens the second reader; Started() is false when it could not (no
    // handle, no mapping or no thread left): the calling thread then walks
    // alone.
    TSecondHalf(const TMP3Reader& Main, int64_t From) {
        try {
            FReader.OpenSameFile(Main);
        } catch (const std::exception&) {
            return;
        }
        if (!FReader.Map().Mapped())
            return;
        FReader.SetKeptBehind(0);
        FReader.SearchFrom(From);
        FReader.SetSearchCheck([this] {
            {
                std::lock_guard Guard(FLock);
                ++FChecksAsked;
            }
            FChanged.notify_one();
            return FStop.load(std::memory_order_relaxed);
        });
        // Signals sent to the process are left to the calling thread, whose
        // handlers expect them there: the new thread starts with them
        // blocked. Faults stay open, as the mapping's read failures come
        // through them.
        sigset_t Blocked, Previous;
        sigfillset(&Blocked);
        for (int Fault : {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
            sigdelset(&Blocked, Fault);
        pthread_sigmask(SIG_BLOCK, &Blocked, &Previous);
        try {
            FThread = std::thread(&TSecondHalf::Run, this);
        } catch (const std::exception&) {
        }
        pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
    }
    ~TSecondHalf() {
        FStop.store(true, std::memory_order_relaxed);
        if (FThread.joinable())
            FThread.join();
    }
    TSecondHalf(const TSecondHalf&) = delete;
    TSecondHalf& operator=(const TSecondHalf&) = delete;

    bool Started() const { return FThread.joinable(); }
    void Stop() { FStop.store(true, std::memory_order_relaxed); }

    // Whether the second walk took a frame at At (Match, its entry in
    // Entry), passed At without taking it (NotHere: the calling thread goes
    // on and asks again at its next frame), or will not be met any more
    // (GiveUp). Waits for the second walk to get that far; Stop when the
    // check, asked meanwhile, told to stop.
    TAnswer Find(int64_t At, const std::function<bool()>& Check, TEntry& Entry) {
        for (;;) {
            const int Count = FCount.load(std::memory_order_acquire);
            while (FNext < Count && FEntries[FNext].Offset < At)
                ++FNext;
            if (FNext < Count) {
                if (FEntries[FNext].Offset != At)
                    return TAnswer::NotHere;
                Entry = FEntries[FNext];
                return TAnswer::Match;
            }
            if (Count == Kept)
                return TAnswer::GiveUp;
            const bool Done = Wait(Count);
            if (!AskChecks(Check))
                return TAnswer::Stop;
            if (Done && FCount.load(std::memory_order_acquire) == Count) {
                if (FError)
                    std::rethrow_exception(FError);
                return TAnswer::GiveUp;
            }
        }
    }

    // Waits for the end of the second walk; false when the check, asked
    // meanwhile, told to stop. Raises the second walk's error.
    bool Finish(const std::function<bool()>& Check) {
        for (;;) {
            const bool Done = Wait(-1);
            if (!AskChecks(Check))
                return false;
            if (Done) {
                if (FError)
                    std::rethrow_exception(FError);
                return true;
            }
        }
    }
    const TTail& Tail() const { return FTail; }

private:
    void Run() {
        pthread_setname_np(pthread_self(), "segmora-scan");
        try {
            Walk();
        } catch (...) {
            FError = std::current_exception();
        }
        {
            std::lock_guard Guard(FLock);
            FDone = true;
        }
        FChanged.notify_one();
    }

    // The loop of ScanStream over audio frames, counting only.
    void Walk() {
        TTail Tail;
        // The check is asked on the way too, not only in long searches:
        // the calling thread may be waiting for this walk to end.
        const std::function<bool()>& Check = FReader.SearchCheck();
        int64_t NextCheck = FReader.Position() + TMP3Reader::SearchCheckBytes;
        while (!FStop.load(std::memory_order_relaxed) && FReader.FindNextFrame(0)) {
            const int64_t At = FReader.Position();
            const int32_t Length = FReader.FrameLength();
            if (!FReader.FrameComplete())
                break;
            if (At >= NextCheck) {
                if (Check())
                    break;
                NextCheck = At + TMP3Reader::SearchCheckBytes;
            }
            if (FReader.IsInfoFrame()) {
                Tail.InfoFrames.push_back(At);
                continue;
            }
            Tail.Sums.Tags = FReader.TagBytes();
            if (Tail.Sums.Frames < Kept) {
                const int Count = static_cast<int>(Tail.Sums.Frames);
                FEntries[Count] = {At, Tail.Sums};
                {
                    std::lock_guard Guard(FLock);
                    FCount.store(Count + 1, std::memory_order_release);
                }
                FChanged.notify_one();
            }
            if (FReader.Bitrate() != Tail.LastBitrate) {
                Tail.LastChange = Tail.Sums.Frames;
                Tail.LastBitrate = FReader.Bitrate();
            }
            if (Tail.TicksChanges.empty() ||
                FReader.FrameTicks() != Tail.TicksChanges.back().FrameTicks)
                Tail.TicksChanges.push_back(
                    {Tail.Sums.Frames, Tail.Sums.Ticks, FReader.FrameTicks()});
            ++Tail.Sums.Frames;
            Tail.Sums.Bytes += Length;
            Tail.LastAudio = At;
            Tail.AudioEnd = At + Length;
            Tail.Sums.Ticks += FReader.FrameTicks();
        }
        Tail.Sums.Tags = FReader.TagBytes();
        FTail = Tail;
    }

    // Waits until the second walk kept more than Count frames (never, when
    // Count is negative), ended, or asked for its check. True when it ended.
    bool Wait(int Count) {
        std::unique_lock Guard(FLock);
        FChanged.wait(Guard, [&] {
            return FDone || FChecksAsked > FChecksDone ||
                   (Count >= 0 && FCount.load(std::memory_order_relaxed) > Count);
        });
        FChecksDue = FChecksAsked;
        return FDone;
    }

    // Asks the real check once for each check the second walk asked for
    // (one per SearchCheckBytes it searched). False, and the second walk
    // told to stop, when it says stop.
    bool AskChecks(const std::function<bool()>& Check) {
        while (FChecksDone < FChecksDue) {
            ++FChecksDone;
            if (Check && Check()) {
                Stop();
                return false;
            }
        }
        return true;
    }

    TMP3Reader FReader;
    std::array<TEntry, Kept> FEntries{};
    std::atomic<int> FCount{0};
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::condition_variable FChanged;
    // Guarded by FLock: the checks the second walk asked for, and its end.
    int64_t FChecksAsked = 0;
    bool FDone = false;
    // The calling thread's own: the checks it knows of, and asked.
    int64_t FChecksDue = 0;
    int64_t FChecksDone = 0;
    int FNext = 0;
    // Written by the second walk before it marks its end.
    TTail FTail;
    std::exception_ptr FError;
    std::thread FThread;
};

// Once the second half's walk is taken over at Entry: whether its frames
// from there on last other than the first audio frame, and where the first
// of them starts. The first walk has seen the frames before Entry.
void TakeTicksChange(TStreamScan& Scan, const TSecondHalf::TTail& Tail, const TSums& Entry) {
    const auto& Changes = Tail.TicksChanges;
    for (size_t I = 0; I < Changes.size(); ++I) {
        const bool Last = I + 1 == Changes.size();
        // The change in force at the entry, and every one after it.
        if (!Last && Changes[I + 1].Index <= Entry.Frames)
            continue;
        if (Changes[I].FrameTicks != Scan.First.Ticks) {
            Scan.FrameTicksVary = true;
            Scan.FrameTicksChangeAt =
                Scan.Ticks + std::max<int64_t>(0, Changes[I].Before - Entry.Ticks);
            return;
        }
    }
}

// The walk of ScanStream. With Second, the frames from SecondFrom on are
// also walked by the second half, which the walk hands over to where it can.
TStreamScan Walk(TMP3Reader& Reader, bool WithMusicCRC, TSecondHalf* Second, int64_t SecondFrom) {
    // Nothing is written from the map: no page behind the frame the walk
    // stands on need stay mapped. (With the second half's map beside it,
    // this keeps the scan's resident size below the copy's.)
    struct TKeepNothingBehind {
        TMP3Reader& Reader;
        const int64_t Kept = Reader.Map().KeptBehindBytes();
        explicit TKeepNothingBehind(TMP3Reader& R) : Reader(R) { Reader.SetKeptBehind(0); }
        ~TKeepNothingBehind() { Reader.SetKeptBehind(Kept); }
    } KeepNothingBehind(Reader);
    TStreamScan Scan;
    Scan.FileSize = Reader.FileSize();
    Scan.AudioLimit = Reader.AudioLimit();
    std::vector<uint8_t> Frame(MaxFrameLength);
    int64_t HandOverFrom = Second != nullptr ? SecondFrom : INT64_MAX;
    const std::function<bool()>& Check = Reader.SearchCheck();
    int64_t NextCheck = TMP3Reader::SearchCheckBytes;
    // The tags crossed before the first audio frame are not between frames.
    int64_t TagsBefore = 0;
    while (Reader.FindNextFrame(0)) {
        const int64_t At = Reader.Position();
        const int32_t Length = Reader.FrameLength();
        if (!Reader.FrameComplete())
            break;
        if (Check && At >= NextCheck) {
            if (Check()) {
                Reader.SearchFrom(Scan.FileSize);
                return Scan;
            }
            NextCheck = At + TMP3Reader::SearchCheckBytes;
        }
        if (Second != nullptr && At >= HandOverFrom) {
            // The first frames are this walk's own: the second half knows
            // nothing of the information frame and the first audio frame.
            TSecondHalf::TEntry Entry;
            const TSecondHalf::TAnswer Answer = Scan.AudioFrames == 0
                                                    ? TSecondHalf::TAnswer::GiveUp
                                                    : Second->Find(At, Reader.SearchCheck(), Entry);
            if (Answer == TSecondHalf::TAnswer::Stop ||
                (Answer == TSecondHalf::TAnswer::Match && !Second->Finish(Reader.SearchCheck()))) {
                Reader.SearchFrom(Scan.FileSize);
                return Scan;
            }
            if (Answer == TSecondHalf::TAnswer::Match) {
                const TSecondHalf::TTail& Tail = Second->Tail();
                Scan.AudioFrames += Tail.Sums.Frames - Entry.Before.Frames;
                Scan.AudioBytes += Tail.Sums.Bytes - Entry.Before.Bytes;
                if (!Scan.FrameTicksVary)
                    TakeTicksChange(Scan, Tail, Entry.Before);
                Scan.Ticks += Tail.Sums.Ticks - Entry.Before.Ticks;
                Scan.TagBytes = Reader.TagBytes() - TagsBefore + Tail.Sums.Tags - Entry.Before.Tags;
                Scan.LastAudio = Tail.LastAudio;
                Scan.AudioEnd = Tail.AudioEnd;
                for (const int64_t Offset : Tail.InfoFrames)
                    if (Offset > At)
                        Scan.InfoFrames.push_back(Offset);
                if (Tail.LastChange > Entry.Before.Frames || Tail.LastBitrate != Scan.First.Bitrate)
                    Scan.BitrateVaries = true;
                Reader.SearchFrom(Scan.FileSize);
                return Scan;
            }
            if (Answer == TSecondHalf::TAnswer::GiveUp) {
                Second->Stop();
                HandOverFrom = INT64_MAX;
            }
        }
        if (Scan.AudioFrames == 0) {
            // The header bytes of the first audio frame, and the whole first
            // frame to tell whether it is an information frame.
            if (!Reader.ReadFrame(Frame.data()))
                break;
            if (Scan.FirstFrameOffset < 0) {
                Scan.FirstFrameOffset = At;
                Scan.FirstFrame = Reader.FrameInfo();
                if (ParseInfoFrame(Frame.data(), static_cast<size_t>(Length), Scan.Info)) {
                    Scan.InfoOffset = At;
                    Scan.InfoLength = Length;
                    Scan.InfoFrames.push_back(At);
                    continue;
                }
            }
            // Another information frame before the audio: no sound either.
            if (ParseInfoFrame(Frame.data(), static_cast<size_t>(Length))) {
                Scan.InfoFrames.push_back(At);
                continue;
            }
            Scan.FirstHeader = FrameHeaderAt(Frame.data());
            Scan.First = Reader.FrameInfo();
            Scan.AudioStart = At;
            TagsBefore = Reader.TagBytes();
            Scan.HasMusicCRC = WithMusicCRC && Scan.Info.HasExtension;
        } else if (Reader.IsInfoFrame()) {
            Scan.InfoFrames.push_back(At);
            continue;
        }
        if (Scan.HasMusicCRC) {
            // In place from the mapping; a source shrunk under it fails
            // the read rather than giving the zeros laid over the gone pages.
            const TSourceMap& Map = Reader.Map();
            const uint8_t* Bytes = Frame.data();
            if (Map.Mapped())
                Bytes = Map.Data() + At;
            else if (Scan.AudioFrames > 0 && !Reader.ReadFrame(Frame.data()))
                break;
            Scan.MusicCRC = Crc16(Bytes, static_cast<size_t>(Length), Scan.MusicCRC);
            if (Map.Mapped() && Map.Faulted())
                Map.RaiseShrunk();
        }
        if (Reader.Bitrate() != Scan.First.Bitrate)
            Scan.BitrateVaries = true;
        if (!Scan.FrameTicksVary && Reader.FrameTicks() != Scan.First.Ticks) {
            Scan.FrameTicksVary = true;
            Scan.FrameTicksChangeAt = Scan.Ticks;
        }
        ++Scan.AudioFrames;
        Scan.AudioBytes += Length;
        Scan.LastAudio = At;
        Scan.AudioEnd = At + Length;
        Scan.Ticks += Reader.FrameTicks();
    }
    Scan.TagBytes = Reader.TagBytes() - TagsBefore;
    return Scan;
}

} // namespace

bool TStreamScan::MostlyUnframed() const {
    // What is not frames at either end is allowed for: tags in front and
    // behind, and tags between frames. Half of what lies between must be
    // frames.
    const int64_t Span = (AudioStart >= 0 ? AudioLimit - AudioStart : AudioLimit) - TagBytes;
    return AudioFrames == 0 || AudioBytes * 2 < Span - 128;
}

TClockSpan PlayedClockSpan(const TStreamScan& Scan) {
    if (Scan.AudioFrames == 0 || Scan.First.Layer != 3 || Scan.First.SampleRate <= 0 ||
        Scan.FrameTicksVary)
        return {0, Scan.Ticks};
    const int64_t Sample = SamplesToTicks(1, Scan.First.SampleRate);
    const TPlayedSpan Played = PlayedSpan(Scan.Info, Scan.Ticks / Sample);
    return {Played.Start * Sample, Played.End * Sample};
}

void RefuseUnlessAudio(const TStreamScan& Scan, const std::string& FileName) {
    if (Scan.MostlyUnframed())
        throw ENotMpegAudio("Not an MPEG audio file: " + FileName +
                            "\nNo run of MPEG audio frames makes up most of it.");
}

TStreamScan ScanStream(TMP3Reader& Reader, bool WithMusicCRC) {
    // The walk waits on memory more than it computes: with a second
    // processor, two walks take little longer than one.
    if (!WithMusicCRC && Reader.Map().Mapped() && Reader.FileSize() >= ScanInHalvesMinSize &&
        !RunsOnOneProcessor())
        return ScanStreamInHalves(Reader, Reader.FileSize() / 2);
    return Walk(Reader, WithMusicCRC, nullptr, 0);
}

TStreamScan ScanStreamInHalves(TMP3Reader& Reader, int64_t SecondFrom) {
    SecondFrom = std::max<int64_t>(SecondFrom, 0);
    std::unique_ptr<TSecondHalf> Second;
    if (Reader.Map().Mapped() && SecondFrom < Reader.FileSize()) {
        Second = std::make_unique<TSecondHalf>(Reader, SecondFrom);
        if (!Second->Started())
            Second.reset();
    }
    return Walk(Reader, false, Second.get(), SecondFrom);
}

TStreamScan ScanStream(const std::string& FileName) {
    TMP3Reader Reader;
    Reader.Open(FileName);
    return ScanStream(Reader);
}
