#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// A read-only mapping of a whole source file, so that its frame headers are
// read in place and runs of frames go from the mapping to the output in one
// write each, without passing through a buffer of ours.
//
// The mapping is taken at the size the file had when it was opened. Should
// another process shrink the file meanwhile, the mapped pages past its new
// end are gone:
// - Reading one of them raises SIGBUS. The handler installed by Map lays
//   zero pages over the rest of the mapping from the faulting page on, marks
//   the map Faulted and lets the read go on, which then reads zeros. Readers
//   look at Faulted after each step and raise the read failure
//   (RaiseShrunk).
// - A write from such a page fails with EFAULT, which WriteTo raises as the
//   read failure.
// - Bytes between the new end and the end of its page read as zeros without
//   any fault; ShrankBelow tells when that may have happened.
//
// Only page-table entries are held: the pages stay in the page cache.
// Follow gives up the entries behind the walk, keeping the process's
// resident size small on files of any size.
class TSourceMap {
public:
    TSourceMap() = default;
    virtual ~TSourceMap();
    TSourceMap(const TSourceMap&) = delete;
    TSourceMap& operator=(const TSourceMap&) = delete;

    // Maps the first Size bytes of the open file Handle (not owned; it must
    // stay open while mapped); FileName goes into the read failure's
    // message. False when the file can't be mapped, is empty, or too many
    // maps are open; the map is then unmapped.
    bool Map(int Handle, int64_t Size, const std::string& FileName = {});
    void Unmap();

    bool Mapped() const { return FData != nullptr; }
    const uint8_t* Data() const { return FData; }
    int64_t Size() const { return FSize; }
    // True once a read met a page the file no longer holds: mapped bytes
    // read since may be zeros instead of the file's.
    bool Faulted() const { return FFaulted.load(std::memory_order_relaxed); }

    // Writes Count mapped bytes from Offset to Handle. Raises "Unable to read
    // file" when the source no longer holds them; the number written
    // otherwise, short of Count (errno telling why) when the output stopped
    // taking bytes.
    int32_t WriteTo(int Handle, int64_t Offset, uint32_t Count) const;

    // Raises the read failure of a file cut short under the map.
    [[noreturn]] void RaiseShrunk() const;

    // True when the file now ends before End (at most Size): mapped bytes
    // from its new end on are gone or read as zeros. A system call; for the
    // rare moments when something looks wrong.
    bool ShrankBelow(int64_t End) const;

    // Tells the map where a walk through it stands. Every StepBytes it
    // gives up the page-table entries more than KeptBehindBytes() behind
    // Position (in whole 2 MiB blocks of the address space, so up to 2 MiB
    // more stay), and fills those up to Ahead bytes in front of it in one
    // call, instead of a page fault per few pages. Cheap enough to call at
    // every frame.
    void Follow(int64_t Position) {
        if (Position >= FNextStep)
            TakeStep(Position);
    }
    // For a walk that starts again from the front: gives up every entry.
    void Restart();
    static constexpr int64_t StepBytes = 1024 * 1024;
    // How far behind the walk entries are kept. KeptBehind, the default,
    // leaves mapped what a frame writer still has to write behind the walk
    // (see TFrameWriter::MaxRun); a walk that writes nothing from the map
    // needs none.
    void SetKeptBehind(int64_t Bytes) { FKeptBehind = Bytes; }
    int64_t KeptBehindBytes() const { return FKeptBehind; }
    static constexpr int64_t KeptBehind = 1536 * 1024;
    static constexpr int64_t Ahead = 1024 * 1024;
    // How many maps may be open at once in the process.
    static constexpr int MaxMaps = 64;

private:
    void TakeStep(int64_t Position);

    int FHandle = -1;
    const uint8_t* FData = nullptr;
    int64_t FSize = 0;
    int64_t FReleased = 0;
    int64_t FFilled = 0;
    int64_t FNextStep = 0;
    int64_t FKeptBehind = KeptBehind;
    bool FCanFill = true;
    int FSlot = -1;
    std::atomic<bool> FFaulted{false};
    std::string FFileName;
};
