#include "MP3Prepare.h"

#include "FileAccess.h"
#include "FrameWriter.h"
#include "MP3Read.h"

#include <cstring>
#include <memory>

bool HasID3v2Header(const std::string& FileName) {
    TFileStream Stream(FileName, fmOpenRead | fmShareDenyNone);
    char Head[3];
    return Stream.Read(Head, 3) == 3 && std::memcmp(Head, "ID3", 3) == 0;
}

void CopyMP3Frames(const std::string& Source, const std::string& Dest, IJobProgress& Progress) {
    TMP3Reader Reader;
    Reader.Open(Source);
    TFileStream Output(Dest, fmCreate | fmShareExclusive);
    TFrameWriter Writer;
    Writer.Attach(Output);
    try {
        while (Reader.FindNextFrame(0)) {
            // Read straight into the output buffer, as the cutter does.
            const auto Length = static_cast<uint32_t>(Reader.FrameLength());
            if (!Reader.ReadFrame(Writer.Reserve(Length)))
                break;
            Writer.Commit(Length);
            Progress.SetProgress(static_cast<double>(Reader.Position() * 100 / Reader.FileSize()));
            if (Progress.IsCancelled())
                break;
        }
    } catch (...) {
        // The frames read before the failure stay in the copy.
        Writer.FlushAfterFailure();
        throw;
    }
    Writer.Flush();
}
