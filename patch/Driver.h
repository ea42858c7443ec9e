// Driving a patcher from outside a run: the window layer's adapters, which turn reports and
// hand-over results into window messages (shell/Messages.h), and a driver that runs one patch
// run to its end on the calling thread for the diagnostic tool qmpatch and the tests.
#pragma once

#ifdef _WIN32
#include "patch/Run.h"

#include <functional>
#include <optional>

namespace Patch
{
// Posts every report to the window as Shell::kMsgPatchReport with a heap SPatchReport in
// lParam, which the window procedure owns and frees; a report whose post fails is freed here.
[[nodiscard]] ReportFunction PostReportsTo(HWND window);

// Posts the hand-over's result to the window as Shell::kMsgHandOverResult, wParam 1 when the
// new launcher signalled and 0 otherwise; the failure's text is not carried.
[[nodiscard]] HandOverResultFunction PostHandOverResultTo(HWND window);

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
