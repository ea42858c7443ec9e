// A patch run: brings the game folder to one release on a thread of its own and reports its
// progress to the main window as SPatchReport records (WM_APP + 5).
//
// Modes: 0 complete the installed release, 1 update to the release the service named,
// 2 repair (read every byte), 3 pre-load the next release without applying it. A run reads
// the installed index, fetches and checks a new one (modes 1 and 3), refuses a rollback of
// the release number or the key generation, finds what is missing or damaged (Check.h),
// downloads it into part files (Download.h), and hands every change to the patch journal
// (Journal.h) so that the changes take effect together and survive a crash. An update whose
// launcher record differs from the running exe replaces the launcher instead (SelfUpdate.h).
//
// Paths are UTF-8, relative to the launcher's folder (the current directory).
#pragma once

#ifdef _WIN32
#include "patch/Plan.h"
#include "vfs/Container.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace Patch
{
inline constexpr UINT kPatchReportMessage = WM_APP + 5;

// The parameters of one run, moved into its thread.
struct SRun
{
    HWND window = nullptr; // where reports go; nothing is posted when null
    std::uint8_t mode = kComplete;
    std::string cdn;     // CDN base URL
    std::string release; // the named release (64 hex digits); empty in modes 0 and 2
    std::uint64_t number = 0;
    bool selfUpdate = false;
};

// The report posted to the window; the window procedure owns and frees it.
struct SPatchReport
{
    std::uint8_t mode = 0;
    std::uint8_t phase = 0; // 0 checking, 1 transferring, 2 finished, 3 stopped, 4 new launcher ready
    std::uint64_t done = 0; // phases 0 and 1; phase 2: the bytes downloaded
    std::uint64_t total = 0;
    bool repaired = false;
    bool installing = false;
    std::uint64_t shortfall = 0; // phase 3: free space missing
    std::string message;         // phase 3
    std::string launcher;        // phase 4: the downloaded launcher's part file
};

// Progress shared by a run and its download workers.
struct SProgress
{
    HWND window = nullptr;
    std::uint8_t mode = 0;
    std::uint8_t phase = 0; // 0 checking, 1 transferring
    bool installing = false;
    std::uint64_t total = 0;
    std::atomic<std::uint64_t> done{0};
    std::uint64_t reported = 0; // `done` at the last report; the run's thread only
};

// The process-wide values of the patcher.
struct SPatchValues
{
    std::atomic<bool> running{false};
    std::atomic<bool> stop{false};
    std::atomic<std::int32_t> inFlight{0}; // ranged downloads open now
    std::atomic<std::uint64_t> limit{0};   // bytes per second, 0 for none
    std::mutex lock;                       // starting and stopping, the thread handles
    std::thread patchThread;
    std::thread watcherThread;         // the hand-over watcher (SelfUpdate.h)
    HANDLE pendingLauncher = nullptr;  // the started new launcher until the hand-over ends
};
[[nodiscard]] SPatchValues& Values() noexcept;

[[nodiscard]] inline bool StopRequested() noexcept
{
    return Values().stop.load();
}

// Posts the record to the window (WM_APP + 5); frees it when there is no window or the post
// fails.
void PostReport(HWND window, SPatchReport report);

// Posts the run's final report of phase 3 (stopped) with its message.
void PostStopReport(const SRun& run, std::string message);

// Posts a phase 0 or 1 report from the progress record when forced or transferring, and
// while checking once per 16 MiB read.
void Report(SProgress& progress, bool force);

// The progress record as the container checks see it: the stop flag, and bytes read.
class CCheckProgress final : public Vfs::ICheckProgress
{
public:
    explicit CCheckProgress(SProgress& progress) noexcept : m_progress(progress) {}
    [[nodiscard]] bool StopRequested() const noexcept override { return Patch::StopRequested(); }
    void PieceDone(std::uint64_t bytes) noexcept override
    {
        m_progress.done += bytes;
        Report(m_progress, false);
    }

private:
    SProgress& m_progress;
};

// Starts a run on its thread; false when one is running, cdn is empty, or a new launcher is
// still pending.
[[nodiscard]] bool StartPatch(HWND window, std::uint8_t mode, std::string cdn, std::string release,
    std::uint64_t number, bool selfUpdate);

// Asks the run to stop and joins its thread and the hand-over watcher.
void StopPatch();

// The transfer limit: 2 MiB/s while the game runs, none otherwise.
void ThrottleTransfers(bool gameRunning);

// The run itself; reports only through SPatchReport.
void Run(SRun run);

// Seams for the diagnostic tool and the tests.
// The free space available to the caller on a folder; nothing when it cannot be asked.
using FreeSpaceQuery = std::function<std::optional<std::uint64_t>(std::string_view folder)>;
void SetFreeSpaceQuery(FreeSpaceQuery query); // empty: GetDiskFreeSpaceExW
// The launcher's executable as a full UTF-8 path; empty gives the running exe.
void SetLauncherPath(std::string path);
[[nodiscard]] std::string LauncherPath();
}
#endif
