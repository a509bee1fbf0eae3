#include "MutagenTags.h"

#include "Processes.h"

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
import os
path, title, artist, album = (os.fsencode(a).decode('utf-8') for a in sys.argv[1:5])
tags = ID3()
tags.add(TIT2(encoding=3, text=title))
tags.add(TPE1(encoding=3, text=artist))
tags.add(TALB(encoding=3, text=album))
tags.save(path, v1=2)
)";

} // namespace

bool MutagenAvailable() {
    return RunProcess(Python, {"-c", "import mutagen"}).ExitCode == 0;
}

std::string MutagenReadID3v1(const std::string& FileName) {
    auto Result = RunProcess(Python, {"-c", ReadScript, FileName});
    return Result.ExitCode == 0 ? Result.Stdout : "mutagen failed: " + Result.Stderr;
}

bool MutagenWriteID3v1(const std::string& FileName, const std::string& Title,
                       const std::string& Artist, const std::string& Album) {
    return RunProcess(Python, {"-c", WriteScript, FileName, Title, Artist, Album}).ExitCode == 0;
}
