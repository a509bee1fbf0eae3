#include "OverviewCache.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

namespace {

class OverviewCache : public testing::Test {
protected:
    void SetUp() override {
        Source = Dir.File("song.mp3");
        WriteFileBytes(Source, std::vector<uint8_t>(1000, 0x55));
        for (int B = 0; B < 300; ++B)
            Overview.AddBlock(static_cast<float>(B) / 300, B * B / 1e5);
        Overview.Finish();
        Key = *OverviewKeyOf(Source);
        Folder = Dir.File("cache");
    }
    bool SameAsSaved(const TLoudnessOverview& Loaded) const {
        if (Loaded.BlockTicks() != Overview.BlockTicks() ||
            Loaded.Duration() != Overview.Duration() ||
            Loaded.LevelCount() != Overview.LevelCount())
            return false;
        for (int L = 0; L < Overview.LevelCount(); ++L)
            if (Loaded.Level(L).size() != Overview.Level(L).size() ||
                std::memcmp(Loaded.Level(L).data(), Overview.Level(L).data(),
                            Overview.Level(L).size() * sizeof(TOverviewCell)) != 0)
                return false;
        return true;
    }
    TTempDir Dir;
    std::string Source;
    std::string Folder;
    TLoudnessOverview Overview{7, 300 * 7 - 3};
    TOverviewKey Key;
};

} // namespace

TEST_F(OverviewCache, KeyIsTheAbsolutePathSizeAndTime) {
    EXPECT_EQ(Key.Path, Source);
    EXPECT_EQ(Key.Size, 1000);
    EXPECT_FALSE(OverviewKeyOf(Dir.File("missing.mp3")));
    EXPECT_FALSE(OverviewKeyOf(Dir.Path())); // not a file
    // One file by two names is one key.
    ASSERT_EQ(mkdir(Dir.File("folder").c_str(), 0700), 0);
    EXPECT_EQ(OverviewKeyOf(Dir.File("folder/../song.mp3")), Key);
    // Files in different places are kept apart.
    TOverviewKey Other = Key;
    Other.Path = Dir.File("other.mp3");
    EXPECT_NE(OverviewCacheFile(Folder, Other), OverviewCacheFile(Folder, Key));
}

TEST_F(OverviewCache, RoundTrips) {
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview)); // makes the folder
    const auto Loaded = LoadOverview(Folder, Key);
    ASSERT_NE(Loaded, nullptr);
    EXPECT_TRUE(Loaded->Complete());
    EXPECT_TRUE(SameAsSaved(*Loaded));
    // Saved again, replaced.
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview));
    EXPECT_NE(LoadOverview(Folder, Key), nullptr);
}

TEST_F(OverviewCache, NothingForAnotherFileOrAChangedOne) {
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview));
    struct TCase {
        const char* What;
        std::function<void(TOverviewKey&)> Change;
    };
    const TCase Cases[] = {
        {"size", [](TOverviewKey& K) { K.Size += 1; }},
        {"time", [](TOverviewKey& K) { K.ModifiedNs += 1; }},
        {"path", [](TOverviewKey& K) { K.Path += ".mp3"; }},
    };
    for (const TCase& Case : Cases) {
        TOverviewKey Changed = Key;
        Case.Change(Changed);
        // Its own name may be the one kept; what it holds must not match.
        EXPECT_EQ(LoadOverview(Folder, Changed), nullptr) << Case.What;
    }
    // The file itself touched: a new time.
    const timespec Times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Source.c_str(), Times, 0), 0);
    EXPECT_EQ(LoadOverview(Folder, *OverviewKeyOf(Source)), nullptr);
    EXPECT_EQ(LoadOverview("", Key), nullptr);
}

TEST_F(OverviewCache, DamagedFilesAreNotUsed) {
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview));
    const std::string Kept = OverviewCacheFile(Folder, Key);
    const std::vector<uint8_t> Whole = ReadFileBytes(Kept);
    const size_t Offsets[] = {0, 9, 20, Whole.size() / 2, Whole.size() - 9, Whole.size() - 1};
    for (const size_t At : Offsets) {
        std::vector<uint8_t> Damaged = Whole;
        Damaged[At] ^= 0x10;
        WriteFileBytes(Kept, Damaged);
        EXPECT_EQ(LoadOverview(Folder, Key), nullptr) << "byte " << At;
    }
    const size_t Lengths[] = {0, 5, 40, Whole.size() - 1};
    for (const size_t Length : Lengths) {
        WriteFileBytes(
            Kept, std::vector<uint8_t>(Whole.begin(), Whole.begin() + static_cast<long>(Length)));
        EXPECT_EQ(LoadOverview(Folder, Key), nullptr) << Length << " bytes";
    }
    std::vector<uint8_t> Longer = Whole;
    Longer.push_back(0);
    WriteFileBytes(Kept, Longer);
    EXPECT_EQ(LoadOverview(Folder, Key), nullptr) << "a byte more";
}

TEST_F(OverviewCache, OnlyFinishedOverviewsAreKept) {
    TLoudnessOverview Unfinished(7, 700);
    Unfinished.AddBlock(1, 1);
    EXPECT_FALSE(SaveOverview(Folder, Key, Unfinished));
    EXPECT_FALSE(FileExists(OverviewCacheFile(Folder, Key)));
    // A folder that can't be made.
    WriteFileBytes(Dir.File("plain"), {1});
    EXPECT_FALSE(SaveOverview(Dir.File("plain/cache"), Key, Overview));
}
