#include "SourceGrid.h"

#include "Errors.h"
#include "FrameClock.h"
#include "MP3Read.h"
#include "StreamScan.h"
#include "TimeFormat.h"

TFrameGrid ReadFrameGrid(const std::string& FileName) {
    TMP3Reader Reader;
    Reader.Open(FileName);
    const TStreamScan Scan = ScanStream(Reader);
    RefuseUnlessAudio(Scan, FileName);
    // The scan sums the frames' times but does not say whether they differ:
    // the frames are walked once more, headers only.
    Reader.Rewind();
    TInfoFrameSkip IsInfoFrame(Scan);
    TFrameGrid Grid;
    while (Reader.FindNextFrame(0)) {
        if (IsInfoFrame(Reader.Position()))
            continue;
        if (!Reader.FrameComplete())
            break;
        if (Grid.Frames == 0)
            Grid.FrameTicks = Reader.FrameTicks();
        else if (Reader.FrameTicks() != Grid.FrameTicks)
            throw Exception(FileName + " can be split only by size: its frames change length at " +
                            FormatTimeMs(TicksToMs(Grid.TotalTicks()), true) +
                            " (the sample rate or the layer changes there), so times in it fall "
                            "on no one grid of frames.");
        ++Grid.Frames;
    }
    return Grid;
}
