#include "shell/tests/Process.h"

#include "Version.h"

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
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another launcher runs";
    SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherited, 0));
    const UniqueHandle reader(readEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    const std::wstring exe = TestFolder() + L"Quillmere.exe";
    wchar_t value[32]{};
    swprintf(value, 32, L"%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(writeEnd)));
    std::wstring commandLine = L"\"" + exe + L"\" --handover " + value;
    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &info));
    CloseHandle(info.hThread);
    CloseHandle(writeEnd);
    const SChild launcher{UniqueHandle(info.hProcess), info.dwProcessId};
    const DWORD code = WaitForExit(launcher, 20000);
    if (const HWND window = FindWindowW(L"QuillmereLauncher", nullptr); window != nullptr)
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
        ADD_FAILURE() << "the launcher took its output for a hand-over pipe";
        WaitForExit(launcher, 20000);
    }
    EXPECT_EQ(code, 0u);
    DWORD available = 0;
    PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr);
    EXPECT_EQ(available, 0u) << "a byte was written into the launcher's output";
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
// installer runs from) is imported delayed, so it loads only after the start has limited the
// search to System32. What loads with the executable is System32's by Windows' own rules.
TEST(StartUp, OnlySystemDllsLoadWithTheLauncher)
{
    const std::wstring exe = TestFolder() + L"Quillmere.exe";
    const HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr);
    const auto* base = reinterpret_cast<const std::uint8_t*>(image);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> loaded;
    for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry)
    {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        std::ranges::transform(name, name.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        loaded.push_back(name);
    }
    FreeLibrary(image);
    const std::vector<std::string> known = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll",
        "msvcrt.dll", "ole32.dll", "shell32.dll", "user32.dll", "ws2_32.dll"};
    for (const std::string& name : loaded)
    {
        EXPECT_TRUE(std::ranges::find(known, name) != known.end()) << name << " loads with the launcher";
    }
    EXPECT_TRUE(std::ranges::find(loaded, "kernel32.dll") != loaded.end());
}
