// Starting a child process that inherits exactly the handles named, and nothing else: a handle
// marked inheritable for one child must not leak into another started at the same time.
#pragma once

#ifdef _WIN32
#include "base/Handle.h"

#include <expected>
#include <span>
#include <string>

namespace Process
{
struct SStart
{
    std::wstring application;
    std::wstring commandLine;        // changed in place by CreateProcessW, hence a copy of its own
    std::wstring folder;             // the working folder; empty for the caller's
    std::span<const HANDLE> inherit; // each marked inheritable; empty for none
    DWORD flags = 0;                 // creation flags
};

// The started process, or the Windows error of the call that failed.
[[nodiscard]] std::expected<SUniqueProcess, unsigned long> Start(SStart start);
}
#endif
