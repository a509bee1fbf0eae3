#include "MutagenTags.h"

#include "Processes.h"
#include "TestFiles.h"

namespace {

const char* const Python = "/usr/bin/python3";

const char* const ReadScript = R"(
import sys
from mutagen.id3 import ParseID3v1
with open(sys.argv[1], 'rb') as f:
    f.seek(-128, 2)
    frames = ParseID3v1(f.read(128))
out = []
if frames is None:
    out.append('no tag')
else:
    for key in ('TIT2', 'TPE1', 'TALB', 'TDRC'):
        out.append(key + '=' + (str(frames[key]) if key in frames else ''))
    comments = [str(v) for k, v in frames.items() if k.startswith('COMM')]
    out.append('COMM=' + (comments[0] if comments else ''))
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)";

// ID3 tags of both versions; the version 1 tag is the one that counts.
const char* const WriteScript = R"(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB
tags = ID3()
tags.add(TIT2(encoding=3, text='Beyonc\u00e9'))
tags.add(TPE1(encoding=3, text='\u00dcber'))
tags.add(TALB(encoding=3, text='\u00bd'))
tags.save(sys.argv[1], v1=2)
)";

} // namespace

bool MutagenAvailable() {
    return RunProcess(Python, {"-c", "import mutagen"}).ExitCode == 0;
}

std::string MutagenReadID3v1(const std::string& FileName) {
    auto Result = RunProcess(Python, {"-c", ReadScript, FileName});
    return Result.ExitCode == 0 ? Result.Stdout : "mutagen failed: " + Result.Stderr;
}

bool MutagenTaggedCopy(const std::string& FileName) {
    WriteFileBytes(FileName, ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    return RunProcess(Python, {"-c", WriteScript, FileName}).ExitCode == 0;
}
