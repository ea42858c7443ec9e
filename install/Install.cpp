// The install check, the uninstall hand-over and removal, and the uninstall entry's refresh.
#include "install/Install.h"

#include "base/File.h"
#include "base/Handle.h"
#include "base/Path.h"
#include "base/Process.h"
#include "base/Text.h"
#include "vfs/Container.h"
#include "vfs/Index.h"

#include <fmt/format.h>

#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace Install
{
namespace
{
// Whole-file reads of the index and of the executable stop here.
constexpr std::uint64_t kMaxReadSize = 67108864;
// The install folder's removal: 61 attempts 250 ms apart, 15 s in all.
constexpr int kRemoveAttempts = 61;
constexpr DWORD kRemovePauseMs = 250;

// An open registry key, closed with RegCloseKey.
using UniqueRegistryKey = UniqueResource<SPointerTraits<HKEY, &RegCloseKey>>;

// Two paths name the same file or folder: same volume and same file index, which holds
// through different spellings, short names, case and links.
[[nodiscard]] bool SameFile(std::string_view first, std::string_view second)
{
    const auto identify = [](std::string_view path, BY_HANDLE_FILE_INFORMATION& info) {
        const std::wstring wide = Text::Utf8ToWide(path);
        if (wide.empty())
        {
            return false;
        }
        const UniqueHandle file(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
            nullptr));
        return file && GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return identify(first, a) && identify(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

[[nodiscard]] bool RunsFrom(const SPlaces& places, std::string_view folder)
{
    std::string here(Path::FolderOf(places.executable));
    if (here.ends_with(':'))
    {
        here += '\\'; // a drive's root, not its current folder
    }
    return !here.empty() && !folder.empty() && SameFile(here, folder);
}

// The verified index of the install below folder, or nothing.
[[nodiscard]] std::optional<std::string> ReadTrustedIndex(std::string_view folder, Vfs::SIndex& index)
{
    auto bytes = File::ReadWhole(JoinWindowsPath(folder, kIndexPath), kMaxReadSize);
    if (!bytes)
    {
        return std::nullopt;
    }
    auto read = Vfs::ReadIndex(*bytes, Vfs::TrustRoot());
    if (!read)
    {
        return std::nullopt;
    }
    index = std::move(*read);
    return std::move(*bytes);
}

// The folder holds the game already: a container of the index is there under its name.
[[nodiscard]] bool ContainerPresent(std::string_view folder, const Vfs::SIndex& index)
{
    for (const Vfs::SContainer& container : index.containers)
    {
        if (File::Exists(JoinWindowsPath(folder, fmt::format("{}/{}", kPackFolder, Vfs::ContainerName(container)))))
        {
            return true;
        }
    }
    return false;
}

// The checks of a normal start on disk. Keeps the index it verified, which is the one the
// install writes: the file is not read a second time.
class CStartProbe final : public IStartProbe
{
public:
    explicit CStartProbe(const SPlaces& places) : m_places(places), m_here(Path::FolderOf(places.executable)) {}

    [[nodiscard]] bool PlacesKnown() override
    {
        return !m_places.installFolder.empty() && !m_places.executable.empty();
    }
    [[nodiscard]] bool RunsFromInstallFolder() override { return RunsFrom(m_places, m_places.installFolder); }
    [[nodiscard]] bool IndexTrusted() override
    {
        m_indexBytes = ReadTrustedIndex(m_here, m_index);
        return m_indexBytes.has_value();
    }
    [[nodiscard]] bool HoldsContainer() override { return ContainerPresent(m_here, m_index); }
    [[nodiscard]] bool InstalledExecutableExists() override { return File::Exists(Installed()); }

    [[nodiscard]] std::string Installed() const { return JoinWindowsPath(m_places.installFolder, kExecutableName); }
    [[nodiscard]] const Vfs::SIndex& Index() const noexcept { return m_index; }
    [[nodiscard]] const std::string& IndexBytes() const noexcept { return *m_indexBytes; }

private:
    const SPlaces& m_places;
    std::string_view m_here;
    Vfs::SIndex m_index;
    std::optional<std::string> m_indexBytes;
};

// A link or a junction at the install folder or below it on the way to path, which the
// install would write through.
[[nodiscard]] bool LinkInInstall(const SPlaces& places, std::string_view path)
{
    return File::LinkOnTheWay(path, places.installFolder.size()).has_value();
}

// Writes one file of the install, never through a link.
[[nodiscard]] std::expected<void, unsigned long> WriteInstallFile(const SPlaces& places, const std::string& path,
    const std::string& bytes)
{
    if (LinkInInstall(places, path))
    {
        return std::unexpected(ERROR_DIRECTORY);
    }
    if (!File::WriteAtomically(path, bytes))
    {
        return std::unexpected(GetLastError());
    }
    return {};
}

// The pack folder of the install, the index and the executable; the Windows error when
// one of them could not be made.
[[nodiscard]] std::expected<void, unsigned long> CopyInstall(const SPlaces& places, const std::string& indexBytes,
    const std::string& installed)
{
    const std::string indexPath = JoinWindowsPath(places.installFolder, kIndexPath);
    // Checked before the folders are made too: a folder is never created through a link.
    if (LinkInInstall(places, indexPath))
    {
        return std::unexpected(ERROR_DIRECTORY);
    }
    File::CreateParentFolders(indexPath);
    const std::string_view pack = Path::FolderOf(indexPath);
    if (!File::IsPlainFolder(pack))
    {
        const DWORD error = GetLastError();
        // A link or a file in its place has no error of its own to report.
        return std::unexpected(File::Exists(pack) ? ERROR_DIRECTORY : error);
    }
    if (auto written = WriteInstallFile(places, indexPath, indexBytes); !written)
    {
        return written;
    }
    const auto self = File::ReadWhole(places.executable, kMaxReadSize);
    if (!self)
    {
        return std::unexpected(self.error());
    }
    return WriteInstallFile(places, installed, *self);
}

[[nodiscard]] bool SaveShortcut(const std::wstring& shortcut, const std::wstring& target, const std::wstring& folder)
{
    UniqueCom<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
            reinterpret_cast<void**>(link.put()))))
    {
        return false;
    }
    const std::wstring description = Text::Utf8ToWide(kProductName);
    UniqueCom<IPersistFile> file;
    if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetWorkingDirectory(folder.c_str())) ||
        FAILED(link->SetDescription(description.c_str())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))))
    {
        return false;
    }
    return SUCCEEDED(file->Save(shortcut.c_str(), TRUE));
}

