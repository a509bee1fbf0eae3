#pragma once

// Files for tests: a temporary folder that removes itself, whole-file reads
// and writes, and the paths of the committed fixtures.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

std::vector<uint8_t> ReadFileBytes(const std::string& Path);
void WriteFileBytes(const std::string& Path, const std::vector<uint8_t>& Data);
bool FileExists(const std::string& Path);
int64_t FileSizeOf(const std::string& Path);

// Plain text that is no audio, MinBytes or a line more.
void WriteTextFile(const std::string& Path, size_t MinBytes);
// An ID3v2 header whose size reaches far past the end of the file, then
// Frames: a player refuses it, the frame reader does not.
void WriteBrokenTagFile(const std::string& Path, const std::vector<uint8_t>& Frames);

// Path of a fixture under tests/data.
std::string FixturePath(const std::string& Name);
