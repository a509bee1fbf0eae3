#pragma once

// TAudioPlayer plays the one open source file through a GStreamer playbin:
// open, run, pause, stop, duration and position, seeking with an optional
// stop point, end-of-playback notification and a dump of the pipeline for
// diagnosis. All times are reference times in units of 100 ns.

#include "StreamScan.h"

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;

// The player's result codes: 32-bit, with the values of the media-graph
// service they were first written against. Negative values are failures.
using TPlayerResult = int32_t;

constexpr TPlayerResult PlayerCode(uint32_t Bits) {
    return static_cast<TPlayerResult>(Bits);
}

constexpr TPlayerResult S_OK = 0;
constexpr TPlayerResult S_FALSE = 1;
constexpr TPlayerResult VFW_S_DUPLICATE_NAME = PlayerCode(0x0004022D);
constexpr TPlayerResult VFW_S_PARTIAL_RENDER = PlayerCode(0x00040242);
constexpr TPlayerResult VFW_S_VIDEO_NOT_RENDERED = PlayerCode(0x00040257);
constexpr TPlayerResult VFW_S_AUDIO_NOT_RENDERED = PlayerCode(0x00040258);
constexpr TPlayerResult E_POINTER = PlayerCode(0x80004003);
constexpr TPlayerResult E_ABORT = PlayerCode(0x80004004);
constexpr TPlayerResult E_FAIL = PlayerCode(0x80004005);
constexpr TPlayerResult E_OUTOFMEMORY = PlayerCode(0x8007000E);
constexpr TPlayerResult E_INVALIDARG = PlayerCode(0x80070057);
constexpr TPlayerResult VFW_E_NOT_FOUND = PlayerCode(0x80040216);
constexpr TPlayerResult VFW_E_CANNOT_CONNECT = PlayerCode(0x80040217);
constexpr TPlayerResult VFW_E_CANNOT_RENDER = PlayerCode(0x80040218);
constexpr TPlayerResult VFW_E_INVALID_FILE_FORMAT = PlayerCode(0x8004022F);
constexpr TPlayerResult VFW_E_UNKNOWN_FILE_TYPE = PlayerCode(0x80040240);
constexpr TPlayerResult VFW_E_CANNOT_LOAD_SOURCE_FILTER = PlayerCode(0x80040241);
constexpr TPlayerResult VFW_E_NOT_IN_GRAPH = PlayerCode(0x8004025F);
constexpr TPlayerResult VFW_E_UNSUPPORTED_STREAM = PlayerCode(0x80040265);

// The message text of a result code; a code outside the table gives
// "Unknown error: " and the code in upper-case hexadecimal.
std::string ErrorText(TPlayerResult Code);

// The event posted to the notify object once for each message the pipeline
// queues; the receiver answers it with one CheckCompletion.
constexpr QEvent::Type PlayerEventMessage = static_cast<QEvent::Type>(QEvent::User + 1);

// Shared between the player and the pipeline's bus handler.
struct TBusHook;

struct TGstObjectUnref {
    void operator()(void* Object) const;
};

class TAudioPlayer {
public:
    TAudioPlayer();
    virtual ~TAudioPlayer();
    TAudioPlayer(const TAudioPlayer&) = delete;
    TAudioPlayer& operator=(const TAudioPlayer&) = delete;

    // The object that receives PlayerEventMessage; nullptr for none, when
    // the messages still queue for CheckCompletion to poll. Takes effect at
    // the next Open. A destroyed object is let go at once: the player is
    // left without one, and a pipeline opened with it stops posting.
    void NotifyWindow(QObject* Target);
    QObject* NotifyWindow() const { return FNotifyWindow; }

