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

const char* const ChapteredScript = R"(
import sys
from mutagen.id3 import (ID3, APIC, CHAP, COMM, CTOC, CTOCFlags, TALB, TCON, TDRC, TIT2, TLEN,
                         TPE1, TRCK)
tags = ID3()
for frame in (TIT2(text=sys.argv[3]), TPE1(text='\u00c6r\u00f8'), TALB(text='Chapters'),
              TRCK(text='3/7'), TDRC(text='2024'), TCON(text='Ambient'), TLEN(text='3000'),
              COMM(lang='eng', desc='', text='Three chapters'),
              APIC(mime='image/jpeg', type=3, desc='Cover', data=open(sys.argv[2], 'rb').read())):
    frame.encoding = 3
    tags.add(frame)
for n, title in enumerate(('One', 'Two \u2713', 'Three')):
    tags.add(CHAP(element_id='ch%d' % n, start_time=n * 1000, end_time=n * 1000 + 1000,
                  sub_frames=[TIT2(encoding=3, text=title)]))
tags.add(CTOC(element_id='toc', flags=CTOCFlags.TOP_LEVEL | CTOCFlags.ORDERED,
              child_element_ids=['ch0', 'ch1', 'ch2']))
tags.save(sys.argv[1], v1=0, v2_version=4)
)";

const char* const ReadID3v2Script = R"(
import sys
from mutagen.id3 import ID3, ID3NoHeaderError
try:
    tags = ID3(sys.argv[1], translate=False)
except ID3NoHeaderError:
    tags = None
out = ['no tag'] if tags is None else ['version=2.%d' % tags.version[1]]
for frame in tags.values() if tags is not None else ():
    key = frame.FrameID
    if key == 'APIC':
        open(sys.argv[2], 'wb').write(frame.data)
        out.append('APIC=' + frame.mime)
    elif key == 'CHAP':
        out.append('CHAP=%s %d-%d %s' % (frame.element_id, frame.start_time, frame.end_time,
                                         frame.sub_frames.get('TIT2', '')))
    elif key == 'CTOC':
        out.append('CTOC=' + ' '.join([frame.element_id] + frame.child_element_ids))
    else:
        out.append(key + '=' + str(frame) if hasattr(frame, 'text') else key)
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)";

} // namespace

const char* const MutagenUnicodeTitle = "Beyoncé – Déjà vu ✓";

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

bool MutagenChapteredCopy(const std::string& FileName) {
    WriteFileBytes(FileName, ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    return RunProcess(Python, {"-c", ChapteredScript, FileName, FixturePath("cover.jpg"),
                               MutagenUnicodeTitle})
               .ExitCode == 0;
}

std::string MutagenReadID3v2(const std::string& FileName, const std::string& PictureFile) {
    auto Result = RunProcess(Python, {"-c", ReadID3v2Script, FileName, PictureFile});
    return Result.ExitCode == 0 ? Result.Stdout : "mutagen failed: " + Result.Stderr;
}
