// The install steps under Wine, with every place redirected into the test's own folder and
// registry key: an installer folder holding a stand-in launcher and a signed index.
#include "install/Install.h"

#include "base/Handle.h"
#include "base/Text.h"
#include "base/tests/Links.h"
#include "base/tests/TempFolder.h"
#include "install/tests/TestFiles.h"

#include <gtest/gtest.h>
#include <shobjidl.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace
{
using namespace InstallTests;
using QmRelease::SReleaseContent;

fs::path StandIn()
{
    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / "install_standin.exe";
}

// How the stand-in at exe was started (command line, current directory), once it was.
std::optional<std::pair<std::wstring, std::wstring>> WaitForStart(const fs::path& exe)
{
    const fs::path record = exe.wstring() + L".started";
    for (int waited = 0; waited < 200 && !fs::exists(record); ++waited)
    {
        Sleep(50);
    }
    if (!fs::exists(record))
    {
        return std::nullopt;
    }
    const std::string bytes = Read(record);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    fs::remove(record);
    const std::size_t newline = text.find(L'\n');
    return std::pair{text.substr(0, newline), text.substr(newline + 1)};
}

// A registry value as stored: its type and its bytes.
using SValue = std::pair<DWORD, std::string>;

std::optional<SValue> ReadValue(const std::string& key, const wchar_t* name)
{
    DWORD type = 0;
    char data[1024]{};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, Text::Utf8ToWide(key).c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) !=
        ERROR_SUCCESS)
    {
        return std::nullopt;
    }
    return SValue{type, std::string(data, size)};
}

// REG_SZ data is UTF-16 with its terminating zero.
SValue Text(const std::string& utf8)
{
    const std::wstring wide = Text::Utf8ToWide(utf8) + L'\0';
    return {REG_SZ, std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t))};
}

SValue Number(DWORD number)
{
    return {REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)};
}

struct SShortcut
{
    std::wstring path, folder, description;
};

std::optional<SShortcut> ReadShortcut(const fs::path& lnk)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::optional<SShortcut> result;
    {
        UniqueCom<IShellLinkW> link;
        UniqueCom<IPersistFile> file;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                reinterpret_cast<void**>(link.put()))) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))) &&
            SUCCEEDED(file->Load(lnk.c_str(), STGM_READ)))
        {
            wchar_t path[MAX_PATH]{}, folder[MAX_PATH]{}, description[MAX_PATH]{};
            if (SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)) &&
                SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)) &&
                SUCCEEDED(link->GetDescription(description, MAX_PATH)))
            {
                result = SShortcut{path, folder, description};
            }
        }
    } // released before COM ends
    CoUninitialize();
    return result;
}

class InstallTest : public testing::Test
{
protected:
    InstallTest()
    {
        places.installFolder = Utf8(root.path() / "Local" / "Programs" / "Quillmere");
        places.shortcut = Utf8(root.path() / "Programs" / "Quillmere.lnk");
        places.uninstallKey = testKey + "\\Uninstall\\Quillmere";
        places.executable = Utf8(installer / "Quillmere.exe");
        places.temporaryFolder = Utf8(root.path() / "Temp") + "\\";
        fs::create_directories(root.path() / "Programs");
        fs::create_directories(root.path() / "Temp");
        fs::create_directories(installer);
        fs::copy_file(StandIn(), installer / "Quillmere.exe");
        Write(installer / "Client/pack/release.quillmereindex", index);
    }
    ~InstallTest() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, Text::Utf8ToWide(testKey).c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuillmereTests"); // when no other test's key is left
    }

    static std::string Utf8(const fs::path& path) { return Text::WideToUtf8(path.wstring()); }
    [[nodiscard]] fs::path Installed() const { return fs::path(Text::Utf8ToWide(places.installFolder)); }
    [[nodiscard]] bool KeyExists() const { return ReadValue(places.uninstallKey, L"DisplayName").has_value(); }

    TempFolder root{L"qm-install"};
    fs::path installer = root.path() / "installer";
    std::string testKey = "Software\\QuillmereTests\\" + std::to_string(GetCurrentProcessId());
    std::string index = Signed(Release("Fr\xC3\xBChling \xE2\x80\x94 1.2"));
    Install::SPlaces places;
};

