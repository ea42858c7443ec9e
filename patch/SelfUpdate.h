// The launcher's replacement of itself. An update run whose launcher record differs from the
// running exe downloads the new exe into the incoming folder, verifies it and reports phase 4;
// the window's controller then has the patcher swap the files (exe to ".old", the download to
// exe), start the new launcher with an inheritable pipe and wait up to 30 s for its one-byte
// signal. Without the signal the new process is ended and the old exe put back ("exe.bad"
// keeps the refused one). The next patch run deletes ".old" and ".bad".
#pragma once

#ifdef _WIN32
#include "patch/Run.h"
#include "shell/Handle.h"

#include <expected>
#include <memory>
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

// One hand-over: owns the new launcher's process and the watcher thread that waits for its
// signal. Destroying it stops the watcher and lets the process go.
class CHandOver
{
public:
    // Swaps the exes and starts the new launcher at `exe` with "--handover" and the write end
    // of a pipe; the watcher then calls `onResult` once. Every failure puts the old exe back.
    [[nodiscard]] static std::expected<std::unique_ptr<CHandOver>, std::string> Start(std::string exe,
        std::string_view downloaded, HandOverResultFunction onResult);

    ~CHandOver() { StopWatching(); }
    CHandOver(const CHandOver&) = delete;
    CHandOver& operator=(const CHandOver&) = delete;

    // Ends the watcher's wait (its result is then false) and waits for it.
    void StopWatching();
    // Ends the new process and puts the old exe back ("exe.bad" keeps the new one).
    void Undo();
    [[nodiscard]] HANDLE Process() const noexcept { return m_process.get(); }

private:
    CHandOver(std::string exe, UniqueHandle process) noexcept
        : m_exe(std::move(exe)), m_process(std::move(process)) {}

    std::string m_exe;
    UniqueHandle m_process;
    std::jthread m_watcher;
};
}
#endif
