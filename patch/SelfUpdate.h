// The launcher's replacement of itself. An update run whose launcher record differs from the
// running exe downloads the new exe into the incoming folder, verifies it and reports phase 4;
// the window's controller then has the patcher hand over, on a thread of the hand-over's own:
// the download moves beside the exe under a staged name ("<exe>.new", StagedLauncherNames), the
// new launcher starts from there with an inheritable pipe, and the old one waits up to 30 s for
// its one-byte signal.
// Without the signal the new process is ended and the staged file becomes "<exe>.bad". With
// it the old launcher ends, and the new one takes the exe's name in one replacing move once the
// old one's file is no longer in use (TakeLauncherName).
//
// The old exe is never moved: at every instant the exe's name holds a whole launcher, the old
// or the new, so that a power cut at any moment of a hand-over leaves a launcher that starts
// (Windows cannot replace the name of a running exe, and two moves would leave an instant
// without one). The next patch run deletes the staged names (unless it runs from one), ".bad"
// and the ".old" that launchers before this rule left.
#pragma once

#ifdef _WIN32
#include "patch/Run.h"
#include "base/Handle.h"

#include <array>
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

// The exe's staged names during a hand-over: "<exe>.new", and "<exe>.new.new" for when a
// launcher that hung still runs from the first.
[[nodiscard]] std::array<std::string, 2> StagedLauncherNames(std::string_view exe);

// The new launcher's side: `running` is its own exe. Started under a staged name, it takes the
// launcher's name (the staged name without its ".new" endings) in one replacing move, retried
// while the older launcher's file is in use, and returns that name; otherwise, or when the
// name stays held past the file retry rule's time, `running`.
[[nodiscard]] std::string TakeLauncherName(const std::string& running);

// One hand-over: owns the thread that stages the new exe, starts the new launcher and waits for
// its signal, the new launcher's process, and later the undo on a thread of its own, so that
// none of the moves under the file retry rule, nor the wait for an ended process, holds up the
// caller. Destroying it stops the watch and waits for the thread; an undo is always finished.
class CHandOver
{
public:
    // Starts the thread and returns; only a thread that cannot be started is an error here.
    // The thread waits for `before` (an earlier hand-over's undo) to end, moves `downloaded` to
    // "<exe>.new" and starts the new launcher there with "--handover" and the write end of a
    // pipe, then calls `onResult` once: a failure to stage or start comes as false with its
    // text. A stop during the move's retries gives up on it the same way.
    [[nodiscard]] static std::expected<std::unique_ptr<CHandOver>, std::string> Start(std::string exe,
        std::string downloaded, HandOverResultFunction onResult, std::shared_ptr<CHandOver> before = {});

    ~CHandOver() { StopWatching(); }
    CHandOver(const CHandOver&) = delete;
    CHandOver& operator=(const CHandOver&) = delete;

    // Ends the watcher's wait (its result is then false), or a move still retrying, and waits
    // for the thread; an undo under way is waited for to its end.
    void StopWatching();
    // Ends the watch and returns; the thread then ends the new process and turns the staged
    // exe into "<exe>.bad".
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
    [[nodiscard]] std::expected<void, std::string> Stage(std::stop_token stop, const std::string& downloaded,
        UniqueHandle& readEnd);
    void Undo();

    std::string m_exe;
    std::string m_staged; // the staged exe the new launcher runs from; the thread's until it is joined
    mutable std::mutex m_lock;
    std::condition_variable_any m_changed;
    UniqueHandle m_process; // under m_lock
    bool m_undone = false;  // under m_lock
    std::jthread m_thread;
};
}
#endif
