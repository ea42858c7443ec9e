// Stands in for an installed launcher: records how it was started (its command line and
// its current directory, UTF-16, one per line) in "<its own path>.started", then ends.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t self[MAX_PATH]{};
    wchar_t current[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring record = std::wstring(GetCommandLineW()) + L"\n" + current;
    const std::wstring temporary = std::wstring(self) + L".started.tmp";
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        return 1;
    }
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    // Whole or not at all for the test that waits for it.
    return MoveFileExW(temporary.c_str(), (std::wstring(self) + L".started").c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