// Without a known Start menu folder there is no shortcut to make.
[[nodiscard]] bool MakeShortcut(std::string_view shortcut, std::string_view target, std::string_view folder)
{
    if (shortcut.empty())
    {
        return true;
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring wideShortcut = Text::Utf8ToWide(shortcut);
    const std::wstring wideTarget = Text::Utf8ToWide(target);
    const std::wstring wideFolder = Text::Utf8ToWide(folder);
    if (!wideShortcut.empty())
    {
        DeleteFileW(wideShortcut.c_str()); // a link at its name goes itself, never written through
    }
    const bool saved = !wideShortcut.empty() && !wideTarget.empty() && !wideFolder.empty() &&
                       SaveShortcut(wideShortcut, wideTarget, wideFolder);
    if (SUCCEEDED(com))
    {
        CoUninitialize();
    }
    return saved;
}

static_assert(static_cast<DWORD>(SRegistryValue::EType::String) == REG_SZ);
static_assert(static_cast<DWORD>(SRegistryValue::EType::Number) == REG_DWORD);

[[nodiscard]] bool SetValue(HKEY key, const SRegistryValue& value)
{
    const std::wstring name = Text::Utf8ToWide(value.name);
    const std::vector<std::uint8_t> data = RegistryData(value);
    return RegSetValueExW(key, name.c_str(), 0, static_cast<DWORD>(value.type), data.data(),
               static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

// In order; the first failure stops.
[[nodiscard]] bool SetValues(HKEY key, const std::vector<SRegistryValue>& values)
{
    for (const SRegistryValue& value : values)
    {
        if (!SetValue(key, value))
        {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool MakeUninstallEntry(const SPlaces& places, std::string_view installed, const Vfs::SIndex& index)
{
    const std::wstring keyPath = Text::Utf8ToWide(places.uninstallKey);
    UniqueRegistryKey key;
    if (keyPath.empty() || RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                               key.put(), nullptr) != ERROR_SUCCESS)
    {
        return false;
    }
    return SetValues(key.get(), UninstallValues(places.installFolder, installed, index));
}
}

SPlaces DefaultPlaces()
{
    SPlaces places;
    wchar_t local[MAX_PATH]{};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, local)))
    {
        places.installFolder = InstallFolder(Text::WideToUtf8(local));
    }
    PWSTR programs = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Programs, 0, nullptr, &programs)))
    {
        places.shortcut = JoinWindowsPath(Text::WideToUtf8(programs), kShortcutName);
    }
    CoTaskMemFree(programs);
    places.executable = File::RunningExecutablePath();
    wchar_t temporary[MAX_PATH + 1]{};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length > 0 && length <= MAX_PATH)
    {
        places.temporaryFolder = Text::WideToUtf8(std::wstring_view(temporary, length));
    }
    return places;
}

