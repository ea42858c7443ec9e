#include "shell/tests/Process.h"

#include "Version.h"

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <winver.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

std::wstring TestFolder()
{
    wchar_t path[MAX_PATH]{};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

SChild StartBeside(const std::wstring& relativePath, const std::wstring& arguments)
{
    const std::wstring exe = TestFolder() + relativePath;
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
    {
        return {};
    }
    CloseHandle(info.hThread);
    return {UniqueHandle(info.hProcess), info.dwProcessId};
}

DWORD WaitForExit(const SChild& child, DWORD milliseconds)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(child.process.get(), milliseconds) == WAIT_OBJECT_0)
    {
        GetExitCodeProcess(child.process.get(), &code);
    }
    return code;
}

namespace
{
struct SFoundBox
{
    DWORD processId;
    HWND window = nullptr;
};

// A message box of the given process: dialog class "#32770" with the launcher's caption.
HWND FindMessageBox(DWORD processId, DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 50)
    {
        SFoundBox found{processId};
        EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
                auto* box = reinterpret_cast<SFoundBox*>(context);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                wchar_t className[32]{};
                wchar_t title[64]{};
                GetClassNameW(window, className, 32);
                GetWindowTextW(window, title, 64);
                if (owner == box->processId && std::wstring_view(className) == L"#32770" &&
                    std::wstring_view(title) == L"Quillmere")
                {
                    box->window = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        if (found.window != nullptr)
        {
            return found.window;
        }
        Sleep(50);
    }
    return nullptr;
}

std::wstring MessageBoxText(HWND box)
{
    // The text of a message box is its static control 0xFFFF.
    wchar_t text[512]{};
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    return text;
}
}

TEST(StartUp, TheManifestGivesTheUtf8CodePage)
{
    // This test executable carries the launcher's manifest.
    EXPECT_EQ(GetACP(), CP_UTF8);

    // The launcher gets past its code-page check to its window, without a message box, and
    // ends with 0 when the window is closed.
    const SChild launcher = StartBeside(L"Quillmere.exe");
    ASSERT_TRUE(launcher.process);
    HWND window = nullptr;
    for (int waited = 0; window == nullptr && waited < 20000; waited += 50)
    {
        Sleep(50);
        window = FindWindowW(L"QuillmereLauncher", nullptr);
    }
    ASSERT_NE(window, nullptr) << "no launcher window appeared";
    EXPECT_EQ(FindMessageBox(launcher.id, 300), nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(launcher, 20000), 0u);
}

// A launcher that is ending may leave its single-instance mutex behind for a moment (a killed
// one under Wine, for longer): a start in that moment waits for it to go instead of ending
// unseen, and one that stays held without a window ends the start quietly.
TEST(StartUp, AStartWaitsOutAnEndingLauncher)
{
    HANDLE held = CreateMutexW(nullptr, FALSE, L"Local\\QuillmereLauncher");
    ASSERT_NE(held, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another launcher runs";
    const SChild waiting = StartBeside(L"Quillmere.exe");
    ASSERT_TRUE(waiting.process);
    EXPECT_EQ(WaitForExit(waiting, 1500), static_cast<DWORD>(STILL_ACTIVE)) << "the start ended at once";
    CloseHandle(held);
    HWND window = nullptr;
    for (int waited = 0; window == nullptr && waited < 20000; waited += 50)
    {
        Sleep(50);
        window = FindWindowW(L"QuillmereLauncher", nullptr);
    }
    ASSERT_NE(window, nullptr) << "the start did not go on once the mutex was gone";
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(waiting, 20000), 0u);

    held = CreateMutexW(nullptr, FALSE, L"Local\\QuillmereLauncher");
    const SChild turnedAway = StartBeside(L"Quillmere.exe");
    EXPECT_EQ(WaitForExit(turnedAway, 20000), 0u);
    EXPECT_EQ(FindWindowW(L"QuillmereLauncher", nullptr), nullptr);
    CloseHandle(held);
}

// "--handover" naming the start's own redirected output is no hand-over: the start stays a
// normal one (here turned away by a held single-instance mutex) and writes nothing into it.
TEST(StartUp, AStandardHandleIsNoHandOverPipe)
{
    const HANDLE held = CreateMutexW(nullptr, FALSE, L"Local\\QuillmereLauncher");
    SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    ASSERT_TRUE(CreatePipe(&readEnd, &startup.hStdOutput, &inherited, 0));
    const UniqueHandle reader(readEnd);
    const std::wstring exe = TestFolder() + L"Quillmere.exe";
    std::wstring commandLine =
        fmt::format(L"\"{}\" --handover {:x}", exe, reinterpret_cast<std::uintptr_t>(startup.hStdOutput));
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(
        CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    CloseHandle(startup.hStdOutput);
    const SChild launcher{UniqueHandle(info.hProcess), info.dwProcessId};
    EXPECT_EQ(WaitForExit(launcher, 20000), 0u) << "the launcher took its output for a hand-over pipe";
    PostMessageW(FindWindowW(L"QuillmereLauncher", nullptr), WM_CLOSE, 0, 0);
    DWORD available = 0;
    PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
    EXPECT_EQ(available, 0u);
    CloseHandle(held);
}

TEST(StartUp, WithoutTheManifestTheLauncherRefusesToStart)
{
    const SChild launcher = StartBeside(L"QuillmereNoManifest.exe");
    ASSERT_TRUE(launcher.process);
    const HWND box = FindMessageBox(launcher.id, 20000);
    ASSERT_NE(box, nullptr) << "no message box appeared";
    EXPECT_EQ(MessageBoxText(box),
              L"This program needs UTF-8 as its process code page, which its manifest asks for and Windows 10 "
              L"version 1903 or later grants. Windows gave it another one.");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForExit(launcher, 20000), 1u);
}

TEST(StartUp, TheVersionRecordMarksADevelopmentBuild)
{
    const std::wstring exe = TestFolder() + L"Quillmere.exe";
    const HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(image, found)));
    const std::vector<std::uint8_t> record(bytes, bytes + SizeofResource(image, found));
    FreeLibrary(image);

    // The fixed part begins with its signature; the file flags follow 28 bytes later.
    const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    const auto fixed = std::search(record.begin(), record.end(), std::begin(signature), std::end(signature));
    ASSERT_NE(fixed, record.end());
    DWORD flags = 0;
    std::memcpy(&flags, &*(fixed + 28), sizeof(flags));
    const std::wstring_view name = L"PrivateBuild";
    const auto* text = reinterpret_cast<const std::uint8_t*>(name.data());
    const bool named = std::search(record.begin(), record.end(), text, text + name.size() * 2) != record.end();
    EXPECT_EQ((flags & VS_FF_PRIVATEBUILD) != 0, QM_DEVELOPMENT_BUILD == 1);
    EXPECT_EQ(named, QM_DEVELOPMENT_BUILD == 1);
}

// A DLL that Windows would look for beside the executable (in the downloads folder the
// installer runs from) is delay-loaded, after the start has limited the search to System32.
TEST(StartUp, OnlySystemDllsLoadWithTheLauncher)
{
    const std::wstring exe = TestFolder() + L"Quillmere.exe";
    const HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr);
    const auto* base = reinterpret_cast<const char*>(image);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    const std::string_view system = "advapi32 comctl32 gdi32 kernel32 msvcrt ole32 shell32 user32 ws2_32";
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); entry->Name != 0; ++entry)
    {
        std::string name = base + entry->Name;
        std::ranges::transform(name, name.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_NE(system.find(name.substr(0, name.size() - 4)), std::string_view::npos) << name;
    }
    FreeLibrary(image);
}
