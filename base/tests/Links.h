// Symbolic links for the tests of link handling. Wine can neither make a link nor remove one
// (its removal reaches what the link points at), but it starts Unix programs: ln and rm do it.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

// Runs a Unix program in folder until `done` holds, at most 10 s (Wine tells nothing of how
// a Unix program ended).
template <typename Done>
bool RunUnix(const wchar_t* program, std::wstring commandLine, const std::filesystem::path& folder, Done done)
{
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
            &started))
    {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    for (int waited = 0; waited < 10000 && !done(); waited += 10)
    {
        Sleep(10);
    }
    return done();
}

// Makes folder\name a link to target, a path relative to folder with "/" between parts.
inline bool MakeLink(const std::filesystem::path& folder, const std::wstring& name, const std::wstring& target)
{
    const std::filesystem::path link = folder / name;
    return RunUnix(L"Z:\\bin\\ln", L"ln -s " + target + L" " + name, folder,
        [&link] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

inline void RemoveLink(const std::filesystem::path& folder, const std::wstring& name)
{
    const std::filesystem::path link = folder / name;
    (void)RunUnix(L"Z:\\bin\\rm", L"rm " + name, folder,
        [&link] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}
