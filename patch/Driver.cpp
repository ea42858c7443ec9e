#include "patch/Driver.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace Patch
{
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
    const auto queued = [queue](SPatchReport report) {
        {
            const std::lock_guard hold(queue->lock);
            queue->reports.push_back(std::move(report));
        }
        queue->arrived.notify_one();
    };
    driven.started = patcher.Start(std::move(request), queued).has_value();
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
