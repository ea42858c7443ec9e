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

std::expected<void, EStartRefusal> CPatcher::Start(SPatchRequest request, ReportFunction report)
{
    const std::lock_guard hold(m_lock);
    if (m_running.load())
    {
        return std::unexpected(EStartRefusal::Running);
    }
    if (request.cdn.empty())
    {
        return std::unexpected(EStartRefusal::NoCdn);
    }
    if (m_handOver != nullptr)
    {
        return std::unexpected(EStartRefusal::LauncherPending);
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
        return std::unexpected(EStartRefusal::NoThread);
    }
    return {};
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

namespace
{
// A run's steps in order, and what they hand on to each other. A step that fails returns the
// text the run stops with; one that ends the run otherwise (quietly after a stop, or with a
// last report of its own) sets `ended`.
class CRunSteps
{
public:
    explicit CRunSteps(const SRun& run) : m_run(run) {}

    [[nodiscard]] bool Ended() const noexcept { return m_ended; }

    // 1. What an earlier self-update left: a staged exe that never took the name (unless this
    // launcher is that exe), a refused one, and the set-aside exe of launchers before staging.
    std::expected<void, std::string> RemoveLeftovers()
    {
        const std::string& exe = m_run.params.launcherPath;
        if (!exe.empty())
        {
            for (const std::string& staged : StagedLauncherNames(exe))
            {
                if (staged != File::RunningExecutablePath())
                {
                    (void)DeleteGameFile(staged, m_run.stop);
                }
            }
            (void)DeleteGameFile(exe + ".old", m_run.stop);
            (void)DeleteGameFile(exe + ".bad", m_run.stop);
        }
        return {};
    }

    // 2. The installed index.
    std::expected<void, std::string> ReadInstalled()
    {
        const auto bytes = File::ReadWhole(kInstalledIndex, kLargestIndex);
        if (!bytes)
        {
            return std::unexpected(fmt::format("{} does not read", kInstalledIndex));
        }
        auto read = Vfs::ReadIndex(*bytes, Vfs::TrustRoot());
        if (!read)
        {
            return std::unexpected(std::move(read.error()));
        }
        m_installed = std::move(*read);
        return {};
    }

    // 3. What this launcher has taken.
    std::expected<void, std::string> ReadTaken()
    {
        m_state = ReadPatchState(m_run.params.statePath);
        m_taken = {std::max(m_state.release, m_installed.ReleaseNumber()),
            std::max(m_state.generation, m_installed.keyGeneration), m_installed.gameHost};
        return {};
    }

    // 4. The index used: the installed one, or the named release's, fetched and checked
    // against what was taken, for an update or a pre-load.
    std::expected<void, std::string> ChooseIndex()
    {
        if (m_run.mode != EPatchMode::Update && m_run.mode != EPatchMode::Preload)
        {
            m_used = m_installed;
            return {};
        }
        auto fetched = FetchIndex(m_run);
        if (!fetched)
        {
            return std::unexpected(std::move(fetched.error()));
        }
        m_newBytes = std::move(*fetched);
        auto fresh = Vfs::ReadIndex(m_newBytes, Vfs::TrustRoot());
        if (!fresh)
        {
            return std::unexpected(fmt::format("the new index: {}", fresh.error()));
        }
        m_used = std::move(*fresh);
        return Vfs::CheckNewIndex(m_used, m_run.release, m_run.number, m_taken);
    }

    // 5. The launcher's own file: an update whose record differs from the running exe
    // replaces the launcher instead.
    std::expected<void, std::string> ReplaceLauncher()
    {
        const auto launcher = std::find_if(m_used.files.begin(), m_used.files.end(),
            [](const Vfs::SFile& file) { return (file.flags & Vfs::kLauncherFlag) != 0; });
        if (m_run.mode == EPatchMode::Update && m_run.selfUpdate && launcher != m_used.files.end() &&
            HashOfLauncher(m_run, *launcher) != launcher->hash)
        {
            SelfUpdateStep(m_run, m_used, *launcher);
            m_ended = true;
        }
        return {};
    }

    // 6. What is missing or damaged.
    std::expected<void, std::string> Check()
    {
        auto checked = CheckStep(m_run, m_used, m_installed, m_state, m_progress);
        m_ended = !checked.has_value();
        if (checked)
        {
            m_checked = std::move(*checked);
        }
        return {};
    }

    // 7. The new index is the last work of an update; loose files of one content each get
    // their own part file; nothing is written through a link, nor where Windows cannot reach.
    // 8. A pre-load keeps only the part files it still needs.
    std::expected<void, std::string> FinishWorks()
    {
        std::vector<SWork>& works = m_checked.works;
        if (m_run.mode == EPatchMode::Update)
        {
            works.push_back(IndexWork(m_run.release, m_newBytes.size()));
        }
        SeparateParts(works);
        if (auto checked = CheckPathsToWrite(works); !checked)
        {
            return checked;
        }
        if (m_run.mode == EPatchMode::Preload)
        {
            RemoveStaleParts(works);
        }
        return {};
    }

    // 9. Space and the incoming folder; a shortfall ends the run with its own report.
    std::expected<void, std::string> MakeRoom()
    {
        const std::vector<SWork>& works = m_checked.works;
        if (works.empty())
        {
            return {};
        }
        std::vector<std::optional<std::uint64_t>> partSizes;
        for (const SWork& work : works)
        {
            partSizes.push_back(FileSize(work.part));
        }
        const std::uint64_t needed = NeededSpace(works, partSizes);
        const auto available = FreeSpace(m_run, fmt::format("{}/", kPackFolder));
        if (available && *available < needed)
        {
            SPatchReport report;
            report.mode = m_run.mode;
            report.phase = EPatchPhase::Stopped;
            report.shortfall = needed - *available;
            report.installing = m_progress.installing;
            m_run.Post(std::move(report));
            m_ended = true;
            return {};
        }
        if (!MakeFolders(kIncomingFolder))
        {
            return std::unexpected(fmt::format("{} could not be made", kIncomingFolder));
        }
        return {};
    }

    // 10. Part files.
    std::expected<void, std::string> PrepareParts()
    {
        auto jobs = PrepareWorks(m_run, m_used, m_checked.works, m_progress, m_newBytes);
        if (m_run.StopRequested())
        {
            m_ended = true;
            return {};
        }
        if (!jobs)
        {
            return std::unexpected(std::move(jobs.error()));
        }
        m_jobs = std::move(*jobs);
        return {};
    }

    // 11. Transfers.
    std::expected<void, std::string> Transfer()
    {
        if (m_jobs.empty())
        {
            return {};
        }
        std::uint64_t transferTotal = 0;
        for (const SJob& job : m_jobs)
        {
            transferTotal += job.length;
        }
        m_progress.phase = EPatchPhase::Transferring;
        m_progress.total = transferTotal;
        m_progress.done = 0;
        m_progress.fetched = 0;
        m_progress.reported = 0;
        auto downloaded = DownloadJobs(m_run, m_used, m_checked.works, m_jobs, m_progress);
        if (m_run.StopRequested())
        {
            m_ended = true;
            return {};
        }
        if (!downloaded)
        {
            return downloaded;
        }
        Report(m_progress, true);
        return {};
    }

    // 12. Every part file on the disk, every container under its own header.
    std::expected<void, std::string> FlushParts()
    {
        for (const SWork& work : m_checked.works)
        {
            if (!FlushFile(work.part))
            {
                return std::unexpected(fmt::format("{} could not be flushed", work.part));
            }
            if (work.container >= 0)
            {
                std::uint8_t head[Vfs::kContainerHeaderSize]{};
                const auto bytes = ReadHead(work.part, head);
                if (!Vfs::CheckContainerHeader(m_used, static_cast<std::uint16_t>(work.container),
                        std::span(head, bytes)))
                {
                    return std::unexpected(fmt::format("{} is not the container its index names", work.part));
                }
            }
        }
        return {};
    }

    // 13. A pre-load applies nothing.
    std::expected<void, std::string> EndPreload()
    {
        if (m_run.mode == EPatchMode::Preload)
        {
            ReportDone(false);
            m_ended = true;
        }
        return {};
    }

    // 14. The journal, written whole, then carried out.
    std::expected<void, std::string> Apply()
    {
        const std::vector<SWork>& works = m_checked.works;
        if (works.empty())
        {
            return {};
        }
        const std::string journal =
            JournalText(ComposeJournal(works, m_run.mode == EPatchMode::Update, m_installed, m_used));
        if (!File::WriteAtomically(kJournalPath, journal))
        {
            return std::unexpected(fmt::format("{} could not be written", kJournalPath));
        }
        return Replay(m_run.params.replayPauseMs);
    }

    // 15. The state the next run trusts, and the incoming folder of an update.
    std::expected<void, std::string> KeepState()
    {
        (void)WritePatchState(m_run.params.statePath,
            RebuildState(m_state, m_taken.release, m_taken.generation, m_used, m_checked.trusted,
                m_checked.verified, m_checked.works, [](std::string_view path) { return StampOf(path); }));
        if (m_run.mode == EPatchMode::Update)
        {
            File::RemoveTree(kIncomingFolder);
        }
        return {};
    }

    // 16. Finished; a pre-load's report leaves `installing` out.
    void ReportDone(bool installing) const
    {
        SPatchReport report;
        report.mode = m_run.mode;
        report.phase = EPatchPhase::Done;
        report.done = m_progress.fetched.load();
        report.repaired = !m_checked.works.empty();
        report.installing = installing && m_progress.installing;
        m_run.Post(std::move(report));
    }

private:
    const SRun& m_run;
    bool m_ended = false;
    Vfs::SIndex m_installed;
    SPatchState m_state;
    Vfs::STaken m_taken{};
    Vfs::SIndex m_used;
    std::vector<std::uint8_t> m_newBytes; // the fetched index of an update or a pre-load
    SProgress m_progress;
    SCheckResult m_checked;
    std::vector<SJob> m_jobs;
};
}

void Run(const SRun& run)
{
    using Step = std::expected<void, std::string> (CRunSteps::*)();
    static constexpr Step kSteps[] = {&CRunSteps::RemoveLeftovers, &CRunSteps::ReadInstalled, &CRunSteps::ReadTaken,
        &CRunSteps::ChooseIndex, &CRunSteps::ReplaceLauncher, &CRunSteps::Check, &CRunSteps::FinishWorks,
        &CRunSteps::MakeRoom, &CRunSteps::PrepareParts, &CRunSteps::Transfer, &CRunSteps::FlushParts,
        &CRunSteps::EndPreload, &CRunSteps::Apply, &CRunSteps::KeepState};
    CRunSteps steps(run);
    for (const Step step : kSteps)
    {
        if (auto done = (steps.*step)(); !done)
        {
            return ReportStop(run, std::move(done.error()));
        }
        if (steps.Ended())
        {
            return;
        }
    }
    steps.ReportDone(true);
}
}
