// A patch run: brings the game folder to one release on a thread of its own and reports its
// progress as SPatchReport records to a function its owner gives.
//
// Modes: 0 complete the installed release, 1 update to the release the service named,
// 2 repair (read every byte), 3 pre-load the next release without applying it. A run reads
// the installed index, fetches and checks a new one (modes 1 and 3), refuses a rollback of
// the release number or the key generation, finds what is missing or damaged (Check.h),
// downloads it into part files (Download.h), and hands every change to the patch journal
// (Journal.h) so that the changes take effect together and survive a crash. An update whose
// launcher record differs from the running exe replaces the launcher instead (SelfUpdate.h).
//
// The owner makes one CPatcher from an SPatcherParams and starts runs on it; the window layer
// turns the reports into window messages (Driver.h), the diagnostic tool and the tests take
// them directly. Paths are UTF-8, relative to the launcher's folder (the current directory).
#pragma once

#ifdef _WIN32
#include "patch/Plan.h"
#include "patch/Report.h"
#include "vfs/Container.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace Patch
{
// What a run is asked to do.
struct SPatchRequest
{
    EPatchMode mode = EPatchMode::Complete;
    std::string cdn;     // CDN base URL
    std::string release; // the named release (64 hex digits); empty for Complete and Repair
    std::uint64_t number = 0;
    bool selfUpdate = false;
};

// Called on the run's thread, one report after the other.
using ReportFunction = std::function<void(SPatchReport report)>;

// The free space available to the caller on a folder; nothing when it cannot be asked.
using FreeSpaceQuery = std::function<std::optional<std::uint64_t>(std::string_view folder)>;

// How a patcher is made. Empty fields take the launcher's own values.
struct SPatcherParams
{
    std::string launcherPath;        // the launcher's executable, a full path; empty: the running exe
    std::string statePath;           // the patch state file; empty: PatchStatePath() (Journal.h)
    FreeSpaceQuery freeSpace;        // empty: GetDiskFreeSpaceExW
    std::uint32_t replayPauseMs = 0; // a pause before each journal record (the crash tests)
};

// The transfer values a patcher's runs share with their owner.
struct STransfers
{
    std::atomic<std::uint64_t> limit{0};   // bytes per second, 0 for none
    std::atomic<std::int32_t> inFlight{0}; // ranged downloads open now
};

// One run as its steps see it: the request, the patcher's settled parameters, where reports
// go, the stop token and the shared transfer values.
struct SRun : SPatchRequest
{
    SPatcherParams params;
    ReportFunction report;
    std::stop_token stop;
    STransfers* transfers = nullptr;

    [[nodiscard]] bool StopRequested() const noexcept { return stop.stop_requested(); }
    // Hands the report to the owner's function, if there is one.
    void Post(SPatchReport report) const;
};

// Progress shared by a run and its download workers.
struct SProgress
{
    const SRun* run = nullptr; // where reports go; none: nothing is reported
    EPatchMode mode = EPatchMode::Complete;
    EPatchPhase phase = EPatchPhase::Checking; // checking or transferring
    bool installing = false;
    std::uint64_t total = 0;
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> fetched{0}; // bytes that came from the CDN (groups: fewer than done)
    std::uint64_t reported = 0; // `done` at the last report; the run's thread only
};

// Reports the run's final Stopped with its message.
void ReportStop(const SRun& run, std::string message);

// Reports the progress record's Checking or Transferring when forced or transferring, and
// while checking once per 16 MiB read.
void Report(SProgress& progress, bool force);

// The progress record as the container checks see it: the run's stop token, and bytes read.
class CCheckProgress final : public Vfs::ICheckProgress
{
public:
    explicit CCheckProgress(SProgress& progress) noexcept : m_progress(progress) {}
    [[nodiscard]] bool StopRequested() const noexcept override
    {
        return m_progress.run != nullptr && m_progress.run->StopRequested();
    }
    void PieceDone(std::uint64_t bytes) override
    {
        m_progress.done += bytes;
        Report(m_progress, false);
    }

private:
    SProgress& m_progress;
};

// Before a run writes: every part and target path of the works lies in folders of the
// launcher's own (no link or junction on the way) and fits the path limit Windows has here.
[[nodiscard]] std::expected<void, std::string> CheckPathsToWrite(std::span<const SWork> works);

// The run itself; reports only through run.report.
void Run(const SRun& run);

class CHandOver;

// The hand-over's result: true when the new launcher signalled; false when the new exe could
// not be staged or started (the old exe never moves; `error` says why), or when it
// exited, stayed silent for 30 s or a stop came ("the new launcher did not start"). Called
// once, on the hand-over's thread, which the patcher may be waiting for: it does not call the
// patcher.
using HandOverResultFunction = std::function<void(bool signalled, std::string error)>;

// The patcher: one run at a time on a thread of its own, and the hand-over to a new launcher
// that an update fetched. Stopping or destroying it stops both and waits for them.
class CPatcher
{
public:
    explicit CPatcher(SPatcherParams params);
    ~CPatcher();
    CPatcher(const CPatcher&) = delete;
    CPatcher& operator=(const CPatcher&) = delete;

    // Starts a run, or says why not. A stopped run reports nothing more. A run started while a
    // hand-over is being undone waits on its thread for the undo to end.
    [[nodiscard]] std::expected<void, EStartRefusal> Start(SPatchRequest request, ReportFunction report);
    [[nodiscard]] bool Running() const noexcept { return m_running.load(); }

    // Asks the run and the hand-over watcher to stop and waits for both, which takes well under
    // a second: a download waiting for the CDN is left at once. An undo under way is waited for
    // to its end, which needs no more than the process's end and two moves.
    void Stop();
    // Waits for the run to end by itself.
    void Wait();

    // The transfer limit: 2 MiB/s while the game runs, none otherwise. Takes effect at once.
    void ThrottleTransfers(bool gameRunning) noexcept;

    [[nodiscard]] const std::string& LauncherPath() const noexcept { return m_params.launcherPath; }
    [[nodiscard]] const std::string& StatePath() const noexcept { return m_params.statePath; }

    // For a LauncherReady report: returns once the hand-over's thread has started (an error only
    // when it cannot be); that thread stages the new exe, starts the new launcher (SelfUpdate.h)
    // and waits for its signal, and `onResult` then tells how the hand-over ended. A hand-over
    // still pending is undone first.
    [[nodiscard]] std::expected<void, std::string> HandOver(std::string_view downloaded, HandOverResultFunction onResult);
    // After a result of false, and returning at once: the hand-over's thread ends the new process
    // and turns the staged exe into "<exe>.bad". Runs may be started again straight away.
    void UndoHandOver();
    // After a result of true the old launcher ends; a process that goes on (the tests) lets
    // the new process go with this, so that runs may start again.
    void ForgetHandOver();
    // The new launcher's process while a hand-over is pending; null otherwise.
    [[nodiscard]] HANDLE PendingLauncher() const;

private:
    SPatcherParams m_params;
    STransfers m_transfers;
    std::atomic<bool> m_running{false};
    mutable std::mutex m_lock; // starting and stopping, the hand-over
    std::unique_ptr<CHandOver> m_handOver;
    std::shared_ptr<CHandOver> m_undoing; // an undone hand-over, whose undo may still be under way
    std::jthread m_thread;
};
}
#endif