TEST_F(InstallTest, InstallsFromAnInstallerFolderAndStartsTheInstalledCopy)
{
    const auto handled = Install::CheckInstall(places);
    ASSERT_TRUE(handled.has_value()) << handled.error();
    EXPECT_TRUE(*handled);

    const fs::path exe = Installed() / "Quillmere.exe";
    EXPECT_EQ(Read(exe), Read(StandIn()));
    EXPECT_EQ(Read(Installed() / "Client/pack/release.quillmereindex"), index);
    EXPECT_FALSE(fs::exists(Installed() / "Client/pack/release.quillmereindex.tmp"));
    EXPECT_FALSE(fs::exists(Installed() / "Quillmere.exe.tmp"));

    const auto started = WaitForStart(exe);
    ASSERT_TRUE(started.has_value()) << "the installed copy did not start";
    EXPECT_EQ(started->first, L"\"" + exe.wstring() + L"\"");
    EXPECT_EQ(started->second, Installed().wstring());

    const auto shortcut = ReadShortcut(Text::Utf8ToWide(places.shortcut));
    ASSERT_TRUE(shortcut.has_value());
    EXPECT_EQ(shortcut->path, exe.wstring());
    EXPECT_EQ(shortcut->folder, Installed().wstring());
    EXPECT_EQ(shortcut->description, L"Quillmere");

    const std::string exeText = Utf8(exe);
    const std::pair<const wchar_t*, SValue> expected[] = {
        {L"DisplayName", Text("Quillmere")},
        {L"DisplayIcon", Text(exeText)},
        {L"Publisher", Text("Quillmere")},
        {L"InstallLocation", Text(places.installFolder)},
        {L"UninstallString", Text("\"" + exeText + "\" --uninstall")},
        {L"NoModify", Number(1)},
        {L"NoRepair", Number(1)},
        {L"DisplayVersion", Text("Fr\xC3\xBChling \xE2\x80\x94 1.2")},
        {L"EstimatedSize", Number(2)},
    };
    for (const auto& [name, value] : expected)
    {
        const auto read = ReadValue(places.uninstallKey, name);
        ASSERT_TRUE(read.has_value()) << Text::WideToUtf8(name);
        EXPECT_EQ(*read, value) << Text::WideToUtf8(name);
    }
}

TEST_F(InstallTest, AnInstalledExecutableIsOnlyStarted)
{
    // The first attempt's entries fail (no Start menu folder): the files stay, the error says so.
    const std::string shortcut = places.shortcut;
    places.shortcut = Utf8(root.path() / "missing" / "Quillmere.lnk");
    const auto failed = Install::CheckInstall(places);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), "the Start menu's entry or the uninstall entry could not be made");
    const fs::path exe = Installed() / "Quillmere.exe";
    ASSERT_TRUE(fs::exists(exe));
    EXPECT_FALSE(KeyExists());

    // Another installer's executable: the installed one is started, nothing is copied or made.
    places.shortcut = shortcut;
    Write(installer / "Quillmere.exe", "not the installed launcher");
    const auto handled = Install::CheckInstall(places);
    ASSERT_TRUE(handled.has_value()) << handled.error();
    EXPECT_TRUE(*handled);
    EXPECT_TRUE(WaitForStart(exe).has_value());
    EXPECT_EQ(Read(exe), Read(StandIn()));
    EXPECT_FALSE(fs::exists(shortcut));
    EXPECT_FALSE(KeyExists());
}

