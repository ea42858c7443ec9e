// The launcher as a player meets it, in a Wine prefix of this test's own (in-own-prefix):
// started from an installer folder it installs itself and starts the installed copy; the
// uninstall entry's command hands over to a temporary copy, which asks before it removes.
#include "install/Install.h"

#include "base/Text.h"
#include "base/tests/TempFolder.h"
#include "install/tests/TestFiles.h"
#include "tools/windriver/Driver.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <optional>

namespace
{
using namespace InstallTests;

fs::path KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH]{};
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// Runs an executable and waits for its end: its exit code, or STILL_ACTIVE.
DWORD RunToEnd(const fs::path& exe, const std::wstring& arguments, DWORD milliseconds = 30000)
{
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
            &started))
    {
        return GetLastError();
    }
    CloseHandle(started.hThread);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(started.hProcess, milliseconds) == WAIT_OBJECT_0)
    {
        GetExitCodeProcess(started.hProcess, &code);
    }
    CloseHandle(started.hProcess);
    return code;
}

// Waits for a window's process to end.
bool WaitForOwnerEnd(HWND window, DWORD milliseconds = 30000)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process == nullptr)
    {
        return true; // ended already
    }
    const bool ended = WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

struct SAnswered
{
    std::string text;
    bool ended = false; // the asking process ended after the answer
};

// Reads the launcher's message box, presses the button and, unless another box is to come,
// waits for the process that showed it to end.
SAnswered Answer(int button, bool waitForEnd = true)
{
    const HWND box = Driver::FindMessageBox(0, 30000);
    if (box == nullptr)
    {
        return {"(no message box)"};
    }
    const std::string text = Text::WideToUtf8(Driver::MessageBoxText(box));
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, owner);
    Driver::Answer(box, button);
    for (int waited = 0; waited < 200 && IsWindow(box); ++waited)
    {
        Sleep(50);
    }
    const bool ended = waitForEnd && process != nullptr && WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    if (process != nullptr)
    {
        CloseHandle(process);
    }
    return {text, ended};
}

std::optional<std::wstring> Value(const wchar_t* name)
{
    wchar_t data[512]{};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmere", name,
            RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    {
        return std::nullopt;
    }
    return data;
}

TEST(Player, InstallsRunsTheInstalledCopyAndRemovesItOnlyWhenAskedAndFree)
{
    const fs::path launcher = FromEnvironment("QM_BUILD_DIR") / "shell/Quillmere.exe";
    ASSERT_TRUE(fs::exists(launcher)) << launcher;
    const fs::path local = KnownFolder(CSIDL_LOCAL_APPDATA);
    const fs::path installed = local / "Programs" / "Quillmere";
    const fs::path shortcut = KnownFolder(CSIDL_PROGRAMS) / "Quillmere.lnk";
    const fs::path settings = local / "Quillmere/Game/Quillmere.cfg";
    Write(settings, "LANGUAGE en\n");

    TempFolder installer(L"qm-installer");
    const std::string index = Signed(Release("Release one"));
    fs::copy_file(launcher, installer.path() / "Quillmere.exe");
    Write(installer.path() / "Client/pack/release.quillmereindex", index);

    // The installer's launcher installs, starts the installed copy and ends.
    ASSERT_EQ(RunToEnd(installer.path() / "Quillmere.exe", L""), 0u);
    EXPECT_EQ(Read(installed / "Quillmere.exe"), Read(launcher));
    EXPECT_EQ(Read(installed / "Client/pack/release.quillmereindex"), index);
    EXPECT_TRUE(fs::exists(shortcut));
    EXPECT_EQ(Value(L"UninstallString"), L"\"" + (installed / "Quillmere.exe").wstring() + L"\" --uninstall");
    const HWND window = Driver::FindWindowOf(L"QuillmereLauncher", 0, 30000);
    ASSERT_NE(window, nullptr) << "the installed copy did not open its window";

    const auto untouched = [&](const char* when) {
        EXPECT_TRUE(fs::exists(installed / "Quillmere.exe")) << when;
        EXPECT_TRUE(fs::exists(shortcut)) << when;
        EXPECT_TRUE(Value(L"DisplayName").has_value()) << when;
    };
    // The entry's command ends at once; its temporary copy finds the window open.
    EXPECT_EQ(RunToEnd(installed / "Quillmere.exe", L"--uninstall", 15000), 0u);
    const SAnswered running = Answer(IDOK);
    EXPECT_EQ(running.text, "Quillmere is running. Close it, then remove it again.");
    EXPECT_TRUE(running.ended);
    untouched("while the launcher runs");

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitForOwnerEnd(window));

    EXPECT_EQ(RunToEnd(installed / "Quillmere.exe", L"--uninstall", 15000), 0u);
    const SAnswered declined = Answer(IDNO);
    EXPECT_EQ(declined.text, "Remove Quillmere from this PC? Your account and your settings are kept.");
    EXPECT_TRUE(declined.ended);
    untouched("after No");

    EXPECT_EQ(RunToEnd(installed / "Quillmere.exe", L"--uninstall", 15000), 0u);
    EXPECT_EQ(Answer(IDYES, false).text, "Remove Quillmere from this PC? Your account and your settings are kept.");
    const SAnswered removed = Answer(IDOK);
    EXPECT_EQ(removed.text, "Quillmere has been removed from this PC.");
    EXPECT_TRUE(removed.ended);
    EXPECT_FALSE(fs::exists(installed));
    EXPECT_FALSE(fs::exists(shortcut));
    EXPECT_FALSE(Value(L"DisplayName").has_value());
    EXPECT_EQ(Read(settings), "LANGUAGE en\n");
}
}
