#include "OverviewCache.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

namespace {

class OverviewCache : public testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(Source, std::vector<uint8_t>(1000, 0x55));
        for (int B = 0; B < 300; ++B)
            Overview.AddBlock(static_cast<float>(B) / 300, B * B / 1e5);
        Overview.Finish();
        Key = *OverviewKeyOf(Source);
    }
    TTempDir Dir;
    std::string Source = Dir.File("song.mp3");
    std::string Folder = Dir.File("cache");
    TLoudnessOverview Overview{7, 300 * 7 - 3};
    TOverviewKey Key;
};

} // namespace

TEST_F(OverviewCache, RoundTrips) {
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview)); // makes the folder
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview)); // and replaces the file
    const auto Loaded = LoadOverview(Folder, Key);
    ASSERT_NE(Loaded, nullptr);
    EXPECT_TRUE(Loaded->Complete());
    EXPECT_EQ(Loaded->Duration(), Overview.Duration());
    ASSERT_EQ(Loaded->LevelCount(), Overview.LevelCount());
    for (int L = 0; L < Overview.LevelCount(); ++L)
        EXPECT_EQ(std::memcmp(Loaded->Level(L).data(), Overview.Level(L).data(),
                              Overview.Level(L).size() * 2),
                  0);
    // One file by another name of its path is the same file.
    ASSERT_EQ(mkdir(Dir.File("sub").c_str(), 0700), 0);
    EXPECT_NE(LoadOverview(Folder, *OverviewKeyOf(Dir.File("sub/../song.mp3"))), nullptr);
}

TEST_F(OverviewCache, NothingForAnotherFileOrAChangedOne) {
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview));
    TOverviewKey Larger = Key, Other = Key;
    Larger.Size += 1;
    Other.Path += ".mp3";
    EXPECT_EQ(LoadOverview(Folder, Larger), nullptr);
    EXPECT_EQ(LoadOverview(Folder, Other), nullptr);
    const timespec Touched[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Source.c_str(), Touched, 0), 0);
    EXPECT_EQ(LoadOverview(Folder, *OverviewKeyOf(Source)), nullptr);
}

TEST_F(OverviewCache, DamagedFilesAreNotUsed) {
    ASSERT_TRUE(SaveOverview(Folder, Key, Overview));
    const std::string Kept = OverviewCacheFile(Folder, Key);
    const std::vector<uint8_t> Whole = ReadFileBytes(Kept);
    for (const size_t At : {size_t{0}, size_t{20}, Whole.size() / 2, Whole.size() - 1}) {
        std::vector<uint8_t> Damaged = Whole;
        Damaged[At] ^= 0x10;
        WriteFileBytes(Kept, Damaged);
        EXPECT_EQ(LoadOverview(Folder, Key), nullptr) << "byte " << At;
        Damaged.assign(Whole.begin(), Whole.begin() + static_cast<long>(At));
        WriteFileBytes(Kept, Damaged);
        EXPECT_EQ(LoadOverview(Folder, Key), nullptr) << At << " bytes";
    }
}

TEST_F(OverviewCache, OnlyFinishedOverviewsAreKept) {
    TLoudnessOverview Unfinished(7, 700);
    Unfinished.AddBlock(1, 1);
    EXPECT_FALSE(SaveOverview(Folder, Key, Unfinished));
    EXPECT_FALSE(FileExists(OverviewCacheFile(Folder, Key)));
}
