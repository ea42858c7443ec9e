// Runs one patch run without the launcher's window: a message-only window receives the
// run's reports and hands each to a callback. Used by the diagnostic tool qmpatch and by the
// tests; the window's controller does the same work in the launcher.
#pragma once

#ifdef _WIN32
#include "patch/Run.h"

#include <functional>
#include <optional>

namespace Patch
{
// Starts the run (StartPatch) and pumps messages until it ends. Every report goes to
// `onReport` in order (it may call StopPatch). The last report, or nothing when the run
// ended quietly or did not start (`started` false).
struct SDriven
{
    bool started = false;
    std::optional<SPatchReport> last;
};
[[nodiscard]] SDriven DriveRun(std::uint8_t mode, std::string cdn, std::string release, std::uint64_t number,
    bool selfUpdate, const std::function<void(const SPatchReport&)>& onReport);
}
#endif
