// The launcher keeping its game folder up to date, seen through its window: a game folder at
// release r1 (make-update-releases), the loopback CDN, and the reference identity service
// naming the current release. Runs in a Wine prefix of its own (its per-user patch state and
// single-instance mutex are the test's). Control 108's text is the status line.
#include "auth/tests/IdentityService.h"
#include "install/tests/TestFiles.h"
#include "patch/Journal.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "base/tests/TempFolder.h"
#include "tools/testservers/TestServers.h"
#include "tools/windriver/Driver.h"
#include "ui/Localisation.h"
#include "vfs/Index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;
using InstallTests::Read;

constexpr DWORD kWait = 60000;

fs::path ReleasesFolder()
{
    return fs::path(TestServers::CdnFolder()) / "launcher";
}

struct SRelease
{
    std::string id;
    Vfs::SIndex index;
    fs::path indexFile;
};

SRelease Release(const std::string& name)
{
    std::istringstream lines(Read(ReleasesFolder() / "releases"));
    std::string lineName, id;
    std::uint64_t number = 0;
    while (lines >> lineName >> id >> number)
    {
        if (lineName == name)
        {
            SRelease release{id, {}, ReleasesFolder() / "cdn/i" / (id + ".quillmereindex")};
            release.index = Vfs::ReadIndex(Read(release.indexFile), Vfs::TrustRoot()).value_or(Vfs::SIndex{});
            return release;
        }
    }
    return {};
}

// Where each file of the release lives in the CDN tree, by its game path (launcher aside).
std::map<std::string, fs::path> ReleaseFiles(const SRelease& release)
{
    std::map<std::string, fs::path> files;
    for (const Vfs::SContainer& container : release.index.containers)
    {
        files["Client/pack/" + Vfs::ContainerName(container)] =
            ReleasesFolder() / "cdn/c" / (Vfs::ToHex(container.identity) + ".quillmerepack");
    }
    for (const Vfs::SFile& file : release.index.files)
    {
        if ((file.flags & Vfs::kLauncherFlag) == 0)
        {
            files[file.path] = ReleasesFolder() / "cdn/f" / Vfs::ToHex(file.hash);
        }
    }
    files["Client/pack/release.quillmereindex"] = release.indexFile;
    return files;
}

// The CDN file holding the release's launcher.
fs::path LauncherOf(const SRelease& release)
{
    for (const Vfs::SFile& file : release.index.files)
    {
        if ((file.flags & Vfs::kLauncherFlag) != 0)
        {
            return ReleasesFolder() / "cdn/f" / Vfs::ToHex(file.hash);
        }
    }
    return {};
}

fs::path BuiltLauncher()
{
    return InstallTests::FromEnvironment("QM_BUILD_DIR") / "shell/Quillmere.exe";
}

// A launcher process and its window; one still running at the end of a test (a failed
// assertion) is closed, or ended, so that the game folder can go.
struct SLauncher
{
    UniqueHandle process;
    DWORD id = 0;
    HWND window = nullptr;

    SLauncher() = default;
    SLauncher(SLauncher&&) = default;
    SLauncher& operator=(SLauncher&&) = default;
    ~SLauncher()
    {
        if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT)
        {
            PostMessageW(window, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0)
            {
                TerminateProcess(process.get(), 99);
                WaitForSingleObject(process.get(), 5000);
            }
        }
    }
};

SLauncher Start(const fs::path& exe)
{
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION info{};
    SLauncher launcher;
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       exe.parent_path().c_str(), &startup, &info))
    {
        CloseHandle(info.hThread);
        launcher.process.reset(info.hProcess);
        launcher.id = info.dwProcessId;
        launcher.window = Driver::FindWindowOf(L"QuillmereLauncher", launcher.id, kWait);
    }
    return launcher;
}

// Closes the launcher's window and waits for its process; its exit code.
DWORD Close(const SLauncher& launcher)
{
    PostMessageW(launcher.window, WM_CLOSE, 0, 0);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(launcher.process.get(), kWait) == WAIT_OBJECT_0)
    {
        GetExitCodeProcess(launcher.process.get(), &code);
    }
    return code;
}

