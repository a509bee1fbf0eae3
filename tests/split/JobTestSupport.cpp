#include "JobTestSupport.h"

#include "MP3Read.h"
#include "TestFiles.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

std::unique_ptr<IJobProgress> TRecordingFrontEnd::BeginJob(const std::string& NewCaption,
                                                           const std::string& NewText) {
    Caption = NewCaption;
    Text = NewText;
    return std::make_unique<TRecordingProgress>(*this);
}

void TRecordingFrontEnd::ShowJobError(const std::string& Message) {
    Errors.push_back(Message);
    AliveAtError = ProgressAlive;
}

void TRecordingProgress::SetProgress(double Value) {
    if (FOwner.OnProgress)
        FOwner.OnProgress(Value);
    FOwner.Progress.push_back(Value);
}

bool TRecordingProgress::IsCancelled() {
    ++FOwner.Polls;
    return FOwner.CancelWhen && FOwner.CancelWhen(FOwner.Polls);
}

std::optional<TBytes> PackedTagOf(const std::string& FileName) {
    TID3Info Info;
    if (!ReadID3Tag(FileName, Info))
        return std::nullopt;
    TID3TagBlock Block;
    PackID3Tag(Info, Block);
    return TBytes(Block.begin(), Block.end());
}

std::vector<TBytes> ExpectedParts(const std::vector<TBytes>& Frames, int64_t AudioSpan,
                                  int32_t Parts) {
    const int64_t PartSize = AudioSpan / Parts;
    std::vector<TBytes> Result(1);
    auto Left = static_cast<int64_t>(Frames.size());
    for (const auto& Frame : Frames) {
        Result.back().insert(Result.back().end(), Frame.begin(), Frame.end());
        --Left;
        const auto Number = static_cast<int32_t>(Result.size());
        if (Number < Parts && (static_cast<int64_t>(Result.back().size()) >= PartSize ||
                               Left <= Parts - Number))
            Result.emplace_back();
    }
    return Result;
}

int64_t AudioSpanOf(const TFixture& Fixture) {
    const auto Frames = ReaderFrames(FixturePath(Fixture.Name));
    const int64_t InfoLength =
        Fixture.InfoFrame != 0 ? static_cast<int64_t>(Frames.front().size()) : 0;
    return Fixture.FramesEnd - Fixture.FirstOffset - InfoLength;
}

TFixture FixtureNamed(const std::string& Name) {
    for (const auto& Fixture : Fixtures())
        if (Fixture.Name == Name)
            return Fixture;
    throw std::runtime_error("no fixture " + Name);
}

TTinyDisk::TTinyDisk(uint32_t Bytes, bool Mount) : FBytes(Bytes) {
    std::string Pattern = (std::filesystem::temp_directory_path() / "segmora-tiny-XXXXXX").string();
    if (mkdtemp(Pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    FPath = Pattern;
    const std::string Options = "size=" + std::to_string(Bytes);
    // SEGMORA_TEST_NO_MOUNT tries the file-size limit where a mount would work.
    FMounted = Mount && getenv("SEGMORA_TEST_NO_MOUNT") == nullptr &&
               mount("tmpfs", FPath.c_str(), "tmpfs", 0, Options.c_str()) == 0;
}

TTinyDisk::~TTinyDisk() {
    if (FMounted)
        umount2(FPath.c_str(), MNT_DETACH);
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
}

std::string TTinyDisk::Run(const std::function<std::string()>& Job) {
    if (FMounted)
        return Job();
    int Pipe[2];
    if (pipe(Pipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t Child = fork();
    if (Child == 0) {
        close(Pipe[0]);
        rlimit Limit{FBytes, FBytes};
        setrlimit(RLIMIT_FSIZE, &Limit);
        std::string Result;
        try {
            Result = Job();
        } catch (const std::exception& E) {
            Result = std::string("uncaught: ") + E.what();
        }
        (void)!write(Pipe[1], Result.data(), Result.size());
        _exit(0);
    }
    close(Pipe[1]);
    std::string Result;
    char Chunk[512];
    ssize_t N;
    while ((N = read(Pipe[0], Chunk, sizeof Chunk)) > 0)
        Result.append(Chunk, static_cast<size_t>(N));
    close(Pipe[0]);
    int Status = 0;
    waitpid(Child, &Status, 0);
    if (WIFSIGNALED(Status))
        Result += "killed by signal " + std::to_string(WTERMSIG(Status));
    return Result;
}
