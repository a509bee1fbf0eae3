#pragma once

// Helpers for the job tests: a front end that records what a job reports and
// can stop it, and a folder on a disk that fills up after a few KiB.

#include "FrameFiles.h"
#include "ID3v1.h"
#include "JobProgress.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TRecordingFrontEnd : public IJobFrontEnd {
public:
    std::unique_ptr<IJobProgress> BeginJob(const std::string& Caption,
                                           const std::string& Text) override;
    void ShowJobError(const std::string& Message) override;

    std::string Caption, Text;
    std::vector<double> Progress;
    std::vector<std::string> Errors;
    int Polls = 0;
    bool ProgressAlive = false;
    bool AliveAtError = false;
    // Asked at every poll with the number of polls so far (the frames done).
    std::function<bool(int)> CancelWhen;
    // Called with every percentage, before it is recorded.
    std::function<void(double)> OnProgress;
};

// The same recording without a front end, for jobs that take the progress
// directly.
class TRecordingProgress : public IJobProgress {
public:
    explicit TRecordingProgress(TRecordingFrontEnd& Owner) : FOwner(Owner) {
        FOwner.ProgressAlive = true;
    }
    ~TRecordingProgress() override { FOwner.ProgressAlive = false; }
    void SetProgress(double Value) override;
    bool IsCancelled() override;

private:
    TRecordingFrontEnd& FOwner;
};

// The packed tag of a file, when it has one.
std::optional<TBytes> PackedTagOf(const std::string& FileName);
// Frames per part by the splitting rule: PartSize is the audio's span (from
// the first audio frame to the end of the last) divided by the count, and a
// part closes at the first frame end at which it holds PartSize bytes of
// audio, or when the frames left are just enough for one in each part to
// come, except the last part.
std::vector<TBytes> ExpectedParts(const std::vector<TBytes>& Frames, int64_t AudioSpan,
                                  int32_t Parts);
// The span of a fixture's audio frames, by its measurements.
int64_t AudioSpanOf(const TFixture& Fixture);
TFixture FixtureNamed(const std::string& Name);

// A folder where writes stop after a few KiB: a small tmpfs mounted for the
// test when Mount asks for it and we may mount one, otherwise a plain folder
// in which a child process runs the job under a file-size limit (with
// SIGXFSZ as the system leaves it: the file layer must keep it from ending
// the job).
class TTinyDisk {
public:
    explicit TTinyDisk(uint32_t Bytes = 64 * 1024, bool Mount = true);
    ~TTinyDisk();
    TTinyDisk(const TTinyDisk&) = delete;
    TTinyDisk& operator=(const TTinyDisk&) = delete;

    const std::string& Path() const { return FPath; }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }
    bool Mounted() const { return FMounted; }
    // Runs Job where the disk's limit holds and returns the text it returned.
    std::string Run(const std::function<std::string()>& Job);

private:
    std::string FPath;
    uint32_t FBytes;
    bool FMounted = false;
};
