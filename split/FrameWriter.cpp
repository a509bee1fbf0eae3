#include "FrameWriter.h"

#include "Errors.h"
#include "FileAccess.h"
#include "MP3Read.h"
#include "MP3Utils.h"
#include "Processors.h"
#include "SourceMap.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <utility>

struct TFrameWriter::TRun {
    TFileStream* Stream;
    const TSourceMap* Source;
    int64_t Start;
    uint32_t Count;
};

namespace {

// A run's write at memory speed, with room to spare.
constexpr std::chrono::microseconds SpinLimit{250};

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

// Busy-waits until Done() holds, for at most SpinLimit; returns at once on a
// single processor.
template <typename TDone> void SpinUntil(TDone Done) {
    if (RunsOnOneProcessor())
        return;
    const auto Until = std::chrono::steady_clock::now() + SpinLimit;
    for (;;) {
        for (int I = 0; I < 64; ++I) {
            if (Done())
                return;
            CpuRelax();
        }
        if (std::chrono::steady_clock::now() >= Until)
            return;
    }
}

} // namespace

// The thread that writes the runs, one after the other in the order they
// were handed over. After a failure it drops every run still queued and
// keeps the failure until the job's thread takes it.
class TFrameWriter::TBackground {
public:
    TBackground() {
        // The thread takes no asynchronous signal: the handlers of the
        // program (Ctrl+C, SIGTERM) run on the job's own thread, as before.
        sigset_t All, Previous;
        sigfillset(&All);
        for (int Sync : {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP})
            sigdelset(&All, Sync);
        pthread_sigmask(SIG_BLOCK, &All, &Previous);
        try {
            FThread = std::thread([this] { Loop(); });
        } catch (...) {
            pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
            throw;
        }
        pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
    }
    ~TBackground() {
        {
            std::lock_guard Guard(FLock);
            FQuit = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    TBackground(const TBackground&) = delete;
    TBackground& operator=(const TBackground&) = delete;

    // Queues Run, waiting while the runs that wait already hold MaxRun
    // bytes: short runs (frames between junk) queue up by the dozen rather
    // than each waiting for the one before.
    void Push(const TRun& Run) {
        auto Room = [&] {
            const uint64_t Queued = FQueued.load(std::memory_order_acquire);
            return Queued == 0 || Queued + Run.Count <= MaxRun;
        };
        // The thread makes room within one run's write, a fraction of a
        // millisecond: waiting for that on a processor of its own, the job
        // spares itself the sleep and the thread the wake-up call, which
        // cost much more (above all on a virtual machine, where waking an
        // idle processor goes through the host).
        SpinUntil(Room);
        std::unique_lock Guard(FLock);
        FChanged.wait(Guard, Room);
        FQueue.push_back(Run);
        FQueued.store(FQueued.load(std::memory_order_relaxed) + Run.Count,
                      std::memory_order_release);
        FChanged.notify_all();
    }
    // Waits until every run handed over is written or dropped.
    void Wait() {
        std::unique_lock Guard(FLock);
        FChanged.wait(Guard, [this] { return FQueue.empty() && !FBusy; });
    }
    bool Failed() const { return FFailedFlag.load(std::memory_order_acquire); }
    // The failure, once; null when there was none.
    std::exception_ptr TakeFailure() {
        std::lock_guard Guard(FLock);
        FFailedFlag.store(false, std::memory_order_relaxed);
        return std::exchange(FFailure, nullptr);
    }

private:
    void Loop() {
        std::unique_lock Guard(FLock);
        for (;;) {
            FChanged.wait(Guard, [this] { return FQuit || !FQueue.empty(); });
            if (FQueue.empty())
                return;
            const TRun Run = FQueue.front();
            FQueue.pop_front();
            FQueued.store(FQueued.load(std::memory_order_relaxed) - Run.Count,
                          std::memory_order_release);
            const bool Drop = FFailure != nullptr;
            FBusy = true;
            FChanged.notify_all();
            Guard.unlock();
            std::exception_ptr Failure;
            if (!Drop) {
                try {
                    WriteRun(Run);
                } catch (...) {
                    Failure = std::current_exception();
                }
            }
            Guard.lock();
            FBusy = false;
            if (Failure) {
                FFailure = Failure;
                FFailedFlag.store(true, std::memory_order_release);
            }
            FChanged.notify_all();
        }
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TRun> FQueue;
    // Bytes of the runs in FQueue; changed under FLock, looked at without.
    std::atomic<uint64_t> FQueued{0};
    bool FBusy = false;
    bool FQuit = false;
    std::exception_ptr FFailure;
    std::atomic<bool> FFailedFlag{false};
    std::thread FThread;
};

TFrameWriter::TFrameWriter(uint32_t Capacity)
    : FBuffer(std::make_unique_for_overwrite<uint8_t[]>(Capacity)), FCapacity(Capacity),
      FWriteBehind(!RunsOnOneProcessor()) {}

TFrameWriter::~TFrameWriter() = default;

void TFrameWriter::Attach(TFileStream& Stream) {
    Detach();
    FStream = &Stream;
    FBytesWritten = 0;
    FFailed = false;
}

void TFrameWriter::Detach() {
    if (FBackground) {
        FBackground->Wait();
        // A failure not raised by now belongs to the stream let go.
        FBackground->TakeFailure();
    }
    FStream = nullptr;
    FUsed = 0;
    FRunLength = 0;
}

const uint8_t* TFrameWriter::AppendFrameSlow(TMP3Reader& Reader) {
    const TSourceMap& Source = Reader.Map();
    const auto Length = static_cast<uint32_t>(Reader.FrameLength());
    if (!Source.Mapped() || FStream == nullptr) {
        // Read into the buffer (which also raises when no file is attached).
        uint8_t* Frame = Reserve(Length);
        if (!Reader.ReadFrame(Frame))
            return nullptr;
        Commit(Length);
        return Frame;
    }
    if (!Reader.FrameComplete())
        return nullptr;
    const uint8_t* Frame = Source.Data() + Reader.Position();
    if (FFailed)
        return Frame;
    FBytesWritten += Length;
    FlushRun();
    FlushBuffer();
    FRunSource = &Source;
    FRunStart = Reader.Position();
    FRunLength = Length;
    return Frame;
}

void TFrameWriter::Write(const void* Data, uint32_t Count) {
    if (FStream == nullptr)
        throw Exception("No output file is open");
    if (FFailed || Count == 0)
        return;
    FBytesWritten += Count;
    FlushRun();
    if (Count > FCapacity - FUsed) {
        Flush();
        // Larger than the whole buffer: no point in copying it first.
        if (Count >= FCapacity) {
            WriteOut(Data, Count);
            return;
        }
    }
    std::memcpy(FBuffer.get() + FUsed, Data, Count);
    FUsed += Count;
}

uint8_t* TFrameWriter::Reserve(uint32_t Count) {
    if (FStream == nullptr)
        throw Exception("No output file is open");
    FlushRun();
    if (Count > FCapacity - FUsed)
        Flush();
    if (Count > FCapacity) {
        FBuffer = std::make_unique_for_overwrite<uint8_t[]>(Count);
        FCapacity = Count;
    }
    return FBuffer.get() + FUsed;
}

void TFrameWriter::Commit(uint32_t Count) {
    if (FFailed)
        return;
    FUsed += Count;
    FBytesWritten += Count;
}

void TFrameWriter::Flush() {
    FlushRun();
    FlushBuffer();
    WaitForRuns();
}

void TFrameWriter::WaitForRuns() {
    if (FBackground) {
        FBackground->Wait();
        TakeRunFailure();
    }
}

void TFrameWriter::TakeRunFailure() {
    if (!FBackground || !FBackground->Failed())
        return;
    // The runs queued behind the failed one are dropped only while the
    // failure stands: taken before they are, they would be written behind
    // the gap.
    FBackground->Wait();
    const std::exception_ptr Failure = FBackground->TakeFailure();
    if (!Failure)
        return;
    FFailed = true;
    FUsed = 0;
    FRunLength = 0;
    std::rethrow_exception(Failure);
}

void TFrameWriter::FlushBuffer() {
    if (FStream == nullptr || FFailed || FUsed == 0)
        return;
    // The runs handed over come first in the file (a failure among them
    // raises here).
    WaitForRuns();
    const uint32_t Count = FUsed;
    FUsed = 0;
    WriteOut(FBuffer.get(), Count);
}

void TFrameWriter::FlushRun() {
    TakeRunFailure();
    if (FStream == nullptr || FFailed || FRunLength == 0)
        return;
    const TRun Run{FStream, FRunSource, FRunStart, FRunLength};
    FRunLength = 0;
    if (FWriteBehind && !FBackground) {
        try {
            FBackground = std::make_unique<TBackground>();
        } catch (const std::system_error&) {
            // No thread to be had: the runs are written here and now.
            FWriteBehind = false;
        }
    }
    // Once runs went to the thread, they all do: they go out in order.
    if (FBackground) {
        FBackground->Push(Run);
        return;
    }
    try {
        WriteRun(Run);
    } catch (...) {
        FFailed = true;
        throw;
    }
}

void TFrameWriter::WriteRun(const TRun& Run) {
    TFileStream& Stream = *Run.Stream;
    const uint8_t* Data = Run.Source->Data() + Run.Start;
    const int64_t Start = Stream.Position();
    errno = 0;
    int32_t Written = 0;
    try {
        Written = Run.Source->WriteTo(Stream.Handle(), Run.Start, Run.Count);
    } catch (...) {
        // The source lost bytes of the run, and what went out of it may
        // hold zeros in their place: none of it is kept.
        CutBackToWholeFrames(Stream, Start, Data, 0);
        throw;
    }
    if (Written < 0 || static_cast<uint32_t>(Written) != Run.Count)
        RaiseShortWrite(Stream, Start, Data, Written);
}

void TFrameWriter::WriteOut(const void* Data, uint32_t Count) {
    const int64_t Start = FStream->Position();
    errno = 0;
    const int32_t Written = FStream->Write(Data, Count);
    if (Written >= 0 && static_cast<uint32_t>(Written) == Count)
        return;
    FFailed = true;
    FUsed = 0;
    RaiseShortWrite(*FStream, Start, Data, Written);
}

void TFrameWriter::RaiseShortWrite(TFileStream& Stream, int64_t Start, const void* Data,
                                   int32_t Written) {
    const int Code = errno;
    CutBackToWholeFrames(Stream, Start, Data, Written < 0 ? 0 : static_cast<uint32_t>(Written));
    throw Exception(Stream.WriteErrorMessage(Code));
}

void TFrameWriter::CutBackToWholeFrames(TFileStream& Stream, int64_t Start, const void* Data,
                                        uint32_t Reached) {
    if (Start < 0)
        return;
    try {
        Stream.SetSize(Start + WholeFramesLength(static_cast<const uint8_t*>(Data), Reached));
    } catch (const Exception&) {
        // The write's own failure is the one to report.
    }
}

void TFrameWriter::FlushAfterFailure() noexcept {
    try {
        Flush();
    } catch (...) {
    }
}
