// The launcher's replacement of itself. An update run whose launcher record differs from the
// running exe downloads the new exe into the incoming folder, verifies it and reports phase 4;
// the window's controller then has the patcher swap the files (exe to ".old", the download to
// exe), start the new launcher with an inheritable pipe and wait up to 30 s for its one-byte
// signal, all on a thread of the hand-over's own. Without the signal the new process is ended and the old exe put back ("exe.bad"
// keeps the refused one). The next patch run deletes ".old" and ".bad".
#pragma once

#ifdef _WIN32
#include "patch/Run.h"
#include "base/Handle.h"

#include <condition_variable>
#include <expected>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace Patch
{
inline constexpr DWORD kHandOverWaitMs = 30'000;

// The self-update step of a run (mode 1, selfUpdate set, the launcher differs from the
// record): downloads and verifies the record's file, then reports phase 4 with its part path,
// or phase 3; a stop ends it quietly.
void SelfUpdateStep(const SRun& run, const Vfs::SIndex& index, const Vfs::SFile& launcher);

// One hand-over: owns the thread that swaps the exes, starts the new launcher and waits for its
// signal, the new launcher's process, and later the undo on a thread of its own, so that none
// of the moves under the file retry rule, nor the wait for an ended process, holds up the
// caller. Destroying it stops the watch and waits for the thread; an undo is always finished,
// since an undo cut short could leave no exe at all.
class CHandOver
{
public:
    // Starts the thread and returns; only a thread that cannot be started is an error here.
    // The thread waits for `before` (an earlier hand-over's undo) to end, swaps the exes and
    // starts the new launcher at `exe` with "--handover" and the write end of a pipe, then
    // calls `onResult` once: a failure to swap or start (the old exe is back) comes as false
    // with its text. A stop during the swap's retries gives up on it the same way.
    [[nodiscard]] static std::expected<std::unique_ptr<CHandOver>, std::string> Start(std::string exe,
        std::string downloaded, HandOverResultFunction onResult, std::shared_ptr<CHandOver> before = {});

    ~CHandOver() { StopWatching(); }
    CHandOver(const CHandOver&) = delete;
    CHandOver& operator=(const CHandOver&) = delete;

    // Ends the watcher's wait (its result is then false), or a swap still retrying, and waits
    // for the thread; an undo under way is waited for to its end.
    void StopWatching();
    // Ends the watch and returns; the thread then ends the new process and puts the old exe
    // back ("exe.bad" keeps the new one) where the swap was made.
    void StartUndo();
    // Waits until an undo has ended, or the stop.
    void WaitUndone(std::stop_token stop);
    [[nodiscard]] bool Undone() const;
    // The new launcher's process once started; null before and after.
    [[nodiscard]] HANDLE Process() const;

private:
    explicit CHandOver(std::string exe) noexcept : m_exe(std::move(exe)) {}

    void HandOver(std::stop_token stop, const std::string& downloaded, const HandOverResultFunction& onResult,
        const std::shared_ptr<CHandOver>& before);
    [[nodiscard]] std::expected<void, std::string> Swap(std::stop_token stop, const std::string& downloaded,
        UniqueHandle& readEnd);
    void Undo();

    std::string m_exe;
    bool m_swapped = false; // exe is the new file and ".old" ours; the thread's until it is joined
    mutable std::mutex m_lock;
    std::condition_variable_any m_changed;
    UniqueHandle m_process; // under m_lock
    bool m_undone = false;  // under m_lock
    std::jthread m_thread;
};
}
#endif
