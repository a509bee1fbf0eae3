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

bool FileExists(const std::string& Path) {
    return fs::exists(Path);
}

int64_t FileSizeOf(const std::string& Path) {
    return static_cast<int64_t>(fs::file_size(Path));
}

std::string FixturePath(const std::string& Name) {
    return std::string(SEGMORA_TEST_DATA_DIR) + "/" + Name;
}