std::expected<bool, std::string> CheckInstall(const SPlaces& places)
{
    CStartProbe probe(places);
    const EStart start = DecideStart(probe);
    if (start == EStart::RunHere)
    {
        return false;
    }
    const std::string installed = probe.Installed();
    if (start == EStart::Install)
    {
        if (const auto copied = CopyInstall(places, probe.IndexBytes(), installed); !copied)
        {
            return std::unexpected(NotWrittenError(places.installFolder, copied.error()));
        }
        if (!MakeShortcut(places.shortcut, installed, places.installFolder) ||
            !MakeUninstallEntry(places, installed, probe.Index()))
        {
            return std::unexpected(std::string(kEntriesError));
        }
    }
    if (const auto started = StartProgram(installed); !started)
    {
        return std::unexpected(NotStartedError(installed, started.error()));
    }
    return true;
}

namespace
{
// Copies that earlier removals left in the temporary folder; one that still runs stays.
void RemoveEarlierUninstallCopies(const std::string& temporaryFolder)
{
    const auto entries = File::ListFolder(temporaryFolder);
    for (const File::SFolderEntry& entry : entries ? *entries : std::vector<File::SFolderEntry>{})
    {
        if (!entry.folder && !entry.link && IsUninstallCopyName(entry.name))
        {
            DeleteFileW(Text::Utf8ToWide(temporaryFolder + entry.name).c_str());
        }
    }
}
}

// The copy is made afresh under a name nobody can guess, then held open (readable, but
// neither writable nor removable by others) and read back against the launcher's own bytes
// until it has started: nothing can be put in its place between the write and the start.
bool RelaunchForUninstall(const SPlaces& places)
{
    if (places.temporaryFolder.empty() || !RunsFrom(places, places.installFolder))
    {
        return false;
    }
    RemoveEarlierUninstallCopies(places.temporaryFolder);
    std::array<std::uint8_t, 16> random{};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
            BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    {
        return false;
    }
    const std::string copy = places.temporaryFolder + UninstallCopyName(random);
    const auto self = File::ReadWhole(places.executable, kMaxReadSize);
    if (!self || !File::WriteAtomically(copy, *self))
    {
        return false;
    }
    const UniqueHandle held(CreateFileW(Text::Utf8ToWide(copy).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string written(self->size(), '\0');
    if (!held || !File::ReadAt(held.get(), 0, std::span(reinterpret_cast<std::uint8_t*>(written.data()), written.size())) ||
        written != *self)
    {
        return false;
    }
    return StartProgram(copy, kUninstallSwitch).has_value();
}

std::expected<void, std::string> Uninstall(const SPlaces& places)
{
    if (const std::wstring shortcut = Text::Utf8ToWide(places.shortcut); !shortcut.empty())
    {
        DeleteFileW(shortcut.c_str());
    }
    if (const std::wstring key = Text::Utf8ToWide(places.uninstallKey); !key.empty())
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    }
    const std::wstring folder = Text::Utf8ToWide(places.installFolder);
    if (folder.empty())
    {
        return std::unexpected(places.installFolder);
    }
    for (int attempt = 1;; ++attempt)
    {
        File::RemoveTree(places.installFolder);
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        {
            return {};
        }
        if (attempt == kRemoveAttempts)
        {
            return std::unexpected(places.installFolder);
        }
        Sleep(kRemovePauseMs);
    }
}

void RefreshUninstallEntry(const SPlaces& places)
{
    if (!RunsFrom(places, places.installFolder))
    {
        return;
    }
    Vfs::SIndex index;
    const std::wstring keyPath = Text::Utf8ToWide(places.uninstallKey);
    UniqueRegistryKey key;
    if (!ReadTrustedIndex(places.installFolder, index) || keyPath.empty() ||
        RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
    {
        return;
    }
    (void)SetValues(key.get(), ReleaseValues(index));
}

std::expected<void, unsigned long> StartProgram(std::string_view executable, std::string_view argument)
{
    Process::SStart start{.application = Text::Utf8ToWide(executable),
                          .commandLine = Text::Utf8ToWide(CommandLine(executable, argument)),
                          .folder = Text::Utf8ToWide(Path::FolderOf(executable))};
    if (start.application.empty() || start.commandLine.empty() || start.folder.empty())
    {
        return std::unexpected(ERROR_INVALID_NAME);
    }
    if (auto started = Process::Start(std::move(start)); !started)
    {
        return std::unexpected(started.error());
    }
    return {};
}
}
