// A fresh folder under the user's temporary folder for one test, removed with everything in
// it when the test ends. Windows tests that touch files work only inside one of these.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

class TempFolder
{
public:
    explicit TempFolder(std::wstring_view name)
    {
        wchar_t temp[MAX_PATH]{};
        GetTempPathW(MAX_PATH, temp);
        m_path = std::filesystem::path(temp) / (std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()));
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        std::filesystem::create_directories(m_path);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

// Makes a folder the current directory (as the launcher's folder is) for a scope.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const std::filesystem::path& folder)
    {
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        SetCurrentDirectoryW(folder.c_str());
    }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    ~CurrentDirectory() { SetCurrentDirectoryW(m_previous); }

private:
    wchar_t m_previous[MAX_PATH]{};
};
