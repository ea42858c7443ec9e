// What a patcher tells its owner: the reports of a run and why a run was not started. Free of
// Windows, so that the window's controller takes them as they are.
#pragma once

#include "patch/Mode.h"

#include <cstdint>
#include <string>

namespace Patch
{
// A run's report. Checking and Transferring come any number of times; a run that is not
// stopped ends with exactly one of Done, Stopped or LauncherReady.
struct SPatchReport
{
    EPatchMode mode = EPatchMode::Complete;
    EPatchPhase phase = EPatchPhase::Checking;
    std::uint64_t done = 0; // checking and transferring; done: the bytes downloaded
    std::uint64_t total = 0;
    bool repaired = false;
    bool installing = false;
    std::uint64_t shortfall = 0; // stopped: free space missing
    std::string message;         // stopped
    std::string launcher;        // launcher ready: the downloaded launcher's part file
};

// Why a patcher did not start a run.
enum class EStartRefusal : std::uint8_t
{
    Running,         // a run is under way, or its thread is leaving after its last report
    NoCdn,           // the request names no CDN
    LauncherPending, // a new launcher from a hand-over has not been let go
    NoThread,        // no thread could be started
};
}
