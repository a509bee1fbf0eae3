#include "Processors.h"

#include <sched.h>

#include <thread>

bool RunsOnOneProcessor() {
    static const bool Alone = [] {
        cpu_set_t Set;
        CPU_ZERO(&Set);
        if (sched_getaffinity(0, sizeof Set, &Set) == 0)
            return CPU_COUNT(&Set) < 2;
        return std::thread::hardware_concurrency() < 2;
    }();
    return Alone;
}
