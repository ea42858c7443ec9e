// Test helpers for starting executables that sit beside the test executable.
#pragma once

#include "base/Handle.h"

#include <string>

// The folder of the running test executable, with a trailing backslash.
std::wstring TestFolder();

struct SChild
{
    UniqueHandle process;
    DWORD id = 0;
};

// Starts an executable (a path relative to the test's folder) with the given arguments.
SChild StartBeside(const std::wstring& relativePath, const std::wstring& arguments = {});

// Waits for the child to end; its exit code, or STILL_ACTIVE after the timeout.
DWORD WaitForExit(const SChild& child, DWORD milliseconds);