// The status line's text; one message to one control, so that the watch below keeps up with a
// launcher that is busy painting.
std::string StatusLine(HWND window)
{
    wchar_t text[512]{};
    SendMessageW(GetDlgItem(window, 108), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return Text::WideToUtf8(text);
}

// Reads the status line every few milliseconds, keeping each new text, until one satisfies
// `done` or the time is up; the texts seen, in order.
std::vector<std::string> WatchStatus(HWND window, const std::function<bool(const std::string&)>& done,
                                     DWORD milliseconds = kWait)
{
    std::vector<std::string> seen;
    for (const ULONGLONG end = GetTickCount64() + milliseconds; GetTickCount64() < end && IsWindow(window);)
    {
        const std::string text = StatusLine(window);
        if (seen.empty() || seen.back() != text)
        {
            seen.push_back(text);
        }
        if (done(text))
        {
            break;
        }
        Sleep(2);
    }
    return seen;
}

std::string Listed(const std::vector<std::string>& texts)
{
    std::string list;
    for (const std::string& text : texts)
    {
        list += "\n  \"" + text + "\"";
    }
    return list;
}

bool Contains(const std::vector<std::string>& texts, const std::function<bool(const std::string&)>& test)
{
    return std::any_of(texts.begin(), texts.end(), test);
}

class LauncherUpdates : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(IdentityService::BaseUrl().empty()) << "the identity service is not running";
        ASSERT_FALSE(Release("r1").id.empty()) << "make-update-releases has not run";
        fs::copy_file(BuiltLauncher(), Exe(), fs::copy_options::overwrite_existing);
        std::error_code ignored; // no stamps from an earlier test
        fs::remove(fs::path(Text::Utf8ToWide(Patch::PatchStatePath())), ignored);
    }
    // Makes the game folder whole at the release.
    void LayOut(const SRelease& release) const
    {
        for (const auto& [path, source] : ReleaseFiles(release))
        {
            InstallTests::Write(m_game.path() / path, Read(source));
        }
    }
    void TearDown() override { SetEnvironmentVariableW(L"QM_STANDIN", nullptr); }

    // The identity service names `release` as the current one.
    static void Current(const SRelease& release, std::uint64_t number)
    {
        IdentityService::Switch(fmt::format(R"({{"status":{{"current":"{}","number":{}}}}})", release.id, number));
    }

    fs::path Exe() const { return m_game.path() / "Quillmere.exe"; }

    TempFolder m_game{L"launcher-update"};
};