    // Builds the pipeline for the file and waits (bounded) for it to be
    // ready to play, paused at the start. Raises "Unable to open file. " +
    // ErrorText on failure, leaving the pipeline for SaveGraph and Close.
    // A pipeline still open is closed first.
    void Open(const std::string& FileName);
    // Run, pause and stop (stop keeps the position). Never raise.
    TPlayerResult Play();
    TPlayerResult Pause();
    TPlayerResult Stop();
    bool IsOpen() const;
    // Length and current position on the frames' clock, the one the cutter
    // counts in: the play time of the audio frames, an information frame
    // taking none. A sound heard at Position lies in the frame the cutter
    // reaches at that time, and playing to the end reaches Duration. Raise
    // "Unable to determine duration" and "Unable to determine current
    // position".
    int64_t Duration() const;
    int64_t Position() const;
    // The played clock, for cutting to the sample: every time the player
    // takes and gives (Duration, Position, Seek) then counts from the first
    // sample it plays of a Layer III file, its extension's delay and
    // padding left out, as the cut to the sample counts them; a part cut so
    // shows its marks' times from zero. Off, the frames' clock. Kept across
    // Open; takes effect at once.
    void SetPlayedClock(bool Value);
    bool PlayedClock() const { return FPlayedClock; }
    // The span of the frames' clock that the clock in use covers, in ticks:
    // the played clock's, or the whole of the frames' clock; from 0 on
    // without end when the frames are not known (the pipeline's timeline).
    TClockSpan ClockSpan() const;
    // The audio frames of the open file; 0 when they are not known.
    int64_t FrameCount() const { return FFrameCount; }
    // How far the pipeline's own timeline lies behind the frames' clock for
    // the open file: the delays the pipeline trims from the start, less a
    // frame it plays that the frames' clock does not count (VBRI).
    int64_t TimelineLead() const { return FLead; }
    // The length of one audio frame of the open file on the frames' clock,
    // in ticks; 0 when the frames are not known (the pipeline's timeline).
    int64_t FrameTicks() const { return FFrameTicks; }
    // Moves to Current (a negative one meaning 0) and plays up to Stop,
    // where playback completes; a Stop of -1 keeps the stop point set
    // before. Raises "Unable to set position", also for a stop point before
    // Current. Where the file's extension states a delay and padding that
    // the pipeline does not trim, the player keeps to the sound between
    // them: a Current before it starts at its start (as does a file just
    // opened), and playback completes at its end at the latest.
    void Seek(int64_t Current, int64_t Stop);
    // Fetches one queued message; true when it is the end of playback.
    bool CheckCompletion();
    // Stops and releases the pipeline; harmless in any state.
    void Close();
    // Writes the pipeline's description (a Graphviz graph) to the file.
    void SaveGraph(const std::string& FileName) const;

private:
    TPlayerResult SetState(int State);

    QObject* FNotifyWindow = nullptr;
    QMetaObject::Connection FNotifyWindowGone;
    // Follows the object the open pipeline posts to.
    QMetaObject::Connection FPipelineTargetGone;
    // The playbin; held from the start of Open, also when it fails.
    std::unique_ptr<GstElement, TGstObjectUnref> FGraph;
    // The pipeline's bus; held only once Open has succeeded.
    std::unique_ptr<GstBus, TGstObjectUnref> FEvent;
    std::shared_ptr<TBusHook> FHook;
    // Taken from the file's frames at Open; -1 leaves it to the pipeline
    // (no frames, or too few of them to be the audio).
    int64_t FDuration = -1;
    // Added to the pipeline's positions, taken off the times given to it.
    int64_t FLead = 0;
    // What the pipeline, or the player, trims from the end of the frames.
    int64_t FTail = 0;
    // Where the player trims an extension's delay and padding that the
    // pipeline does not: the span of the frames it plays. FPlayEnd is -1
    // when it trims nothing.
    int64_t FPlayStart = 0;
    int64_t FPlayEnd = -1;
    int64_t FFrameTicks = 0;
    int64_t FFrameCount = 0;
    bool FPlayedClock = false;
    // The span of the played clock on the frames' clock, in ticks.
    TClockSpan FPlayedSpan;
    // Where the clock in use starts on the frames' clock.
    int64_t ClockOrigin() const;
    // The stop point of the last Seek; -1 for the end of the stream.
    int64_t FStopPoint = -1;
};
