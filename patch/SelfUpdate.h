// The launcher's replacement of itself. An update run whose launcher record differs from the
// running exe downloads the new exe into the incoming folder, verifies it and posts phase 4;
// the window's controller then swaps the files (exe to ".old", the download to exe), starts
// the new launcher with an inheritable pipe and waits up to 30 s for its one-byte signal.
// Without the signal the new process is ended and the old exe put back ("exe.bad" keeps the
// refused one). The next patch run deletes ".old" and ".bad".
#pragma once

#ifdef _WIN32
#include "patch/Run.h"

#include <string>
#include <string_view>

namespace Patch
{
inline constexpr UINT kHandOverMessage = WM_APP + 7;
inline constexpr DWORD kHandOverWaitMs = 30'000;

// The self-update step of a run (mode 1, selfUpdate set, the running exe differs from the
// launcher record): downloads and verifies the record's file, then posts phase 4 with its
// part path, or phase 3; a stop ends it quietly.
void SelfUpdateStep(const SRun& run, const Vfs::SIndex& index, const Vfs::SFile& launcher);

// On the window's thread, for a phase 4 report: swaps the exes and starts the new launcher
// with "--handover" and the write end of a pipe; a watcher thread then posts WM_APP + 7 with
// 1 (it signalled) or 0 (it exited, or stayed silent for 30 s, or a stop came).
[[nodiscard]] bool HandOverToNewLauncher(HWND window, std::string_view downloaded, std::string& error);

// After WM_APP + 7 with 0: ends the new process and puts the old exe back.
void UndoHandOver();

// After WM_APP + 7 with 1 the old launcher ends and never looks at the new process again;
// a process that goes on (the tests) closes its handle with this so that runs may start.
void ForgetHandOver();
}
#endif
