#include "SourceGrid.h"

#include "Errors.h"
#include "FrameClock.h"
#include "MP3Read.h"
#include "StreamScan.h"
#include "TimeFormat.h"

TFrameGrid FrameGridOf(const TStreamScan& Scan, const std::string& FileName, bool PlayedClock) {
    if (Scan.FrameTicksVary)
        throw Exception(FileName + " can be split only by size: its frames change length" +
                        (Scan.FrameTicksChangeAt >= 0
                             ? " at " + FormatTimeMs(TicksToMs(Scan.FrameTicksChangeAt), true)
                             : std::string()) +
                        " (the sample rate or the layer changes there), so times in it fall "
                        "on no one grid of frames.");
    TFrameGrid Grid;
    Grid.Frames = Scan.AudioFrames;
    Grid.FrameTicks = Scan.AudioFrames > 0 ? Scan.Ticks / Scan.AudioFrames : 0;
    if (PlayedClock) {
        const TClockSpan Clock = PlayedClockSpan(Scan);
        Grid.Origin = Clock.Origin;
        Grid.Tail = Grid.TotalTicks() - Clock.End;
    }
    return Grid;
}

TFrameGrid ReadFrameGrid(const std::string& FileName, bool PlayedClock) {
    TMP3Reader Reader;
    Reader.Open(FileName);
    const TStreamScan Scan = ScanStream(Reader);
    RefuseUnlessAudio(Scan, FileName);
    return FrameGridOf(Scan, FileName, PlayedClock);
}