TEST_F(LauncherUpdates, StartUpCheckEndsQuietlyAndRepairMendsADamagedPiece)
{
    const SRelease c1 = Release("c1");
    LayOut(c1);
    Current(c1, 1);
    // A run first removes what an earlier self-update left, retrying while another program
    // holds it: holding "Quillmere.exe.old" keeps the start-up run waiting until the window
    // is up and idle, so that the run's reports are not all handled in one go.
    UniqueHandle leftover(CreateFileW((m_game.path() / "Quillmere.exe.old").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(leftover);
    const SLauncher launcher = Start(Exe());
    ASSERT_NE(launcher.window, nullptr);
    ASSERT_TRUE(Driver::WaitShown(launcher.window, kWait));
    Driver::Settle(1000);
    leftover.reset();

    // The run reads every file (no stamps yet) and reports as it goes; it ends with no
    // message of its own, and the line shows the service's state.
    const std::string online(Ui::Text(TextId::ServersOnline));
    const auto checking = WatchStatus(launcher.window, [&](const std::string& text) { return text == online; });
    EXPECT_EQ(checking.back(), online) << Listed(checking);
    EXPECT_TRUE(Contains(checking, [](const std::string& text) {
        return text.starts_with("Checking the game's files: ") && text.ends_with("%");
    })) << Listed(checking);
    Driver::Settle(1500);
    EXPECT_EQ(StatusLine(launcher.window), online);
    EXPECT_FALSE(fs::exists(m_game.path() / "Quillmere.exe.old"));

    // One byte of one piece of the large container goes bad; Repair fetches that piece again.
    const auto files = ReleaseFiles(c1);
    const auto session = std::max_element(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return fs::file_size(a.second) < fs::file_size(b.second);
    });
    {
        std::fstream file(m_game.path() / session->first, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(2 * 1048576 + 777);
        file.put('\x5A' ^ static_cast<char>(Read(session->second)[2 * 1048576 + 777]));
    }
    const Driver::SChildInfo repair = Driver::Child(launcher.window, 116);
    ASSERT_TRUE(repair.visible && repair.enabled);
    SetForegroundWindow(launcher.window);
    Driver::Settle();
    Driver::Click(launcher.window, (repair.rect.left + repair.rect.right) / 2, (repair.rect.top + repair.rect.bottom) / 2);
    const std::string repaired(Ui::Text(TextId::Repaired));
    const auto repairing = WatchStatus(launcher.window, [&](const std::string& text) { return text == repaired; });
    EXPECT_EQ(repairing.back(), repaired) << Listed(repairing);
    EXPECT_TRUE(Read(m_game.path() / session->first) == Read(session->second)) << "the container is whole again";

    EXPECT_EQ(Close(launcher), 0u);
}

TEST_F(LauncherUpdates, AReleaseWithANewLauncherHandsOverToIt)
{
    LayOut(Release("r1"));
    const SRelease r2 = Release("r2");
    Current(r2, 2);
    SLauncher old = Start(Exe());
    ASSERT_NE(old.window, nullptr);

    // The update finds the new launcher, puts it in place and starts it; once it is up, the
    // old one ends.
    ASSERT_EQ(WaitForSingleObject(old.process.get(), kWait), WAIT_OBJECT_0) << "the old launcher did not end";
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(old.process.get(), &code);
    EXPECT_EQ(code, 0u);
    SLauncher next;
    next.window = Driver::FindWindowOf(L"QuillmereLauncher", 0, kWait);
    ASSERT_NE(next.window, nullptr) << "the new launcher's window is not up";
    GetWindowThreadProcessId(next.window, &next.id);
    EXPECT_NE(next.id, old.id);
    next.process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, next.id));
    EXPECT_TRUE(Read(Exe()) == Read(LauncherOf(r2))) << "the new launcher took the old one's place";

    // The new launcher, being the release's own, goes on to update the game.
    const std::string updated = Ui::FormatText(TextId::Updated, "Release two");
    const auto texts = WatchStatus(next.window, [&](const std::string& text) { return text == updated; });
    EXPECT_EQ(texts.back(), updated) << Listed(texts);
    EXPECT_EQ(Close(next), 0u);
}

TEST_F(LauncherUpdates, ANewLauncherThatNeverSignalsLeavesTheOldOneToUpdate)
{
    LayOut(Release("r1"));
    const SRelease r3 = Release("r3");
    Current(r3, 3);
    SetEnvironmentVariableW(L"QM_STANDIN", L"exit"); // the stand-in ends without a word
    const std::string before = Read(Exe());
    const SLauncher launcher = Start(Exe());
    ASSERT_NE(launcher.window, nullptr);

    const std::string updated = Ui::FormatText(TextId::Updated, "Release three");
    const auto texts = WatchStatus(launcher.window, [&](const std::string& text) { return text == updated; });
    EXPECT_EQ(texts.back(), updated) << Listed(texts);
    const std::string failed = Ui::FormatText(TextId::UpdateStopped, "the new launcher did not start");
    EXPECT_TRUE(Contains(texts, [&](const std::string& text) { return text == failed; })) << Listed(texts);
    EXPECT_TRUE(Read(Exe()) == before) << "the launcher kept its own file";
    EXPECT_FALSE(fs::exists(m_game.path() / "Quillmere.exe.bad"));
    EXPECT_FALSE(fs::exists(m_game.path() / "Quillmere.exe.old"));
    EXPECT_TRUE(IsWindow(launcher.window));
    EXPECT_EQ(Close(launcher), 0u);
}
}