TEST_F(InstallTest, RunsInPlaceWhereTheGameIsOrCannotBeInstalled)
{
    const auto runsHere = [this](const char* what) {
        const auto handled = Install::CheckInstall(places);
        EXPECT_TRUE(handled.has_value() && !*handled) << what;
        EXPECT_FALSE(fs::exists(Installed())) << what;
    };
    // A container of the index under its file name: the game is here.
    Vfs::SContainer second{Vfs::EContainerKind::Place, 1000, {}};
    second.identity.fill(0xB2);
    Write(installer / "Client/pack" / Vfs::ContainerName(second), "");
    runsHere("a container beside the index");
    fs::remove(installer / "Client/pack" / Vfs::ContainerName(second));

    Write(installer / "Client/pack/release.quillmereindex", Signed(Release("x"), QmRelease::MakeKeyPair()));
    runsHere("an index of another trust root");
    fs::remove(installer / "Client/pack/release.quillmereindex");
    runsHere("no index");

    // Started from the install folder itself, here spelt with "/" and another case.
    fs::create_directories(Installed());
    fs::copy_file(StandIn(), Installed() / "Quillmere.exe");
    Write(Installed() / "Client/pack/release.quillmereindex", index);
    std::string spelt = places.installFolder;
    std::replace(spelt.begin(), spelt.end(), '\\', '/');
    places.executable = spelt.substr(0, spelt.size() - 9) + "QUILLMERE/Quillmere.exe";
    const auto handled = Install::CheckInstall(places);
    EXPECT_TRUE(handled.has_value() && !*handled);
    EXPECT_FALSE(WaitForStart(Installed() / "Quillmere.exe").has_value());
}

TEST_F(InstallTest, AnInstallFolderThatCannotBeMadeGivesTheErrorText)
{
    Write(root.path() / "Local", "a file where the folder should be");
    const auto handled = Install::CheckInstall(places);
    ASSERT_FALSE(handled.has_value());
    EXPECT_EQ(handled.error(), places.installFolder + " could not be written (Windows error 3)");
    EXPECT_FALSE(fs::exists(places.shortcut));
    EXPECT_FALSE(KeyExists());
}

// A link at the install folder, or on the way below it to a file the install writes: the
// install refuses before it makes or writes anything, and where the link points stays empty.
TEST_F(InstallTest, NeverWritesThroughALink)
{
    const fs::path programs = root.path() / "Local" / "Programs";
    fs::create_directories(root.path() / "elsewhere");
    fs::create_directories(Installed());
    ASSERT_TRUE(MakeLink(Installed(), L"Client", L"../../../elsewhere"));
    ASSERT_TRUE(MakeLink(programs, L"Linked", L"../../elsewhere"));
    for (const fs::path& folder : {Installed(), programs / "Linked"})
    {
        places.installFolder = Utf8(folder);
        const auto refused = Install::CheckInstall(places);
        EXPECT_EQ(refused ? "" : refused.error(), places.installFolder + " could not be written (Windows error 267)");
    }
    EXPECT_TRUE(fs::is_empty(root.path() / "elsewhere"));
    EXPECT_FALSE(KeyExists());
    RemoveLink(programs / "Quillmere", L"Client");
    RemoveLink(programs, L"Linked");
}

TEST_F(InstallTest, TheEntryFollowsTheInstalledIndexInTheInstalledLauncherOnly)
{
    ASSERT_TRUE(Install::CheckInstall(places).has_value());
    ASSERT_TRUE(WaitForStart(Installed() / "Quillmere.exe").has_value());
    SReleaseContent next = Release("two");
    next.files.push_back({"Client/data/new.bin", 0, 4096, {}});
    Write(Installed() / "Client/pack/release.quillmereindex", Signed(next));

    Install::RefreshUninstallEntry(places); // from the installer folder: no change
    EXPECT_EQ(ReadValue(places.uninstallKey, L"DisplayVersion"), Text("Fr\xC3\xBChling \xE2\x80\x94 1.2"));

    places.executable = Utf8(Installed() / "Quillmere.exe");
    Install::RefreshUninstallEntry(places);
    EXPECT_EQ(ReadValue(places.uninstallKey, L"DisplayVersion"), Text("two"));
    EXPECT_EQ(ReadValue(places.uninstallKey, L"EstimatedSize"), Number(6));
    EXPECT_EQ(ReadValue(places.uninstallKey, L"DisplayName"), Text("Quillmere"));

    // Without the entry nothing is made.
    RegDeleteTreeW(HKEY_CURRENT_USER, Text::Utf8ToWide(places.uninstallKey).c_str());
    Install::RefreshUninstallEntry(places);
    EXPECT_FALSE(ReadValue(places.uninstallKey, L"DisplayVersion").has_value());
}

