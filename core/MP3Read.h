#pragma once

#include "FileBufs.h"
#include "InfoFrame.h"
#include "MP3Utils.h"
#include "SourceMap.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Walks the MPEG audio frames of one file. The first frame is found wherever
// it lies; each following frame is reached by the current frame's length, and
// after data that isn't a frame the reader resynchronises, needing two valid
// headers one frame length apart. Tags and junk never reach the caller:
// - an ID3v2 tag where a search starts (at the start of the file, or right
//   behind a frame, as in two files joined) is crossed by its declared size,
//   and so are the tags right behind it, when a frame follows where the
//   sizes say; otherwise the search goes through the tag byte by byte, as
//   some writers store a wrong size;
// - the tags at the end of the file (ID3v1, APEv2, Lyrics3v2, an ID3v2 tag
//   with a footer), found from the end when the file is opened, hold no
//   frame: AudioLimit() is where they begin, and a frame reaching past it is
//   cut short, as by the end of the file.
//
// The file is mapped when it can be: headers are then read in place, and a
// caller that copies frames can write them straight from Map() (see
// TFrameWriter::AppendFrame). Otherwise, and for an empty file, the frames
// come through a TFileReadBuffer window. Both ways find the same frames.
class TMP3Reader {
public:
    // Size of the read window the reader gives its file buffer when the file
    // can't be mapped. Frames are at most 2881 bytes, so any size from 8192
    // up serves them from the window; 64 KiB keeps system calls rare while
    // the window still sits in the processor's cache (measured: larger
    // windows walk slower).
    static constexpr uint32_t WindowSize = 64 * 1024;

    TMP3Reader() = default;
    virtual ~TMP3Reader();
    TMP3Reader(const TMP3Reader&) = delete;
    TMP3Reader& operator=(const TMP3Reader&) = delete;

    // Opens an existing file for reading, letting other readers in and
    // keeping writers out. Raises EOSError when the file can't be opened.
    void Open(const std::string& FileName);
    // Opens the file that Other has open, for a walk over part of it beside
    // Other's: through a second handle on the same open file, not by its
    // name (which may lead to another file by now), at the size Other took
    // it. The locks that keep writers out belong to the open file, so they
    // stay as they are whichever handle closes first. Raises EOSError when
    // no handle is left.
    void OpenSameFile(const TMP3Reader& Other);
    // Releases the file; harmless in any state.
    void Close();

    // Back to the start of the open file, before its first frame: a job
    // that walked the frames once walks them again through the same handle.
    void Rewind() { SearchFrom(0); }
    // A fresh search for the first frame at or after Offset, without a
    // current frame: as Rewind, from anywhere.
    void SearchFrom(int64_t Offset) {
        FPosition = Offset;
        FTagBytes = 0;
        FFrameFound = false;
        FFollowed = false;
        FHolesCheckedUntil = 0;
        FMap.Restart();
    }
    // Moves to the next frame. Limit bounds Position, 0 meaning none. False
    // when no further frame exists.
    bool FindNextFrame(int64_t Limit = 0) {
        // The usual step, kept inline: in a mapped file, to the frame right
        // behind the current one, whose header was decoded when the current
        // one was taken (FFollowed is never true otherwise).
        if (FFollowed && Limit == 0) {
            FPosition += FFrame.FrameLength;
            FFrame = FNext;
            LookBehindFrame();
            if (!FFollowed || FMap.Faulted())
                CheckMappedStep();
            FMap.Follow(FPosition);
            return true;
        }
        return FindNextFrameSlow(Limit);
    }
    // Asked after every SearchCheckBytes bytes that a search for the next
    // frame passes over: a long stretch without frames must not keep a
    // request to stop waiting. A true answer ends the search as if no frame
    // followed. Empty: never asked.
    void SetSearchCheck(std::function<bool()> Check) { FSearchCheck = std::move(Check); }
    const std::function<bool()>& SearchCheck() const { return FSearchCheck; }
    static constexpr int64_t SearchCheckBytes = 4 * 1024 * 1024;
    // Copies the current frame (FrameLength bytes, header included) to Dest.
    // False when the file ends inside the frame. Raises "Frame is not found"
    // without a current frame.
    bool ReadFrame(void* Dest);
    // True when the current frame lies whole inside the file, that is when
    // ReadFrame would return true; reads nothing. Raises "Frame is not
    // found" without a current frame.
    bool FrameComplete() const {
        if (!FFrameFound)
            RaiseNoFrame();
        return FPosition + FFrame.FrameLength <= FAudioLimit;
    }
    // True when the current frame is an information frame (Xing, Info or
    // VBRI), wherever it lies: it holds no sound. A whole frame only.
    bool IsInfoFrame() {
        if (!FMap.Mapped() || !FFrameFound || !FrameComplete())
            return IsInfoFrameSlow();
        const uint8_t* Frame = FMap.Data() + FPosition;
        const auto Length = static_cast<size_t>(FFrame.FrameLength);
        return LooksLikeInfoFrame(Frame, Length, FFrame) && ParseInfoFrame(Frame, Length);
    }

