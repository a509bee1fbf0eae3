#include "Processes.h"

#include "TestFiles.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadText(const std::string& Name) {
    auto Bytes = ReadFileBytes(Name);
    return {Bytes.begin(), Bytes.end()};
}

std::string TempName(const char* Kind) {
    std::string Pattern = std::string("/tmp/segmora-") + Kind + "-XXXXXX";
    int Fd = mkstemp(Pattern.data());
    if (Fd < 0)
        throw std::runtime_error("cannot make a temporary file");
    close(Fd);
    return Pattern;
}

int ExitCodeOf(int Status) {
    if (WIFEXITED(Status))
        return WEXITSTATUS(Status);
    if (WIFSIGNALED(Status))
        return 128 + WTERMSIG(Status);
    return -1;
}

} // namespace

TRunningProcess::TRunningProcess(const std::string& Program, const std::vector<std::string>& Args)
    : FOutName(TempName("out")), FErrName(TempName("err")) {
    std::vector<char*> Argv;
    Argv.push_back(const_cast<char*>(Program.c_str()));
    for (const auto& Arg : Args)
        Argv.push_back(const_cast<char*>(Arg.c_str()));
    Argv.push_back(nullptr);
    FPid = fork();
    if (FPid < 0)
        throw std::runtime_error("fork failed");
    if (FPid == 0) {
        int Out = open(FOutName.c_str(), O_WRONLY | O_TRUNC);
        int Err = open(FErrName.c_str(), O_WRONLY | O_TRUNC);
        int In = open("/dev/null", O_RDONLY);
        dup2(In, 0);
        dup2(Out, 1);
        dup2(Err, 2);
        execv(Program.c_str(), Argv.data());
        _exit(127);
    }
}

TRunningProcess::~TRunningProcess() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
    }
    unlink(FOutName.c_str());
    unlink(FErrName.c_str());
}

void TRunningProcess::Signal(int Number) {
    if (FPid > 0)
        kill(FPid, Number);
}

TProcessResult TRunningProcess::Wait() {
    TProcessResult Result;
    int Status = 0;
    if (FPid > 0 && waitpid(FPid, &Status, 0) == FPid)
        Result.ExitCode = ExitCodeOf(Status);
    FPid = -1;
    Result.Stdout = ReadText(FOutName);
    Result.Stderr = ReadText(FErrName);
    return Result;
}

TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args) {
    TRunningProcess Process(Program, Args);
    return Process.Wait();
}

TProcessResult RunCli(const std::vector<std::string>& Args) {
    return RunProcess(SEGMORA_CLI_PATH, Args);
}

TProcessResult RunCliOnTerminal(std::vector<std::string> Args) {
    TProcessResult Result;
    int Master = -1;
    const pid_t Child = forkpty(&Master, nullptr, nullptr, nullptr);
    if (Child < 0)
        return Result;
    if (Child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr)
            _exit(127);
        Args.insert(Args.begin(), SEGMORA_CLI_PATH);
        std::vector<char*> Argv;
        for (auto& Arg : Args)
            Argv.push_back(Arg.data());
        Argv.push_back(nullptr);
        execv(Argv[0], Argv.data());
        _exit(127);
    }
    char Chunk[4096];
    ssize_t N;
    while ((N = read(Master, Chunk, sizeof Chunk)) > 0)
        Result.Stderr.append(Chunk, static_cast<size_t>(N));
    close(Master);
    int Status = 0;
    waitpid(Child, &Status, 0);
    Result.ExitCode = ExitCodeOf(Status);
    return Result;
}
