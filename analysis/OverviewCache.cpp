#include "OverviewCache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace {

constexpr char Magic[8] = {'S', 'G', 'M', 'O', 'V', 'W', '\r', '\n'};
constexpr uint32_t FormatVersion = 1;
// No overview comes near this (18 hours take 25 MB).
constexpr std::uintmax_t MaxCacheBytes = 256u * 1024 * 1024;

uint64_t Fnv1a(const uint8_t* Data, size_t Count, uint64_t Hash = 14695981039346656037ull) {
    for (size_t I = 0; I < Count; ++I)
        Hash = (Hash ^ Data[I]) * 1099511628211ull;
    return Hash;
}

class TWriter {
public:
    template <typename T> void Put(const T& Value) { PutBytes(&Value, sizeof Value); }
    void PutBytes(const void* Data, size_t Count) {
        const auto* Bytes = static_cast<const uint8_t*>(Data);
        FBytes.insert(FBytes.end(), Bytes, Bytes + Count);
    }
    std::vector<uint8_t>& Bytes() { return FBytes; }

private:
    std::vector<uint8_t> FBytes;
};

class TParser {
public:
    TParser(const uint8_t* Data, size_t Count) : FData(Data), FLeft(Count) {}
    template <typename T> bool Get(T& Value) { return GetBytes(&Value, sizeof Value); }
    bool GetBytes(void* Dest, size_t Count) {
        if (Count > FLeft)
            return false;
        std::memcpy(Dest, FData, Count);
        FData += Count;
        FLeft -= Count;
        return true;
    }
    size_t Left() const { return FLeft; }

private:
    const uint8_t* FData;
    size_t FLeft;
};

} // namespace

std::optional<TOverviewKey> OverviewKeyOf(const std::string& FileName) {
    struct stat Info {};
    if (::stat(FileName.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return std::nullopt;
    std::error_code Error;
    const std::filesystem::path Absolute = std::filesystem::absolute(FileName, Error);
    if (Error)
        return std::nullopt;
    return TOverviewKey{Absolute.lexically_normal().string(), static_cast<int64_t>(Info.st_size),
                        static_cast<int64_t>(Info.st_mtim.tv_sec) * 1'000'000'000 +
                            Info.st_mtim.tv_nsec};
}

std::string OverviewCacheFile(const std::string& Folder, const TOverviewKey& Key) {
    const uint64_t Hash = Fnv1a(reinterpret_cast<const uint8_t*>(Key.Path.data()), Key.Path.size());
    char Name[32];
    std::snprintf(Name, sizeof Name, "%016llx.overview", static_cast<unsigned long long>(Hash));
    return (std::filesystem::path(Folder) / Name).string();
}

bool SaveOverview(const std::string& Folder, const TOverviewKey& Key,
                  const TLoudnessOverview& Overview) {
    if (!Overview.Complete() || Folder.empty())
        return false;
    TWriter Out;
    Out.PutBytes(Magic, sizeof Magic);
    Out.Put(FormatVersion);
    Out.Put(static_cast<uint32_t>(Key.Path.size()));
    Out.PutBytes(Key.Path.data(), Key.Path.size());
    Out.Put(Key.Size);
    Out.Put(Key.ModifiedNs);
    Out.Put(Overview.BlockTicks());
    Out.Put(Overview.Duration());
    Out.Put(static_cast<uint32_t>(Overview.LevelCount()));
    for (int L = 0; L < Overview.LevelCount(); ++L) {
        const auto& Level = Overview.Level(L);
        Out.Put(static_cast<uint64_t>(Level.size()));
        Out.PutBytes(Level.data(), Level.size() * sizeof(TOverviewCell));
    }
    Out.Put(Fnv1a(Out.Bytes().data(), Out.Bytes().size()));

    std::error_code Error;
    std::filesystem::create_directories(Folder, Error);
    const std::string Target = OverviewCacheFile(Folder, Key);
    // Another run may write the same overview meanwhile: each its own name.
    const std::string Temporary = Target + ".part" + std::to_string(::getpid());
    {
        std::ofstream File(Temporary, std::ios::binary | std::ios::trunc);
        File.write(reinterpret_cast<const char*>(Out.Bytes().data()),
                   static_cast<std::streamsize>(Out.Bytes().size()));
        if (!File.flush()) {
            File.close();
            std::filesystem::remove(Temporary, Error);
            return false;
        }
    }
    std::filesystem::rename(Temporary, Target, Error);
    if (Error)
        std::filesystem::remove(Temporary, Error);
    return !Error;
}

std::unique_ptr<TLoudnessOverview> LoadOverview(const std::string& Folder,
                                                const TOverviewKey& Key) {
    if (Folder.empty())
        return nullptr;
    const std::string Name = OverviewCacheFile(Folder, Key);
    std::error_code Error;
    const std::uintmax_t Size = std::filesystem::file_size(Name, Error);
    if (Error || Size > MaxCacheBytes || Size < sizeof(uint64_t))
        return nullptr;
    std::ifstream File(Name, std::ios::binary);
    std::vector<uint8_t> Bytes(static_cast<size_t>(Size));
    if (!File.read(reinterpret_cast<char*>(Bytes.data()), static_cast<std::streamsize>(Size)))
        return nullptr;
    const size_t Body = Bytes.size() - sizeof(uint64_t);
    uint64_t Sum;
    std::memcpy(&Sum, Bytes.data() + Body, sizeof Sum);
    if (Sum != Fnv1a(Bytes.data(), Body))
        return nullptr;

    TParser In(Bytes.data(), Body);
    char Mark[sizeof Magic];
    uint32_t Version = 0, PathLength = 0, LevelCount = 0;
    if (!In.GetBytes(Mark, sizeof Mark) || std::memcmp(Mark, Magic, sizeof Magic) != 0 ||
        !In.Get(Version) || Version != FormatVersion || !In.Get(PathLength) ||
        PathLength > In.Left())
        return nullptr;
    TOverviewKey Kept;
    Kept.Path.resize(PathLength);
    int64_t BlockTicks = 0, Duration = 0;
    if (!In.GetBytes(Kept.Path.data(), PathLength) || !In.Get(Kept.Size) ||
        !In.Get(Kept.ModifiedNs) || !(Kept == Key) || !In.Get(BlockTicks) || !In.Get(Duration) ||
        !In.Get(LevelCount) || LevelCount > 64)
        return nullptr;
    std::vector<std::vector<TOverviewCell>> Levels(LevelCount);
    for (auto& Level : Levels) {
        uint64_t Count = 0;
        if (!In.Get(Count) || Count > In.Left() / sizeof(TOverviewCell))
            return nullptr;
        Level.resize(static_cast<size_t>(Count));
        In.GetBytes(Level.data(), Level.size() * sizeof(TOverviewCell));
    }
    if (In.Left() != 0)
        return nullptr;
    return TLoudnessOverview::Restore(BlockTicks, Duration, std::move(Levels));
}

std::string OverviewFolder() {
    const char* Cache = std::getenv("XDG_CACHE_HOME");
    std::string Base;
    if (Cache != nullptr && Cache[0] == '/') {
        Base = Cache;
    } else {
        const char* Home = std::getenv("HOME");
        if (Home == nullptr || Home[0] != '/')
            return {};
        Base = std::string(Home) + "/.cache";
    }
    return Base + "/quenby/segmora/overviews";
}
