#pragma once

#include "FileBufs.h"
#include "MP3Utils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Walks the MPEG audio frames of one file. The first frame is found wherever
// it lies; each following frame is reached by the current frame's length, and
// after data that isn't a frame the reader resynchronises, needing two valid
// headers one frame length apart. Tags and junk never reach the caller.
class TMP3Reader {
public:
    // Size of the read window the reader gives its file buffer. Frames are
    // at most 2881 bytes, so any size from 8192 up serves them from the
    // window; 64 KiB keeps system calls rare while the window still sits in
    // the processor's cache (measured: larger windows walk slower).
    static constexpr uint32_t WindowSize = 64 * 1024;

    TMP3Reader() = default;
    virtual ~TMP3Reader();
    TMP3Reader(const TMP3Reader&) = delete;
    TMP3Reader& operator=(const TMP3Reader&) = delete;

    // Opens an existing file for reading, letting other readers in and
    // keeping writers out. Raises EOSError when the file can't be opened.
    void Open(const std::string& FileName);
    // Releases the file; harmless in any state.
    void Close();

    // Back to the start of the open file, before its first frame: a job
    // that walked the frames once walks them again through the same handle.
    void Rewind() {
        FPosition = 0;
        FFrameFound = false;
    }
    // Moves to the next frame. Limit bounds Position, 0 meaning none. False
    // when no further frame exists.
    bool FindNextFrame(int64_t Limit = 0);
    // Asked after every SearchCheckBytes bytes that a search for the next
    // frame passes over: a long stretch without frames must not keep a
    // request to stop waiting. A true answer ends the search as if no frame
    // followed. Empty: never asked.
    void SetSearchCheck(std::function<bool()> Check) { FSearchCheck = std::move(Check); }
    static constexpr int64_t SearchCheckBytes = 4 * 1024 * 1024;
    // Copies the current frame (FrameLength bytes, header included) to Dest.
    // False when the file ends inside the frame. Raises "Frame is not found"
    // without a current frame.
    bool ReadFrame(void* Dest);

    int64_t Position() const { return FPosition; }
    int64_t FileSize() const { return FFileSize; }
    bool FrameFound() const { return FFrameFound; }
    uint8_t Version() const { return FFrame.Version; }
    uint8_t Layer() const { return FFrame.Layer; }
    int32_t SampleRate() const { return FFrame.SampleRate; }
    int32_t Bitrate() const { return FFrame.Bitrate; }
    uint8_t ChannelMode() const { return FFrame.ChannelMode; }
    int32_t FrameLength() const { return FFrame.FrameLength; }
    double FrameDuration() const { return FFrame.Duration; }
    bool IsOpen() const { return FHandle >= 0; }
    // The open file's handle, for reading its tag without opening it again.
    int Handle() const { return FHandle; }

private:
    bool ReadHeader(int64_t At, uint32_t& Header);
    bool IsFrameAt(int64_t At);

    int FHandle = -1;
    int64_t FPosition = 0;
    int64_t FFileSize = 0;
    bool FFrameFound = false;
    TMP3FrameInfo FFrame{};
    std::unique_ptr<TFileReadBuffer> FBuffer;
    std::function<bool()> FSearchCheck;
};
