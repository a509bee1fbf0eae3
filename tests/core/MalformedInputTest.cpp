// Random bytes and damaged real files through the frame reader. Run under
// the sanitizers by ./test.sh: no crash, no read outside the file, and
// every search ends.

#include "FrameBuilder.h"
#include "MP3Read.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

// Walks the file as the cutter does and checks what the reader reports.
void WalkChecked(const std::string& Name) {
    TMP3Reader Reader;
    Reader.Open(Name);
    const int64_t Size = Reader.FileSize();
    std::vector<uint8_t> Frame(16); // grown as the callers grow theirs
    int64_t Last = -1, Calls = 0;
    while (Reader.FindNextFrame(0)) {
        ASSERT_LE(++Calls, Size) << "more frames than bytes";
        ASSERT_GT(Reader.Position(), Last);
        ASSERT_LT(Reader.Position(), Size);
        ASSERT_GE(Reader.FrameLength(), 24);
        ASSERT_LE(Reader.FrameLength(), MaxFrameLength);
        Last = Reader.Position();
        Frame.resize(static_cast<size_t>(Reader.FrameLength()));
        if (!Reader.ReadFrame(Frame.data())) {
            ASSERT_GT(Reader.Position() + Reader.FrameLength(), Reader.AudioLimit());
            break;
        }
        ASSERT_LE(Reader.Position() + Reader.FrameLength(), Reader.AudioLimit());
        ASSERT_EQ(Frame[0], 0xFF);
    }
    ASSERT_FALSE(Reader.FindNextFrame(0)) << "a search after the end stays at the end";
}

std::vector<std::vector<uint8_t>> Seeds() {
    std::vector<std::vector<uint8_t>> Result;
    for (const auto& Entry : std::filesystem::directory_iterator(SEGMORA_TEST_DATA_DIR))
        if (Entry.path().extension() == ".mp3")
            Result.push_back(ReadFileBytes(Entry.path().string()));
    TStreamBuilder Mixed;
    Mixed.ID3v2(50).Frames(20).Junk(33, 0xFF).Frames(10,
                                                     {.Version = 3, .Kbps = 8, .SampleRate = 8000});
    Mixed.Frames(10, {.Layer = 1, .Kbps = 32}).ID3v1();
    Result.push_back(Mixed.Data());
    return Result;
}

} // namespace

TEST(MalformedInput, RandomBytesOfManySizes) {
    std::mt19937 Random(20261207);
    TTempDir Dir;
    for (int Round = 0; Round < 200; ++Round) {
        std::vector<uint8_t> Bytes(Random() % (Round < 50 ? 64 : 40000));
        // Bias towards sync bytes so that headers turn up often.
        for (auto& Byte : Bytes)
            Byte = Random() % 3 == 0 ? 0xFF : static_cast<uint8_t>(Random());
        WriteFileBytes(Dir.File("random.mp3"), Bytes);
        SCOPED_TRACE(Round);
        WalkChecked(Dir.File("random.mp3"));
    }
}

TEST(MalformedInput, MutatedRealAndSyntheticStreams) {
    std::mt19937 Random(7);
    TTempDir Dir;
    const auto Originals = Seeds();
    ASSERT_FALSE(Originals.empty());
    for (int Round = 0; Round < 600; ++Round) {
        auto Bytes = Originals[Round % Originals.size()];
        if (Bytes.empty())
            continue;
        switch (Round % 4) {
        case 0: // flipped bytes
            for (int I = 0; I < 40; ++I)
                Bytes[Random() % Bytes.size()] = static_cast<uint8_t>(Random());
            break;
        case 1: // cut anywhere
            Bytes.resize(Random() % Bytes.size());
            break;
        case 2: // a valid header planted at random places, claiming any length
            for (int I = 0; I < 30 && Bytes.size() > 4; ++I) {
                size_t At = Random() % (Bytes.size() - 3);
                Bytes[At] = 0xFF;
                Bytes[At + 1] = static_cast<uint8_t>(0xE0 | (Random() & 0x1F));
                Bytes[At + 2] = static_cast<uint8_t>(Random());
                Bytes[At + 3] = static_cast<uint8_t>(Random());
            }
            break;
        case 3: // a block removed from the middle
        {
            size_t From = Random() % Bytes.size();
            size_t Count = std::min<size_t>(Random() % 5000, Bytes.size() - From);
            Bytes.erase(Bytes.begin() + static_cast<long>(From),
                        Bytes.begin() + static_cast<long>(From + Count));
            break;
        }
        }
        WriteFileBytes(Dir.File("mutated.mp3"), Bytes);
        SCOPED_TRACE(Round);
        WalkChecked(Dir.File("mutated.mp3"));
    }
}
