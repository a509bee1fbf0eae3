#include "TestFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <stdlib.h>

namespace fs = std::filesystem;

TTempDir::TTempDir() {
    std::string Pattern = (fs::temp_directory_path() / "segmora-test-XXXXXX").string();
    if (mkdtemp(Pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    FPath = Pattern;
}

TTempDir::~TTempDir() {
    std::error_code Ignored;
    fs::remove_all(FPath, Ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        throw std::runtime_error("cannot read " + Path);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& Path, const std::vector<uint8_t>& Data) {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Data.data()),
              static_cast<std::streamsize>(Data.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + Path);
}

void WriteTextFile(const std::string& Path, size_t MinBytes) {
    const std::string Line = "This is a plain text file, no audio in it.\n";
    std::vector<uint8_t> Text;
    while (Text.size() < MinBytes)
        Text.insert(Text.end(), Line.begin(), Line.end());
    WriteFileBytes(Path, Text);
}

void WriteBrokenTagFile(const std::string& Path, const std::vector<uint8_t>& Frames) {
    std::vector<uint8_t> Bytes = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    Bytes.insert(Bytes.end(), Frames.begin(), Frames.end());
    WriteFileBytes(Path, Bytes);
}

bool FileExists(const std::string& Path) {
    return fs::exists(Path);
}

int64_t FileSizeOf(const std::string& Path) {
    return static_cast<int64_t>(fs::file_size(Path));
}

std::string FixturePath(const std::string& Name) {
    return std::string(SEGMORA_TEST_DATA_DIR) + "/" + Name;
}
