#include "CliSupport.h"
#include "Commands.h"
#include "Errors.h"

const char* const PlayUsage = "Usage: segmora-cli play SOURCE [--start TIME] [--end TIME]\n";

int RunPlay(const std::vector<std::string>&) { throw Exception("play is not available yet"); }
