#include "MP3Prepare.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FrameWriter.h"
#include "MP3Read.h"
#include "OutputHeader.h"
#include "StreamScan.h"

#include <cstring>
#include <memory>

bool HasID3v2Header(const std::string& FileName) {
    TFileStream Stream(FileName, fmOpenRead | fmShareDenyNone);
    char Head[3];
    return Stream.Read(Head, 3) == 3 && std::memcmp(Head, "ID3", 3) == 0;
}

void CopyMP3Frames(const std::string& Source, const std::string& Dest, IJobProgress& Progress,
                   bool Overwrite) {
    TMP3Reader Reader;
    Reader.Open(Source);
    // Once told to stop, stopped: also when the question came during a
    // long search for the next frame.
    bool Stopped = false;
    auto StopAsked = [&] { return Stopped = Stopped || Progress.IsCancelled(); };
    Reader.SetSearchCheck(StopAsked);
    const TStreamScan Scan = ScanStream(Reader);
    Reader.Rewind();
    if (Stopped)
        return;
    // What the jobs refuse to cut is not copied either.
    RefuseUnlessAudio(Scan, Source);
    TFileStream Output(Dest, fmCreate | fmShareExclusive | (Overwrite ? 0 : fmCreateNew));
    // A copy without a single frame is not left behind as an empty file.
    struct TDropEmpty {
        TFileStream& Output;
        ~TDropEmpty() {
            if (Output.Size() == 0)
                FileDelete(Output.FileName());
        }
    } DropEmpty{Output};
    TFrameWriter Writer;
    Writer.Attach(Output);
    // The source's information frame is replaced by one that counts the
    // copy's frames.
    TOutputHeader Header(Scan, Reader.Map());
    Header.Begin(Writer);
    TPercentOf Percent(Reader.FileSize());
    TInfoFrameSkip IsInfoFrame(Scan);
    try {
        while (Reader.FindNextFrame(0)) {
            if (IsInfoFrame(Reader.Position()))
                continue;
            if (Header.CopyFrame(Writer, Reader) == nullptr)
                break;
            Progress.SetProgress(Percent(Reader.Position()));
            if (StopAsked())
                break;
        }
    } catch (...) {
        // The frames read before the failure stay in the copy.
        Header.FinishAfterFailure(Writer, Output);
        throw;
    }
    const bool Audio = Header.FinishOutput(Writer, Output);
    if (!Audio && !Stopped)
        throw Exception("No audio frame was written: no MPEG audio frame was found in " + Source +
                        ", so " + Dest + " was not made.");
    Output.CheckNotLost();
}
