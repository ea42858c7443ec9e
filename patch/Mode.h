// What a patch run is for and the phase of its reports: the vocabulary the patcher and the
// window's controller share. Free of Windows. The numbers are the ones qmpatch prints.
#pragma once

#include <cstdint>

namespace Patch
{
enum class EPatchMode : std::uint8_t
{
    Complete = 0, // the start-up check
    Update = 1,   // to the release the service names
    Repair = 2,   // every file checked, nothing trusted by its stamp
    Preload = 3,  // the background preparation of a release
};

enum class EPatchPhase : std::uint8_t
{
    Checking = 0,
    Transferring = 1,
    Done = 2,
    Stopped = 3,
    LauncherReady = 4, // a new launcher is downloaded and verified
};
}
