#include "SourceMap.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FileBufs.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace {

const int64_t PageSize = sysconf(_SC_PAGESIZE);
// A huge page on x86-64 and on arm64 with 4 KiB pages.
constexpr uintptr_t BlockSize = 2 * 1024 * 1024;

// The maps the fault handler knows: a fault inside [Low, High) of a slot is
// a read of that map. Low is set last and cleared first, so the handler
// never sees a half-filled slot.
struct TMapSlot {
    std::atomic<uintptr_t> Low{0};
    std::atomic<uintptr_t> High{0};
    std::atomic<std::atomic<bool>*> Faulted{nullptr};
};
TMapSlot Slots[TSourceMap::MaxMaps];
std::mutex SlotLock;

struct sigaction PreviousBusAction {};

void OnBusError(int Signal, siginfo_t* Info, void* Context) {
    const auto Address = reinterpret_cast<uintptr_t>(Info->si_addr);
    for (auto& Slot : Slots) {
        const uintptr_t Low = Slot.Low.load(std::memory_order_acquire);
        const uintptr_t High = Slot.High.load(std::memory_order_relaxed);
        if (Low == 0 || Address < Low || Address >= High)
            continue;
        // Zeros in place of the lost pages, to the end of the map: the read
        // goes on, and the reader learns from the mark.
        const uintptr_t Page = Address / static_cast<uintptr_t>(PageSize) * PageSize;
        mmap(reinterpret_cast<void*>(Page), High - Page, PROT_READ,
             MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        Slot.Faulted.load(std::memory_order_relaxed)->store(true, std::memory_order_relaxed);
        return;
    }
    // Not a read of ours: hand the fault on as it would have gone without us.
    if ((PreviousBusAction.sa_flags & SA_SIGINFO) != 0 && PreviousBusAction.sa_sigaction) {
        PreviousBusAction.sa_sigaction(Signal, Info, Context);
        return;
    }
    if (PreviousBusAction.sa_handler != SIG_DFL && PreviousBusAction.sa_handler != SIG_IGN) {
        PreviousBusAction.sa_handler(Signal);
        return;
    }
    // The faulting access runs again on return and meets the default action.
    signal(SIGBUS, SIG_DFL);
}

void InstallBusHandler() {
    static std::once_flag Once;
    std::call_once(Once, [] {
        struct sigaction Action {};
        Action.sa_sigaction = OnBusError;
        Action.sa_flags = SA_SIGINFO;
        sigemptyset(&Action.sa_mask);
        sigaction(SIGBUS, &Action, &PreviousBusAction);
    });
}

} // namespace

TSourceMap::~TSourceMap() {
    Unmap();
}

bool TSourceMap::Map(int Handle, int64_t Size, const std::string& FileName) {
    Unmap();
    FFileName = FileName;
    if (Size <= 0 || static_cast<uint64_t>(Size) > SIZE_MAX)
        return false;
    void* Address = mmap(nullptr, static_cast<size_t>(Size), PROT_READ, MAP_SHARED, Handle, 0);
    if (Address == MAP_FAILED)
        return false;
    InstallBusHandler();
    const auto Low = reinterpret_cast<uintptr_t>(Address);
    {
        std::lock_guard Guard(SlotLock);
        for (int I = 0; I < MaxMaps; ++I) {
            if (Slots[I].Low.load(std::memory_order_relaxed) != 0)
                continue;
            Slots[I].High.store(Low + static_cast<uintptr_t>(Size), std::memory_order_relaxed);
            Slots[I].Faulted.store(&FFaulted, std::memory_order_relaxed);
            Slots[I].Low.store(Low, std::memory_order_release);
            FSlot = I;
            break;
        }
    }
    if (FSlot < 0) {
        munmap(Address, static_cast<size_t>(Size));
        return false;
    }
    FHandle = Handle;
    FData = static_cast<const uint8_t*>(Address);
    FSize = Size;
    FReleased = 0;
    FFilled = 0;
    FNextStep = 0;
    FFaulted = false;
    return true;
}

void TSourceMap::Unmap() {
    if (FSlot >= 0) {
        std::lock_guard Guard(SlotLock);
        Slots[FSlot].Low.store(0, std::memory_order_release);
        FSlot = -1;
    }
    if (FData != nullptr)
        munmap(const_cast<uint8_t*>(FData), static_cast<size_t>(FSize));
    FData = nullptr;
    FSize = 0;
    FHandle = -1;
    FReleased = 0;
    FFilled = 0;
    FNextStep = 0;
}

int32_t TSourceMap::WriteTo(int Handle, int64_t Offset, uint32_t Count) const {
    const int32_t Written = FileWrite(Handle, FData + Offset, Count);
    const int Code = errno;
    if (Written != static_cast<int32_t>(Count) && Code == EFAULT)
        RaiseShrunk();
    // Zeros laid over lost pages, or the tail of the new last page, went out
    // in place of the source's bytes.
    if (Faulted() || ShrankBelow(Offset + Count))
        RaiseShrunk();
    errno = Code;
    return Written;
}

void TSourceMap::RaiseShrunk() const {
    RaiseReadFailure(0, FFileName);
}

bool TSourceMap::ShrankBelow(int64_t End) const {
    struct stat St {};
    if (fstat(FHandle, &St) != 0)
        return true;
    return St.st_size < std::min(End, FSize);
}

void TSourceMap::Restart() {
    if (FData != nullptr)
        madvise(const_cast<uint8_t*>(FData), static_cast<size_t>(FSize), MADV_DONTNEED);
    FReleased = 0;
    FFilled = 0;
    FNextStep = 0;
}

void TSourceMap::TakeStep(int64_t Position) {
    if (FData == nullptr)
        return;
    FNextStep = Position + StepBytes;
    auto* Data = const_cast<uint8_t*>(FData);
    // Only the entries go: the pages stay cached, and a later read of them
    // maps them again. They go in whole blocks of the largest size the
    // kernel maps at once: giving up part of such a block makes it split
    // the block's entry first, and each split costs a flush of the address
    // caches of the other processors running the job's threads.
    if (Position - FKeptBehind > 0) {
        const auto Base = reinterpret_cast<uintptr_t>(Data);
        const uintptr_t Kept =
            Base + static_cast<uintptr_t>(std::min(Position - FKeptBehind, FSize));
        const auto Behind = static_cast<int64_t>(Kept / BlockSize * BlockSize - Base);
        if (Behind > FReleased) {
            madvise(Data + FReleased, static_cast<size_t>(Behind - FReleased), MADV_DONTNEED);
            FReleased = Behind;
        }
    }
    // Kernels before 5.14 know no MADV_POPULATE_READ: the pages then come
    // in by faults.
    const int64_t Front = std::min(Position + Ahead, FSize);
    const int64_t From = std::max(FFilled, Position) / PageSize * PageSize;
    if (FCanFill && Front > From) {
        if (madvise(Data + From, static_cast<size_t>(Front - From), MADV_POPULATE_READ) != 0 &&
            errno == EINVAL)
            FCanFill = false;
        FFilled = Front;
    }
}
