#include "patch/Run.h"

#include "patch/Check.h"
#include "patch/Download.h"
#include "patch/SelfUpdate.h"
#include "base/File.h"
#include "base/Handle.h"
#include "base/Text.h"

#include <fmt/format.h>

#include <algorithm>
#include <memory>

namespace Patch
{
namespace
{
[[nodiscard]] std::optional<std::uint64_t> FreeSpace(const SRun& run, std::string_view folder)
{
    if (run.params.freeSpace)
    {
        return run.params.freeSpace(folder);
    }
    ULARGE_INTEGER available{};
    const std::wstring wide = Text::Utf8ToWide(folder);
    if (wide.empty() || !GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr))
    {
        return std::nullopt;
    }
    return available.QuadPart;
}

// Pre-load: every entry of the incoming folder that is no work's part file goes.
void RemoveStaleParts(const std::vector<SWork>& works)
{
    std::set<std::string, std::less<>> keep;
    for (const SWork& work : works)
    {
        const std::string_view part = work.part;
        keep.emplace(part.substr(part.rfind('/') + 1));
    }
    const auto entries = File::ListFolder(kIncomingFolder);
    if (!entries)
    {
        return;
    }
    for (const File::SFolderEntry& entry : *entries)
    {
        if (keep.contains(entry.name))
        {
            continue;
        }
        const std::wstring path = Text::Utf8ToWide(fmt::format("{}/{}", kIncomingFolder, entry.name));
        if (entry.folder)
        {
            RemoveDirectoryW(path.c_str());
        }
        else
        {
            DeleteFileW(path.c_str());
        }
    }
}

// Creates every folder of the path (which names a folder).
[[nodiscard]] bool MakeFolders(std::string_view folder)
{
    File::CreateParentFolders(fmt::format("{}/", folder));
    return File::IsPlainFolder(folder);
}

// Whether Windows takes paths beyond MAX_PATH from this process: only where long paths are
// turned on and the manifest opts in, which the system's own answer covers. Windows before
// the answer existed, and Wine, have none.
[[nodiscard]] bool LongPathsEnabled()
{
    using Query = BOOLEAN(WINAPI*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll == nullptr ? nullptr
                                        : reinterpret_cast<Query>(reinterpret_cast<void*>(
                                              GetProcAddress(ntdll, "RtlAreLongPathsEnabled")));
    return query != nullptr && query() != FALSE;
}

// The first bytes of a file into head; how many were read.
[[nodiscard]] std::size_t ReadHead(std::string_view path, std::span<std::uint8_t> head)
{
    const UniqueHandle file(CreateFileW(Text::Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr))
    {
        return 0;
    }
    return read;
}

// The launcher's hash, read in 1 MiB steps whatever its size; nothing when it cannot be
// read or is larger than the record, whose hash it then cannot have.
[[nodiscard]] std::optional<Vfs::SIdentity> HashOfLauncher(const SRun& run, const Vfs::SFile& record)
{
    return HashFile(run.params.launcherPath, record.size, nullptr);
}
}

std::expected<void, std::string> CheckPathsToWrite(std::span<const SWork> works)
{
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    const std::size_t base = folder.size() + (folder.ends_with(L'\\') ? 0 : 1);
    const bool longPaths = LongPathsEnabled();
    const auto check = [&](std::string_view path) -> std::expected<void, std::string> {
        if (auto refused = RefuseLinkOnTheWay(path); !refused)
        {
            return refused;
        }
        const std::size_t length = base + Text::Utf8ToWide(path).size();
        const std::size_t folderLength = base + Text::Utf8ToWide(path.substr(0, path.rfind('/'))).size();
        if (const std::size_t limit = ShortPathLimitPassed(length, folderLength); limit != 0 && !longPaths)
        {
            return std::unexpected(fmt::format("{} is too long for this Windows: {} characters with the game folder, "
                                               "where at most {} work without long paths",
                path, limit == 259 ? length : folderLength, limit));
        }
        return {};
    };
    for (const SWork& work : works)
    {
        for (const std::string* path : {&work.part, &work.target})
        {
            if (auto checked = check(*path); !checked)
            {
                return checked;
            }
        }
    }
    return {};
}

void SRun::Post(SPatchReport report) const
{
    if (this->report)
    {
        this->report(std::move(report));
    }
}

void ReportStop(const SRun& run, std::string message)
{
    SPatchReport report;
    report.mode = run.mode;
    report.phase = EPatchPhase::Stopped;
    report.message = std::move(message);
    run.Post(std::move(report));
}

void Report(SProgress& progress, bool force)
{
    const std::uint64_t done = progress.done.load();
    if (progress.run == nullptr || !ShouldReport(progress.phase, done, progress.reported, force))
    {
        return;
    }
    progress.reported = done;
    SPatchReport report;
    report.mode = progress.mode;
    report.phase = progress.phase;
    report.done = done;
    report.total = progress.total;
    report.installing = progress.installing;
    progress.run->Post(std::move(report));
}

CPatcher::CPatcher(SPatcherParams params) : m_params(std::move(params))
{
    if (m_params.launcherPath.empty())
    {
        m_params.launcherPath = File::RunningExecutablePath();
    }
    if (m_params.statePath.empty())
    {
        m_params.statePath = PatchStatePath();
    }
}

CPatcher::~CPatcher()
{
    Stop();
    ForgetHandOver();
}

bool CPatcher::Start(SPatchRequest request, ReportFunction report)
{
    const std::lock_guard hold(m_lock);
    if (m_running.load() || request.cdn.empty() || m_handOver != nullptr)
    {
        return false;
    }
    if (m_thread.joinable())
    {
        m_thread.join();
    }
    if (m_undoing != nullptr && m_undoing->Undone())
    {
        m_undoing.reset();
    }
    m_running = true;
    SRun run{std::move(request), m_params, std::move(report), {}, &m_transfers};
    try
    {
        m_thread = std::jthread([this, run = std::move(run), undoing = m_undoing](std::stop_token stop) mutable {
            run.stop = std::move(stop);
            if (undoing != nullptr)
            {
                undoing->WaitUndone(run.stop); // the run's first step deletes what the undo moves
            }
            if (!run.StopRequested())
            {
                Run(run);
            }
            m_running = false;
        });
    }
    catch (const std::system_error&)
    {
        m_running = false; // the run does not start
        return false;
    }
    return true;
}

void CPatcher::Stop()
{
    const std::lock_guard hold(m_lock);
    if (m_thread.joinable())
    {
        m_thread.request_stop();
        m_thread.join();
    }
    if (m_handOver != nullptr)
    {
        m_handOver->StopWatching();
    }
    if (m_undoing != nullptr)
    {
        m_undoing->StopWatching();
    }
}

void CPatcher::Wait()
{
    const std::lock_guard hold(m_lock);
    if (m_thread.joinable())
    {
        m_thread.join();
    }
}

void CPatcher::ThrottleTransfers(bool gameRunning) noexcept
{
    m_transfers.limit = gameRunning ? kGameRunningLimit : 0;
}

void Run(const SRun& run)
{
    const auto stopWith = [&](std::string message) { ReportStop(run, std::move(message)); };

    // 1. What an earlier self-update left: a staged exe that never took the name (unless this
    // launcher is that exe), a refused one, and the set-aside exe of launchers before staging.
    const std::string& exe = run.params.launcherPath;
    if (!exe.empty())
    {
        if (const std::string staged = StagedLauncherName(exe); staged != File::RunningExecutablePath())
        {
            (void)DeleteGameFile(staged, run.stop);
        }
        (void)DeleteGameFile(exe + ".old", run.stop);
        (void)DeleteGameFile(exe + ".bad", run.stop);
    }

    // 2. The installed index.
    const auto installedBytes = File::ReadWhole(kInstalledIndex, kLargestIndex);
    if (!installedBytes)
    {
        return stopWith(fmt::format("{} does not read", kInstalledIndex));
    }
    auto read = Vfs::ReadIndex(*installedBytes, Vfs::TrustRoot());
    if (!read)
    {
        return stopWith(std::move(read.error()));
    }
    const Vfs::SIndex installed = std::move(*read);

    // 3. What this launcher has taken.
    const SPatchState state = ReadPatchState(run.params.statePath);
    const Vfs::STaken taken{std::max(state.release, installed.ReleaseNumber()),
                            std::max(state.generation, installed.keyGeneration), installed.gameHost};

    // 4. The index used.
    Vfs::SIndex used;
    std::vector<std::uint8_t> newBytes;
    const bool newIndex = run.mode == EPatchMode::Update || run.mode == EPatchMode::Preload;
    if (newIndex)
    {
        auto fetched = FetchIndex(run);
        if (!fetched)
        {
            return stopWith(std::move(fetched.error()));
        }
        newBytes = std::move(*fetched);
        auto fresh = Vfs::ReadIndex(newBytes, Vfs::TrustRoot());
        if (!fresh)
        {
            return stopWith(fmt::format("the new index: {}", fresh.error()));
        }
        used = std::move(*fresh);
        if (auto checked = Vfs::CheckNewIndex(used, run.release, run.number, taken); !checked)
        {
            return stopWith(std::move(checked.error()));
        }
    }
    else
    {
        used = installed;
    }

    // 5. The launcher's own file.
    const auto launcher = std::find_if(used.files.begin(), used.files.end(),
        [](const Vfs::SFile& file) { return (file.flags & Vfs::kLauncherFlag) != 0; });
    if (run.mode == EPatchMode::Update && run.selfUpdate && launcher != used.files.end() &&
        HashOfLauncher(run, *launcher) != launcher->hash)
    {
        return SelfUpdateStep(run, used, *launcher);
    }

    // 6. What is missing or damaged.
    SProgress progress;
    auto checked = CheckStep(run, used, installed, state, progress);
    if (!checked)
    {
        return;
    }
    std::vector<SWork>& works = checked->works;

    // 7. The new index is the last work of an update.
    if (run.mode == EPatchMode::Update)
    {
        works.push_back(IndexWork(run.release, newBytes.size()));
    }

    // Loose files of one content each get their own part file.
    SeparateParts(works);

    // Nothing is written through a link, nor where Windows cannot reach.
    if (auto checked = CheckPathsToWrite(works); !checked)
    {
        return stopWith(std::move(checked.error()));
    }

    // 8. A pre-load keeps only the part files it still needs.
    if (run.mode == EPatchMode::Preload)
    {
        RemoveStaleParts(works);
    }

    // 9. Space and the incoming folder.
    if (!works.empty())
    {
        std::vector<std::optional<std::uint64_t>> partSizes;
        for (const SWork& work : works)
        {
            partSizes.push_back(FileSize(work.part));
        }
        const std::uint64_t needed = NeededSpace(works, partSizes);
        const auto available = FreeSpace(run, fmt::format("{}/", kPackFolder));
        if (available && *available < needed)
        {
            SPatchReport report;
            report.mode = run.mode;
            report.phase = EPatchPhase::Stopped;
            report.shortfall = needed - *available;
            report.installing = progress.installing;
            return run.Post(std::move(report));
        }
        if (!MakeFolders(kIncomingFolder))
        {
            return stopWith(fmt::format("{} could not be made", kIncomingFolder));
        }
    }

    // 10. Part files.
    auto jobs = PrepareWorks(run, used, works, progress, newBytes);
    if (run.StopRequested())
    {
        return;
    }
    if (!jobs)
    {
        return stopWith(std::move(jobs.error()));
    }

    // 11. Transfers.
    std::uint64_t transferTotal = 0;
    for (const SJob& job : *jobs)
    {
        transferTotal += job.length;
    }
    if (!jobs->empty())
    {
        progress.phase = EPatchPhase::Transferring;
        progress.total = transferTotal;
        progress.done = 0;
        progress.fetched = 0;
        progress.reported = 0;
        auto downloaded = DownloadJobs(run, used, works, *jobs, progress);
        if (run.StopRequested())
        {
            return;
        }
        if (!downloaded)
        {
            return stopWith(std::move(downloaded.error()));
        }
        Report(progress, true);
    }

    // 12. Every part file on the disk, every container under its own header.
    for (const SWork& work : works)
    {
        if (!FlushFile(work.part))
        {
            return stopWith(fmt::format("{} could not be flushed", work.part));
        }
        if (work.container >= 0)
        {
            std::uint8_t head[Vfs::kContainerHeaderSize]{};
            const auto bytes = ReadHead(work.part, head);
            if (!Vfs::CheckContainerHeader(used, static_cast<std::uint16_t>(work.container), std::span(head, bytes)))
            {
                return stopWith(fmt::format("{} is not the container its index names", work.part));
            }
        }
    }

    // 13. A pre-load applies nothing.
    if (run.mode == EPatchMode::Preload)
    {
        SPatchReport report;
        report.mode = run.mode;
        report.phase = EPatchPhase::Done;
        report.done = progress.fetched.load();
        report.repaired = !works.empty();
        return run.Post(std::move(report));
    }

    // 14. The journal, written whole, then carried out.
    if (!works.empty())
    {
        const std::string journal = JournalText(ComposeJournal(works, run.mode == EPatchMode::Update, installed, used));
        if (!File::WriteAtomically(kJournalPath, journal))
        {
            return stopWith(fmt::format("{} could not be written", kJournalPath));
        }
        if (auto replayed = Replay(run.params.replayPauseMs); !replayed)
        {
            return stopWith(std::move(replayed.error()));
        }
    }

    // 15. The state the next run trusts, and the incoming folder of an update.
    (void)WritePatchState(run.params.statePath, RebuildState(state, taken.release, taken.generation, used, checked->trusted,
        checked->verified, works, [](std::string_view path) { return StampOf(path); }));
    if (run.mode == EPatchMode::Update)
    {
        File::RemoveTree(kIncomingFolder);
    }

    // 16. Finished.
    SPatchReport report;
    report.mode = run.mode;
    report.phase = EPatchPhase::Done;
    report.done = progress.fetched.load();
    report.repaired = !works.empty();
    report.installing = progress.installing;
    run.Post(std::move(report));
}
}
