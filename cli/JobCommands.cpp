#include "CliSupport.h"
#include "Commands.h"
#include "Errors.h"

const char* const SplitUsage = "Usage: segmora-cli split SOURCE --parts N --folder DIR\n";
const char* const CutUsage = "Usage: segmora-cli cut SOURCE --start TIME --end TIME --out FILE\n";
const char* const PrepareUsage = "Usage: segmora-cli prepare SOURCE OUT\n";
const char* const TagUsage = "Usage: segmora-cli tag FILE\n";

int RunSplit(const std::vector<std::string>&) { throw Exception("split is not available yet"); }
int RunCut(const std::vector<std::string>&) { throw Exception("cut is not available yet"); }
int RunPrepare(const std::vector<std::string>&) { throw Exception("prepare is not available yet"); }
int RunTag(const std::vector<std::string>&) { throw Exception("tag is not available yet"); }
