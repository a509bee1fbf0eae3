#pragma once

// What the segmora-cli tests share: a temporary folder and two fixtures,
// one ending in a tag and one without, and the wait for a running one.

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>

inline bool Contains(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

// Whether the child Pid has ended; it is left to be waited for.
inline bool Ended(pid_t Pid) {
    siginfo_t Info{};
    return waitid(P_PID, static_cast<id_t>(Pid), &Info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           Info.si_pid != 0;
}

// Waits up to Seconds for Done to hold.
template <typename TDone> bool WaitFor(TDone Done, int Seconds) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
    while (!Done() && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return Done();
}

class TCliTest : public testing::Test {
protected:
    TTempDir Dir;
    const std::string Tagged = FixturePath("id3v1-end.mp3");
    const std::string Plain = FixturePath("cbr-128-info.mp3");
};
