#pragma once

// Runs a program of ours the way a user or a script would, for the tests of
// the command line.

#include <string>
#include <sys/types.h>
#include <vector>

struct TProcessResult {
    int ExitCode = -1; // the exit status, or 128 + signal when killed
    std::string Stdout;
    std::string Stderr;
};

// Runs Program with Args to its end and collects both outputs.
TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args);

// segmora-cli with Args.
TProcessResult RunCli(const std::vector<std::string>& Args);

// segmora-cli with only its standard error on a terminal (standard output
// goes nowhere): the exit status, and in Stderr what the terminal showed.
TProcessResult RunCliOnTerminal(std::vector<std::string> Args);

// A program left running, its outputs going to files; for tests that signal it.
class TRunningProcess {
public:
    TRunningProcess(const std::string& Program, const std::vector<std::string>& Args);
    ~TRunningProcess();
    TRunningProcess(const TRunningProcess&) = delete;
    TRunningProcess& operator=(const TRunningProcess&) = delete;

    pid_t Pid() const { return FPid; }
    void Signal(int Number);
    // Waits for the end and collects the outputs.
    TProcessResult Wait();

private:
    pid_t FPid = -1;
    std::string FOutName, FErrName;
};