TEST_F(InstallTest, UninstallHandsOverToACopyInTheTemporaryFolder)
{
    EXPECT_FALSE(Install::RelaunchForUninstall(places)) << "not from the install folder";
    ASSERT_TRUE(Install::CheckInstall(places).has_value());
    ASSERT_TRUE(WaitForStart(Installed() / "Quillmere.exe").has_value());

    // Each copy has a name of its own that no other program could have known ahead, and a
    // relaunch removes the copies that earlier ones left (not other files).
    places.executable = Utf8(Installed() / "Quillmere.exe");
    const fs::path temporary = root.path() / "Temp";
    const fs::path left = temporary / ("Quillmere-uninstall-" + std::string(32, 'a') + ".exe");
    const fs::path other = temporary / "Quillmere-uninstall-notes.exe";
    std::vector<fs::path> seen{left};
    for (int round = 0; round < 2; ++round)
    {
        Write(left, "a copy an earlier removal left");
        Write(other, "not a copy");
        ASSERT_TRUE(Install::RelaunchForUninstall(places));
        EXPECT_FALSE(fs::exists(left));
        EXPECT_TRUE(fs::exists(other));
        std::vector<fs::path> copies;
        std::ranges::copy_if(fs::directory_iterator(temporary), std::back_inserter(copies),
            [&](const fs::path& path) {
                return path.extension() == ".exe" && path != other && std::ranges::find(seen, path) == seen.end();
            },
            &fs::directory_entry::path);
        ASSERT_EQ(copies.size(), 1u);
        const fs::path& copy = copies.front();
        EXPECT_EQ(copy.filename().wstring().find_first_not_of(L"0123456789abcdef", 20), 52u) << copy;
        const auto started = WaitForStart(copy);
        ASSERT_TRUE(started.has_value());
        EXPECT_EQ(started->first, L"\"" + copy.wstring() + L"\" --uninstall");
        EXPECT_EQ(started->second, temporary.wstring());
        seen.push_back(copy);
    }
}

TEST_F(InstallTest, RemovalWaitsForHeldFilesKeepsSettingsAndFinishesAPartialRemoval)
{
    ASSERT_TRUE(Install::CheckInstall(places).has_value());
    ASSERT_TRUE(WaitForStart(Installed() / "Quillmere.exe").has_value());
    const fs::path settings = root.path() / "Local" / "Quillmere" / "Game";
    Write(settings / "Quillmere.cfg", "LANGUAGE de\n");
    Write(settings / "patch.state", "state");
    Write(Installed() / "Client/pack/session_a1a1a1a1a1a1a1a1.quillmerepack", "pack");
    Write(Installed() / "Client/data/readme.txt", "readme");
    SetFileAttributesW((Installed() / "Client/data/readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);

    // Another program holds a file, without delete sharing, for three seconds.
    const HANDLE held = CreateFileW((Installed() / "Client/data/held.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
        nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread holder([held] {
        Sleep(3000);
        CloseHandle(held);
    });
    const auto removed = Install::Uninstall(places);
    holder.join();
    ASSERT_TRUE(removed.has_value()) << removed.error();
    EXPECT_FALSE(fs::exists(Installed()));
    EXPECT_FALSE(fs::exists(places.shortcut));
    EXPECT_FALSE(KeyExists());
    EXPECT_EQ(Read(settings / "Quillmere.cfg"), "LANGUAGE de\n");
    EXPECT_EQ(Read(settings / "patch.state"), "state");

    // What an interrupted removal left: no shortcut, no key, part of the folder.
    Write(Installed() / "Client/data/left.txt", "left");
    const auto finished = Install::Uninstall(places);
    EXPECT_TRUE(finished.has_value());
    EXPECT_FALSE(fs::exists(Installed()));

    places.installFolder.clear();
    const auto unknown = Install::Uninstall(places);
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error(), "");
}
}
