#include "patch/Driver.h"

#include "shell/Messages.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace Patch
{
ReportFunction PostReportsTo(HWND window)
{
    return [window](SPatchReport report) {
        auto owned = std::make_unique<SPatchReport>(std::move(report));
        if (PostMessageW(window, Shell::kMsgPatchReport, 0, reinterpret_cast<LPARAM>(owned.get())))
        {
            (void)owned.release(); // the window procedure frees it
        }
    };
}

HandOverResultFunction PostHandOverResultTo(HWND window)
{
    return [window](bool signalled, const std::string&) {
        PostMessageW(window, Shell::kMsgHandOverResult, signalled ? 1 : 0, 0);
    };
}

SDriven DriveRun(CPatcher& patcher, SPatchRequest request, const std::function<void(const SPatchReport&)>& onReport)
{
    struct SQueue
    {
        std::mutex lock;
        std::condition_variable arrived;
        std::deque<SPatchReport> reports;
    };
    const auto queue = std::make_shared<SQueue>();
    SDriven driven;
    driven.started = patcher.Start(std::move(request), [queue](SPatchReport report) {
        {
            const std::lock_guard hold(queue->lock);
            queue->reports.push_back(std::move(report));
        }
        queue->arrived.notify_one();
    });
    // Hands every queued report to the callback; true when one ended the run.
    const auto drain = [&] {
        std::deque<SPatchReport> reports;
        {
            const std::lock_guard hold(queue->lock);
            reports.swap(queue->reports);
        }
        bool ended = false;
        for (SPatchReport& report : reports)
        {
            onReport(report);
            ended = ended || report.phase >= EPatchPhase::Done;
            driven.last = std::move(report);
        }
        return ended;
    };
    while (driven.started)
    {
        const bool running = patcher.Running();
        if (drain())
        {
            break;
        }
        if (!running)
        {
            break; // the drain above had everything reported before the end
        }
        std::unique_lock hold(queue->lock);
        queue->arrived.wait_for(hold, std::chrono::milliseconds(50), [&] { return !queue->reports.empty(); });
    }
    patcher.Wait();
    return driven;
}
}
