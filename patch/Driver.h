// Driving a patcher from outside a run: a driver that runs one patch run to its end on the
// calling thread, for the diagnostic tool qmpatch and the tests.
#pragma once

#ifdef _WIN32
#include "patch/Run.h"

#include <functional>
#include <optional>

namespace Patch
{
// Starts the run and waits until it ends, handing every report to `onReport` on the calling
// thread, in order (it may stop the patcher). The last report, or nothing when the run ended
// quietly or did not start (`started` false).
struct SDriven
{
    bool started = false;
    std::optional<SPatchReport> last;
};
[[nodiscard]] SDriven DriveRun(CPatcher& patcher, SPatchRequest request,
    const std::function<void(const SPatchReport&)>& onReport);
}
#endif
