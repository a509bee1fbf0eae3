#pragma once

#include <string>
#include <vector>

// The sub-commands of segmora-cli; each takes the arguments after its name
// and returns the exit status. Usage texts live beside each one.
int RunInfo(const std::vector<std::string>& Args);
int RunSplit(const std::vector<std::string>& Args);
int RunCut(const std::vector<std::string>& Args);
int RunPrepare(const std::vector<std::string>& Args);
int RunTag(const std::vector<std::string>& Args);
int RunPlay(const std::vector<std::string>& Args);

extern const char* const InfoUsage;
extern const char* const SplitUsage;
extern const char* const CutUsage;
extern const char* const PrepareUsage;
extern const char* const TagUsage;
extern const char* const PlayUsage;
