#pragma once

// The shared corpus of real MP3 files from other projects, when it is there:
// odd and damaged files that no encoder here makes on purpose.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct TManifestRow {
    std::string Path;
    std::string Codec;   // ffprobe's codec name, "ERR ..." when it gave up
    std::string Packets; // ffprobe's packet count, "-" when none
};

// The corpus's folder: SEGMORA_CORPUS names another copy of it than the one
// beside the project. "" when neither has a manifest.
inline std::string CorpusRoot() {
    const char* Override = std::getenv("SEGMORA_CORPUS");
    const std::string Root = Override != nullptr ? Override : SEGMORA_CORPUS_DIR;
    return std::filesystem::exists(Root + "/MANIFEST.tsv") ? Root : "";
}

// The rows of the manifest in Root.
inline std::vector<TManifestRow> ReadManifest(const std::string& Root) {
    std::ifstream In(Root + "/MANIFEST.tsv");
    std::string Line;
    std::getline(In, Line);
    std::vector<std::string> Columns;
    {
        std::stringstream Header(Line);
        for (std::string Cell; std::getline(Header, Cell, '\t');)
            Columns.push_back(Cell);
    }
    auto Index = [&](const std::string& Column) {
        return static_cast<size_t>(std::find(Columns.begin(), Columns.end(), Column) -
                                   Columns.begin());
    };
    const size_t PathAt = Index("path"), CodecAt = Index("ff_codec"),
                 PacketsAt = Index("ff_packets");
    std::vector<TManifestRow> Rows;
    while (std::getline(In, Line)) {
        std::vector<std::string> Cells;
        std::stringstream Row(Line);
        for (std::string Cell; std::getline(Row, Cell, '\t');)
            Cells.push_back(Cell);
        if (Cells.size() > std::max({PathAt, CodecAt, PacketsAt}))
            Rows.push_back({Cells[PathAt], Cells[CodecAt], Cells[PacketsAt]});
    }
    return Rows;
}
