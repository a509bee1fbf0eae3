#include "PlayAudio.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FrameClock.h"
#include "StreamScan.h"

#include <QCoreApplication>
#include <QObject>
#include <gst/gst.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>

namespace {

struct TMessageUnref {
    void operator()(GstMessage* Message) const { gst_message_unref(Message); }
};
using TMessagePtr = std::unique_ptr<GstMessage, TMessageUnref>;

} // namespace

struct TBusHook {
    std::mutex Lock;
    std::condition_variable Changed;
    // Where notifications go. Cleared, under the lock, before the pipeline
    // is torn down, so that no notification can follow.
    QObject* Target = nullptr;
    // The messages not fetched yet, oldest first. Each one is here before
    // its notification is posted, so the receiver always finds it.
    std::deque<TMessagePtr> Queue;
    bool Prerolled = false;
    // The pipeline's first telling error, else its first general one; S_OK
    // while none has come.
    TPlayerResult Failure = S_OK;
    bool FailureTells = false;
};

void TGstObjectUnref::operator()(void* Object) const {
    if (Object != nullptr)
        gst_object_unref(Object);
}

namespace {

struct TErrorRow {
    TPlayerResult Code;
    const char* Text;
};

constexpr std::array<TErrorRow, 17> ErrorTable = {{
    {VFW_S_DUPLICATE_NAME,
     "An attempt to add a filter with a duplicate name succeeded with a modified name."},
    {VFW_S_PARTIAL_RENDER, "Some of the streams in this movie are in an unsupported format."},
    {VFW_S_VIDEO_NOT_RENDERED,
     "Cannot play back the video stream: could not find a suitable renderer."},
    {VFW_S_AUDIO_NOT_RENDERED,
     "Cannot play back the audio stream: could not find a suitable renderer."},
    {E_POINTER, "NULL pointer argument."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Failure."},
    {E_OUTOFMEMORY, "Insufficient memory."},
    {E_INVALIDARG, "Argument is invalid."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT,
     "No combination of intermediate filters could be found to make the connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_INVALID_FILE_FORMAT, "The file format is invalid."},
    {VFW_E_UNKNOWN_FILE_TYPE, "The media type of this file is not recognized."},
    {VFW_E_CANNOT_LOAD_SOURCE_FILTER, "The source filter for this file could not be loaded."},
    {VFW_E_NOT_IN_GRAPH,
     "Cannot perform the requested function on an object that is not in the filter graph."},
    {VFW_E_UNSUPPORTED_STREAM, "Cannot play back the file: the format is not supported."},
}};

// Long enough for a slow disk, short enough that a file the pipeline keeps
// chewing on does not hang the caller.
constexpr auto PrerollTimeout = std::chrono::seconds(5);
// How long a general error waits for a telling one.
constexpr auto ErrorGrace = std::chrono::milliseconds(500);
// How far short of the end the pipeline's last position may come from its
// rounding: 1 ms.
constexpr int64_t EndSlack = 10'000;
// How long a seek may take to settle before Seek returns anyway.
constexpr auto SettleTimeout = std::chrono::seconds(2);

// playbin's GstPlayFlags, which its headers do not export: audio with
// software volume, no video and no subtitles.
constexpr guint PlayFlagAudio = 1u << 1;
constexpr guint PlayFlagSoftVolume = 1u << 4;

const char* const EmptyGraph = "digraph pipeline {\n  label=\"no pipeline\";\n}\n";

struct TErrorFree {
    void operator()(GError* Error) const { g_error_free(Error); }
};
struct TGFree {
    void operator()(gchar* Text) const { g_free(Text); }
};
using TErrorPtr = std::unique_ptr<GError, TErrorFree>;
using TGString = std::unique_ptr<gchar, TGFree>;
using TBusPtr = std::unique_ptr<GstBus, TGstObjectUnref>;

void InitGStreamer() {
    static std::once_flag Once;
    static std::string Failure;
    std::call_once(Once, [] {
        GError* Raw = nullptr;
        if (!gst_init_check(nullptr, nullptr, &Raw)) {
            TErrorPtr Error(Raw);
            Failure = Error ? Error->message : "GStreamer could not be initialised";
        }
    });
    if (!Failure.empty())
        throw Exception(Failure);
}

bool FromSink(GstMessage* Message) {
    GstObject* Source = GST_MESSAGE_SRC(Message);
    return Source != nullptr && GST_IS_ELEMENT(Source) &&
           GST_OBJECT_FLAG_IS_SET(Source, GST_ELEMENT_FLAG_SINK);
}

// The nearest row of the table for an error the pipeline reported.
TPlayerResult ResultOfError(const GError* Error, GstMessage* Message) {
    if (Error->domain == GST_RESOURCE_ERROR) {
        if (FromSink(Message))
            return VFW_S_AUDIO_NOT_RENDERED;
        switch (Error->code) {
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_READ:
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return VFW_E_NOT_FOUND;
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
            return E_OUTOFMEMORY;
        default:
            return E_FAIL;
        }
    }
    if (Error->domain == GST_STREAM_ERROR) {
        switch (Error->code) {
        case GST_STREAM_ERROR_FAILED:
            // Also decodebin's word for a file it found nothing to play in.
            return VFW_E_INVALID_FILE_FORMAT;
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
            return VFW_E_UNKNOWN_FILE_TYPE;
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            return VFW_E_CANNOT_RENDER;
        case GST_STREAM_ERROR_DEMUX:
        case GST_STREAM_ERROR_DECODE:
            return VFW_E_INVALID_FILE_FORMAT;
        case GST_STREAM_ERROR_FORMAT:
        case GST_STREAM_ERROR_NOT_IMPLEMENTED:
        case GST_STREAM_ERROR_DECRYPT:
        case GST_STREAM_ERROR_DECRYPT_NOKEY:
            return VFW_E_UNSUPPORTED_STREAM;
        default:
            return E_FAIL;
        }
    }
    if (Error->domain == GST_CORE_ERROR) {
        switch (Error->code) {
        case GST_CORE_ERROR_MISSING_PLUGIN:
            return VFW_E_CANNOT_RENDER;
        case GST_CORE_ERROR_NEGOTIATION:
            return VFW_E_CANNOT_CONNECT;
        default:
            return E_FAIL;
        }
    }
    return E_FAIL;
}

// Keeps the error that best tells what went wrong. Bins follow an element's
// error with general ones of their own ("Internal data stream error"), and
// sometimes report a general one first.
void NoteError(TBusHook& Hook, GstMessage* Message) {
    GError* Raw = nullptr;
    gst_message_parse_error(Message, &Raw, nullptr);
    TErrorPtr Error(Raw);
    if (!Error || Hook.FailureTells)
        return;
    const TPlayerResult Code = ResultOfError(Error.get(), Message);
    const bool Tells = Code != E_FAIL && !(Error->domain == GST_STREAM_ERROR &&
                                           Error->code == GST_STREAM_ERROR_FAILED);
    if (Hook.Failure == S_OK || Tells) {
        Hook.Failure = Code;
        Hook.FailureTells = Tells;
    }
}

// Runs on whichever thread posts the message. The bus would queue the
// message only after this returns, and a receiver that answers the
// notification at once would then find nothing and fall one message behind
// for good; so the hook keeps the messages itself, each queued before its
// notification is posted, and the bus drops them.
GstBusSyncReply OnBusMessage(GstBus*, GstMessage* Message, gpointer Data) {
    TBusHook& Hook = **static_cast<std::shared_ptr<TBusHook>*>(Data);
    const GstMessageType Type = GST_MESSAGE_TYPE(Message);
    std::lock_guard<std::mutex> Guard(Hook.Lock);
    if (Type == GST_MESSAGE_ERROR || Type == GST_MESSAGE_ASYNC_DONE) {
        if (Type == GST_MESSAGE_ASYNC_DONE)
            Hook.Prerolled = true;
        else
            NoteError(Hook, Message);
        Hook.Changed.notify_all();
    }
    // Dropped by the bus, the message is the handler's to keep.
    Hook.Queue.emplace_back(Message);
    if (Hook.Target != nullptr)
        QCoreApplication::postEvent(Hook.Target, new QEvent(PlayerEventMessage));
    return GST_BUS_DROP;
}

void DetachTarget(TBusHook& Hook) {
    std::lock_guard<std::mutex> Guard(Hook.Lock);
    Hook.Target = nullptr;
}

void ReleaseHookRef(gpointer Data) {
    delete static_cast<std::shared_ptr<TBusHook>*>(Data);
}

// Waits until the pipeline has prerolled or failed; S_OK when it is ready.
TPlayerResult AwaitPreroll(TBusHook& Hook, GstStateChangeReturn Started) {
    std::unique_lock<std::mutex> Guard(Hook.Lock);
    if (Started == GST_STATE_CHANGE_ASYNC && !Hook.Changed.wait_for(Guard, PrerollTimeout, [&] {
            return Hook.Prerolled || Hook.Failure != S_OK;
        }))
        return E_ABORT;
    if (Started != GST_STATE_CHANGE_FAILURE && Hook.Failure == S_OK)
        return S_OK;
    // A general error may still be followed by the telling one.
    Hook.Changed.wait_for(Guard, ErrorGrace, [&] { return Hook.FailureTells; });
    return Hook.Failure != S_OK ? Hook.Failure : E_FAIL;
}

// The file on the frames' clock: the play time of its audio frames, the
// information frame left out, as the cutter counts them; and how far the
// pipeline's timeline lies behind that clock. Measured with GStreamer 1.22
// on bursts at known samples: the pipeline drops a Xing or Info frame and,
// when its extension comes from the encoder that names itself "LAME", trims
// that encoder's delay plus the decoder's 529 samples from the start (and
// its padding less those 529 from the end). Xing without extension, another
// encoder's extension and plain streams (Layer II included) are not trimmed:
// their timeline starts with the first audio frame. A VBRI frame is played
// as a frame of silence, so there the timeline runs one frame ahead.
// Another encoder's extension states the same trim, and gapless decoders
// apply it; so the player does it itself there: it plays the untrimmed
// timeline only from PlayStart to PlayEnd.
struct TFramesTimeline {
    int64_t Duration = -1; // -1: no frames, leave it to the pipeline
    int64_t Lead = 0;
    int64_t Tail = 0; // trimmed from the end, by the pipeline or the player
    int64_t PlayStart = 0;
    int64_t PlayEnd = -1; // -1: the player trims nothing
    TClockSpan Played;    // PlayedClockSpan
};

TFramesTimeline FramesTimeline(const std::optional<TStreamScan>& Scanned) {
    TFramesTimeline Timeline;
    if (!Scanned)
        return Timeline;
    const TStreamScan& Scan = *Scanned;
    try {
        if (Scan.AudioFrames == 0)
            return Timeline;
        Timeline.Duration = TicksToRefTime(Scan.Ticks);
        Timeline.Played = PlayedClockSpan(Scan);
        if (ExtensionStatesTrim(Scan.Info) && Scan.First.SampleRate > 0) {
            const int64_t Sample = SamplesToTicks(1, Scan.First.SampleRate);
            const int64_t Total = Scan.Ticks / Sample;
            const TPlayedSpan Played = PlayedSpan(Scan.Info, Total);
            const int64_t Lead = Played.Start * Sample;
            const int64_t Tail = (Total - Played.End) * Sample;
            Timeline.Tail = TicksToRefTime(Tail);
            if (ExtensionTrimmedByDecoders(Scan.Info)) {
                Timeline.Lead = TicksToRefTime(Lead);
            } else {
                Timeline.PlayStart = TicksToRefTime(Lead);
                Timeline.PlayEnd = TicksToRefTime(Scan.Ticks - Tail);
            }
        } else if (Scan.Info.Kind == TInfoKind::VBRI) {
            Timeline.Lead = -TicksToRefTime(
                FrameTicks(Scan.First.Version, Scan.First.Layer, Scan.First.SampleRate));
        }
    } catch (const Exception&) {
    }
    return Timeline;
}

} // namespace

std::string ErrorText(TPlayerResult Code) {
    for (const auto& Row : ErrorTable)
        if (Row.Code == Code)
            return Row.Text;
    char Hex[16];
    std::snprintf(Hex, sizeof Hex, "%X", static_cast<uint32_t>(Code));
    return std::string("Unknown error: ") + Hex;
}

TAudioPlayer::TAudioPlayer() = default;

TAudioPlayer::~TAudioPlayer() {
    QObject::disconnect(FNotifyWindowGone);
    Close();
}

// Objects are destroyed on the interface thread, where the player lives, so
// the handlers of their destruction run there too.
void TAudioPlayer::NotifyWindow(QObject* Target) {
    QObject::disconnect(FNotifyWindowGone);
    FNotifyWindow = Target;
    if (Target != nullptr)
        FNotifyWindowGone =
            QObject::connect(Target, &QObject::destroyed, [this] { FNotifyWindow = nullptr; });
}

void TAudioPlayer::Open(const std::string& FileName) {
    // GStreamer wants a pipeline back in NULL before it is dropped.
    Close();
    // A pipe would hold the pipeline up until someone writes to it.
    if (IsNonRegularFile(FileName))
        throw Exception("Unable to open file. " + SysErrorMessage(ERROR_NOT_A_FILE) +
                        "\nFile: " + FileName);
    // Before anything plays: a file that is not MPEG audio (a WAV file
    // renamed, a picture, a free-format stream that can't be cut) is
    // refused here rather than after the user marked a segment. A file the
    // walk can't read is left to the pipeline to report.
    std::optional<TStreamScan> Scan;
    try {
        Scan = ScanStream(FileName);
    } catch (const Exception&) {
    }
    if (Scan)
        RefuseUnlessAudio(*Scan, FileName);
    InitGStreamer();
    GstElement* Playbin = gst_element_factory_make("playbin", nullptr);
    if (Playbin == nullptr)
        throw Exception("Unable to create GraphBuilder");
    FGraph.reset(GST_ELEMENT(gst_object_ref_sink(Playbin)));

    GError* RawError = nullptr;
    TGString Uri(gst_filename_to_uri(FileName.c_str(), &RawError));
    TErrorPtr UriError(RawError);
    if (!Uri)
        throw Exception("Unable to open file. " + ErrorText(E_INVALIDARG));
    g_object_set(Playbin, "uri", Uri.get(), "flags", PlayFlagAudio | PlayFlagSoftVolume, nullptr);

    FHook = std::make_shared<TBusHook>();
    FHook->Target = FNotifyWindow;
    // The pipeline keeps the object it was opened with, whatever is set
    // later, and lets it go when it is destroyed.
    if (FNotifyWindow != nullptr)
        FPipelineTargetGone = QObject::connect(FNotifyWindow, &QObject::destroyed,
                                               [Hook = std::weak_ptr<TBusHook>(FHook)] {
                                                   if (const auto Held = Hook.lock())
                                                       DetachTarget(*Held);
                                               });
    TBusPtr Bus(gst_element_get_bus(Playbin));
    gst_bus_set_sync_handler(Bus.get(), OnBusMessage, new std::shared_ptr<TBusHook>(FHook),
                             ReleaseHookRef);

    const TPlayerResult Result =
        AwaitPreroll(*FHook, gst_element_set_state(Playbin, GST_STATE_PAUSED));
    if (Result != S_OK) {
        // A graph that failed to build never notifies; what it queued stays
        // with the hook until Close.
        DetachTarget(*FHook);
        throw Exception("Unable to open file. " + ErrorText(Result));
    }
    FEvent = std::move(Bus);
    const TFramesTimeline Timeline = FramesTimeline(Scan);
    FDuration = Timeline.Duration;
    FLead = Timeline.Lead;
    FTail = Timeline.Tail;
    FPlayStart = Timeline.PlayStart;
    FPlayEnd = Timeline.PlayEnd;
    FPlayedSpan = Timeline.Played;
    FFrameCount = Timeline.Duration >= 0 ? Scan->AudioFrames : 0;
    FFrameTicks = Scan && Scan->AudioFrames > 0
                      ? ::FrameTicks(Scan->First.Version, Scan->First.Layer, Scan->First.SampleRate)
                      : 0;
    // Frames that cover less than half of what the pipeline plays are stray
    // matches in a stream the reader cannot walk (free format): its figure
    // is the better one, and its timeline the only one.
    gint64 Nanoseconds = -1;
    if (FDuration >= 0 && gst_element_query_duration(FGraph.get(), GST_FORMAT_TIME, &Nanoseconds) &&
        FDuration * 2 < Nanoseconds / 100) {
        FDuration = -1;
        FLead = 0;
        FTail = 0;
        FPlayStart = 0;
        FPlayEnd = -1;
        FPlayedSpan = {};
        FFrameCount = 0;
        FFrameTicks = 0;
    }
    // Prerolled at the start of the frames: moved to where the sound
    // starts, with the end of it as the stop point. Should the pipeline
    // refuse, the file still plays, untrimmed.
    if (FPlayEnd >= 0) {
        try {
            Seek(0, -1);
        } catch (const Exception&) {
        }
    }
}

TPlayerResult TAudioPlayer::SetState(int State) {
    if (!IsOpen())
        return E_POINTER;
    switch (gst_element_set_state(FGraph.get(), static_cast<GstState>(State))) {
    case GST_STATE_CHANGE_FAILURE:
        return E_FAIL;
    case GST_STATE_CHANGE_ASYNC:
        return S_FALSE;
    default:
        return S_OK;
    }
}

TPlayerResult TAudioPlayer::Play() {
    return SetState(GST_STATE_PLAYING);
}

TPlayerResult TAudioPlayer::Pause() {
    return SetState(GST_STATE_PAUSED);
}

// Paused rather than back to READY: the callers expect the position kept.
TPlayerResult TAudioPlayer::Stop() {
    return SetState(GST_STATE_PAUSED);
}

bool TAudioPlayer::IsOpen() const {
    return FGraph && FEvent;
}

void TAudioPlayer::SetPlayedClock(bool Value) {
    FPlayedClock = Value;
}

TClockSpan TAudioPlayer::ClockSpan() const {
    if (FDuration < 0)
        return TClockSpan::Frames();
    return FPlayedClock ? FPlayedSpan : TClockSpan{0, FFrameCount * FFrameTicks};
}

int64_t TAudioPlayer::ClockOrigin() const {
    return FPlayedClock && FDuration >= 0 ? TicksToRefTime(FPlayedSpan.Origin) : 0;
}

int64_t TAudioPlayer::Duration() const {
    if (IsOpen() && FDuration >= 0)
        return FPlayedClock ? TicksToRefTime(FPlayedSpan.End) - ClockOrigin() : FDuration;
    gint64 Nanoseconds = -1;
    if (!IsOpen() || !gst_element_query_duration(FGraph.get(), GST_FORMAT_TIME, &Nanoseconds) ||
        Nanoseconds < 0)
        throw Exception("Unable to determine duration");
    return Nanoseconds / 100;
}

int64_t TAudioPlayer::Position() const {
    gint64 Nanoseconds = -1;
    if (!IsOpen() || !gst_element_query_position(FGraph.get(), GST_FORMAT_TIME, &Nanoseconds) ||
        Nanoseconds < 0)
        throw Exception("Unable to determine current position");
    // Nothing played yet is the start, whatever the trimmed delays hold.
    if (FDuration < 0)
        return Nanoseconds / 100;
    if (Nanoseconds == 0)
        return 0;
    // The end of the sound lies short of the frames' end by the trimmed
    // padding: reaching it (give or take the pipeline's rounding) is
    // reaching the end of the frames.
    // The silence a VBRI frame plays as lies before the start.
    const int64_t Position = std::max<int64_t>(Nanoseconds / 100 + FLead, 0);
    if (Position >= FDuration - FTail - EndSlack)
        return Duration();
    return std::clamp<int64_t>(Position - ClockOrigin(), 0, Duration());
}

void TAudioPlayer::Seek(int64_t Current, int64_t Stop) {
    constexpr int64_t Largest = std::numeric_limits<int64_t>::max() / 100;
    // A lead-in counted back from a stop point near the start can come out
    // negative; it means the start of the stream.
    Current = std::max<int64_t>(Current, 0);
    const bool KeepStop = Stop == -1;
    // Times given on the played clock, kept on the frames' clock.
    const int64_t Origin = ClockOrigin();
    if (Current <= Largest - Origin)
        Current += Origin;
    if (Stop >= 0 && Stop <= Largest - Origin)
        Stop += Origin;
    const int64_t NewStop = KeepStop ? FStopPoint : Stop;
    // The pipeline takes a stop before the start as a successful seek that it
    // then ignores; refuse it here, the stop kept from before included.
    if (!IsOpen() || Current > Largest || Stop < -1 || Stop > Largest ||
        (NewStop >= 0 && NewStop < Current))
        throw Exception("Unable to set position");
    // Where the player trims, every seek stays within the sound and always
    // sets the stop point: the end of the sound unless one before it is set.
    int64_t From = Current;
    int64_t To = KeepStop ? -1 : Stop;
    if (FPlayEnd >= 0) {
        From = std::clamp(Current, FPlayStart, FPlayEnd);
        To = std::clamp(NewStop >= 0 ? NewStop : FPlayEnd, From, FPlayEnd);
    }
    if (!gst_element_seek(FGraph.get(), 1.0, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, std::max<int64_t>(From - FLead, 0) * 100,
                          To < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                          To < 0 ? -1 : std::max<int64_t>(To - FLead, 0) * 100))
        throw Exception("Unable to set position");
    // The flush drops the preroll; until it is back the position cannot be
    // read, and callers read it right after seeking.
    gst_element_get_state(
        FGraph.get(), nullptr, nullptr,
        std::chrono::duration_cast<std::chrono::nanoseconds>(SettleTimeout).count());
    FStopPoint = NewStop;
}

bool TAudioPlayer::CheckCompletion() {
    if (!IsOpen())
        return false;
    TMessagePtr Message;
    {
        std::lock_guard<std::mutex> Guard(FHook->Lock);
        if (FHook->Queue.empty())
            return false;
        Message = std::move(FHook->Queue.front());
        FHook->Queue.pop_front();
    }
    return GST_MESSAGE_TYPE(Message.get()) == GST_MESSAGE_EOS;
}

void TAudioPlayer::Close() {
    QObject::disconnect(FPipelineTargetGone);
    if (FHook)
        DetachTarget(*FHook);
    if (FGraph) {
        gst_element_set_state(FGraph.get(), GST_STATE_NULL);
        TBusPtr Bus(gst_element_get_bus(FGraph.get()));
        gst_bus_set_sync_handler(Bus.get(), nullptr, nullptr, nullptr);
    }
    FGraph.reset();
    FEvent.reset();
    FHook.reset();
    FDuration = -1;
    FFrameTicks = 0;
    FLead = 0;
    FTail = 0;
    FPlayStart = 0;
    FPlayEnd = -1;
    FPlayedSpan = {};
    FFrameCount = 0;
    FStopPoint = -1;
}

void TAudioPlayer::SaveGraph(const std::string& FileName) const {
    std::string Description;
    if (FGraph) {
        TGString Dot(gst_debug_bin_to_dot_data(GST_BIN(FGraph.get()), GST_DEBUG_GRAPH_SHOW_ALL));
        if (Dot)
            Description = Dot.get();
    }
    if (Description.empty())
        Description = EmptyGraph;
    // A diagnostic only: a file that cannot be written is not worth an error.
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    Out << Description;
}