    int64_t Position() const { return FPosition; }
    int64_t FileSize() const { return FFileSize; }
    // Where the tags at the end of the file begin (FileSize without them).
    int64_t AudioLimit() const { return FAudioLimit; }
    // Bytes of the tags crossed by their size since the last Rewind or
    // SearchFrom: not audio, wherever they lie.
    int64_t TagBytes() const { return FTagBytes; }
    bool FrameFound() const { return FFrameFound; }
    // The current frame's header, decoded.
    const TMP3FrameInfo& FrameInfo() const { return FFrame; }
    uint8_t Version() const { return FFrame.Version; }
    uint8_t Layer() const { return FFrame.Layer; }
    int32_t SampleRate() const { return FFrame.SampleRate; }
    int32_t Bitrate() const { return FFrame.Bitrate; }
    uint8_t ChannelMode() const { return FFrame.ChannelMode; }
    int32_t FrameLength() const { return FFrame.FrameLength; }
    double FrameDuration() const { return FFrame.Duration; }
    int32_t FrameTicks() const { return FFrame.Ticks; }
    bool IsOpen() const { return FHandle >= 0; }
    // The open file's handle, for reading its tag without opening it again.
    int Handle() const { return FHandle; }
    // The mapping of the open file; not Mapped() when the frames come
    // through the read window.
    const TSourceMap& Map() const { return FMap; }
    // See TSourceMap::SetKeptBehind.
    void SetKeptBehind(int64_t Bytes) { FMap.SetKeptBehind(Bytes); }

private:
    // Takes the open Handle as the reader's file; Size -1 asks the file,
    // Limit -1 looks for tags at its end.
    void TakeHandle(int Handle, const std::string& FileName, int64_t Size, int64_t Limit);
    // Reads Count bytes at At from the mapping or the read window; false
    // when fewer are there before the end of the file.
    bool ReadBytes(int64_t At, uint8_t* Dest, uint32_t Count);
    // Where the tags at the end of the file begin.
    int64_t FindTrailingTags();
    // Behind the tags that start at At, when a frame follows them; At
    // otherwise.
    int64_t CrossTags(int64_t At);
    [[noreturn]] static void RaiseNoFrame();
    bool ReadHeader(int64_t At, uint32_t& Header);
    template <bool Mapped> bool IsFrameAt(int64_t At);
    template <bool Mapped> bool FindFrame(int64_t Limit);
    int64_t FindByteInMap(uint8_t Byte, int64_t From, int64_t Until);
    bool FindNextFrameSlow(int64_t Limit);
    bool IsInfoFrameSlow();
    // Raises "Unable to read file" when the last step may have read bytes
    // the mapped file no longer holds.
    void CheckMappedStep();
    // Decodes the header right behind the current frame of a mapped file
    // into FNext, FFollowed telling whether there is one.
    void LookBehindFrame() {
        const int64_t End = FPosition + FFrame.FrameLength;
        FFollowed = End + 4 <= FAudioLimit && DecodeFrameHeader(MappedHeader(End), FNext);
        // The walk touches one header per frame, too far apart for the
        // processor to see a pattern: ask for the header some frames ahead
        // now, guessing that they are as long as this one.
        const int64_t Ahead = End + int64_t{PrefetchFrames} * FFrame.FrameLength;
        __builtin_prefetch(FMap.Data() + std::min(Ahead, FFileSize - 1));
    }
    uint32_t MappedHeader(int64_t At) const { return FrameHeaderAt(FMap.Data() + At); }

    int FHandle = -1;
    std::string FFileName;
    int64_t FPosition = 0;
    int64_t FFileSize = 0;
    int64_t FAudioLimit = 0;
    int64_t FTagBytes = 0;
    bool FFrameFound = false;
    TMP3FrameInfo FFrame{};
    std::unique_ptr<TFileReadBuffer> FBuffer;
    std::function<bool()> FSearchCheck;
    TSourceMap FMap;
    // Mapped: whether a valid header follows the current frame directly,
    // and that header decoded.
    bool FFollowed = false;
    TMP3FrameInfo FNext{};
    // A search through the mapping asks the file system where data lies
    // (passing over the holes of a sparse file) once per HoleCheckStep.
    static constexpr int64_t HoleCheckStep = 1024 * 1024;
    // How many frames ahead of the walk the next headers are fetched.
    static constexpr int32_t PrefetchFrames = 16;
    int64_t FHolesCheckedUntil = 0;
};
