// The floor under the cutting jobs: the source mapped and written into PARTS
// files of equal size in writes of 512 KiB straight from the mapping, with
// no frame looked at. Whatever a job does beyond this costs time of its own.
//
//   segmora-map-write SOURCE FOLDER PARTS

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: segmora-map-write SOURCE FOLDER PARTS\n");
        return 2;
    }
    const int Source = open(argv[1], O_RDONLY);
    struct stat Info {};
    if (Source < 0 || fstat(Source, &Info) != 0 || Info.st_size == 0)
        return 1;
    const auto Size = static_cast<size_t>(Info.st_size);
    const auto* Data =
        static_cast<const char*>(mmap(nullptr, Size, PROT_READ, MAP_SHARED, Source, 0));
    if (Data == MAP_FAILED)
        return 1;
    const long Parts = std::max(1L, std::strtol(argv[3], nullptr, 10));
    const size_t PartSize = Size / static_cast<size_t>(Parts);
    constexpr size_t Chunk = 512 * 1024;
    for (long Part = 0; Part < Parts; ++Part) {
        const std::string Name = std::string(argv[2]) + "/part" + std::to_string(Part + 1);
        const int Output = open(Name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (Output < 0)
            return 1;
        const size_t From = static_cast<size_t>(Part) * PartSize;
        const size_t To = Part == Parts - 1 ? Size : From + PartSize;
        for (size_t At = From; At < To; At += Chunk) {
            const size_t Count = std::min(Chunk, To - At);
            if (write(Output, Data + At, Count) != static_cast<ssize_t>(Count))
                return 1;
        }
        close(Output);
    }
    return 0;
}
