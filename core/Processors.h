#pragma once

// Whether the process may run on one processor only, by the machine or by
// its affinity (taskset, a container's set): a second thread then only takes
// turns with the first, and spinning would keep the awaited thread from
// running. Asked once, at the first call.
bool RunsOnOneProcessor();
