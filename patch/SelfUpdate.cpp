#include "patch/SelfUpdate.h"

#include "patch/Check.h"
#include "patch/Download.h"
#include "base/File.h"
#include "base/Path.h"
#include "base/Handle.h"
#include "base/Process.h"
#include "base/Text.h"

#include <fmt/format.h>

#include <array>
#include <memory>
#include <system_error>
#include <utility>

namespace Patch
{
namespace
{
struct SNewLauncher
{
    UniqueHandle process;
    UniqueHandle readEnd; // of the pipe whose write end the new launcher inherited
};

// Starts the exe with "--handover" and the write end of a new pipe, which is the only handle
// it inherits; the Windows error on failure.
[[nodiscard]] std::expected<SNewLauncher, DWORD> StartNewLauncher(const std::string& exe)
{
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0))
    {
        return std::unexpected(GetLastError());
    }
    HANDLE write = writeEnd.get(); // the attribute list points at this value until the process starts
    if (!SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
    {
        return std::unexpected(GetLastError());
    }

    const HANDLE inherited[] = {write};
    auto started = Process::Start({
        .application = Text::Utf8ToWide(exe),
        .commandLine = Text::Utf8ToWide(fmt::format("\"{}\" {} {:x}", exe, "--handover",
                                                    static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(write)))),
        .folder = Text::Utf8ToWide(Path::FolderOf(exe)),
        .inherit = inherited,
    });
    if (!started)
    {
        return std::unexpected(started.error());
    }
    return SNewLauncher{std::move(started->process), std::move(readEnd)};
}

// The watcher: the new launcher's one byte on the pipe, its end, 30 s or a stop.
[[nodiscard]] bool Watch(std::stop_token stop, UniqueHandle readEnd, HANDLE process)
{
    bool signalled = false;
    for (DWORD waited = 0; !stop.stop_requested() && waited < kHandOverWaitMs; waited += 100)
    {
        DWORD available = 0;
        if (PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0)
        {
            signalled = true;
            break;
        }
        if (WaitForSingleObject(process, 100) != WAIT_TIMEOUT)
        {
            break; // the new launcher ended (or cannot be waited for)
        }
    }
    return signalled;
}
}

void SelfUpdateStep(const SRun& run, const Vfs::SIndex& index, const Vfs::SFile& launcher)
{
    const auto stopWith = [&](std::string message) { ReportStop(run, std::move(message)); };
    const SWork work = FileWork(launcher);
    const bool ready = FileSize(work.part) == work.size && HashFile(work.part, work.size, nullptr) == work.hash;
    if (!ready)
    {
        if (auto checked = CheckPathsToWrite(std::span(&work, 1)); !checked)
        {
            return stopWith(std::move(checked.error()));
        }
        File::CreateParentFolders(work.part);
        if (!File::IsPlainFolder(kIncomingFolder) || !MakePartFile(work.part, work.size))
        {
            return stopWith(fmt::format("{} could not be made", work.part));
        }
        SProgress progress;
        progress.run = &run;
        progress.mode = run.mode;
        progress.phase = EPatchPhase::Transferring;
        progress.total = work.size;
        Report(progress, true);
        auto fetched = FetchJob(run, index, work, SJob{0, 0, work.size}, progress.done);
        const bool flushed = fetched && FlushFile(work.part);
        if (!fetched || !flushed)
        {
            if (run.StopRequested())
            {
                return;
            }
            return stopWith(fetched ? fmt::format("{} could not be flushed", work.part) : std::move(fetched.error()));
        }
        Report(progress, true);
    }
    SPatchReport report;
    report.mode = run.mode;
    report.phase = EPatchPhase::LauncherReady;
    report.launcher = work.part;
    run.Post(std::move(report));
}

std::expected<std::unique_ptr<CHandOver>, std::string> CHandOver::Start(std::string exe, std::string downloaded,
    HandOverResultFunction onResult, std::shared_ptr<CHandOver> before)
{
    std::unique_ptr<CHandOver> handOver(new CHandOver(std::move(exe)));
    try
    {
        handOver->m_thread = std::jthread(
            [self = handOver.get(), downloaded = std::move(downloaded), onResult = std::move(onResult),
                before = std::move(before)](std::stop_token stop) { self->HandOver(stop, downloaded, onResult, before); });
    }
    catch (const std::system_error& failure)
    {
        return std::unexpected(fmt::format("the new launcher could not be watched (error {})", failure.code().value()));
    }
    return handOver;
}

std::array<std::string, 2> StagedLauncherNames(std::string_view exe)
{
    return {fmt::format("{}.new", exe), fmt::format("{}.new.new", exe)};
}

std::string TakeLauncherName(const std::string& running)
{
    constexpr std::string_view kStaged = ".new";
    std::string_view name = running;
    while (name.size() > kStaged.size() && name.substr(name.size() - kStaged.size()) == kStaged)
    {
        name.remove_suffix(kStaged.size());
    }
    if (name.size() == running.size() || !MoveLauncher(running, name))
    {
        return running;
    }
    return std::string(name);
}

std::expected<void, std::string> CHandOver::Stage(std::stop_token stop, const std::string& downloaded,
    UniqueHandle& readEnd)
{
    // A launcher that still runs from the first staged name (one that hung, never to end)
    // keeps it from being replaced: the second one is taken then.
    std::string staged;
    for (const std::string& name : StagedLauncherNames(m_exe))
    {
        if (RetryFileOperation([&] { return File::MoveReplacing(downloaded, name); }, stop))
        {
            staged = name;
            break;
        }
        if (GetLastError() != ERROR_ACCESS_DENIED || stop.stop_requested())
        {
            break;
        }
    }
    if (staged.empty())
    {
        return std::unexpected(Text::WithWindowsError("the new launcher could not take its place", GetLastError()));
    }
    auto started = StartNewLauncher(staged);
    if (!started)
    {
        (void)MoveLauncher(staged, m_exe + ".bad");
        return std::unexpected(fmt::format("the new launcher did not start (Windows error {})", started.error()));
    }
    m_staged = std::move(staged);
    readEnd = std::move(started->readEnd);
    const std::lock_guard hold(m_lock);
    m_process = std::move(started->process);
    return {};
}

void CHandOver::HandOver(std::stop_token stop, const std::string& downloaded, const HandOverResultFunction& onResult,
    const std::shared_ptr<CHandOver>& before)
{
    if (before != nullptr)
    {
        before->WaitUndone(stop);
    }
    if (stop.stop_requested())
    {
        if (onResult)
        {
            onResult(false, "the new launcher did not start");
        }
        return;
    }
    UniqueHandle readEnd;
    std::string error;
    bool signalled = false;
    if (auto staged = Stage(stop, downloaded, readEnd); !staged)
    {
        error = std::move(staged.error());
    }
    else
    {
        signalled = Watch(stop, std::move(readEnd), Process()); // only Undo, after a join, ends the process
        error = signalled ? std::string() : std::string("the new launcher did not start");
    }
    if (onResult)
    {
        onResult(signalled, std::move(error));
    }
}

void CHandOver::Undo()
{
    UniqueHandle process;
    {
        const std::lock_guard hold(m_lock);
        process = std::move(m_process);
    }
    if (process)
    {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5'000);
        process.reset();
    }
    if (!m_staged.empty())
    {
        // The new launcher took the name only if the old one's file was free to be replaced
        // (never while this launcher runs from it); the staged file is then gone already.
        (void)MoveLauncher(m_staged, m_exe + ".bad");
        m_staged.clear();
    }
    const std::lock_guard hold(m_lock);
    m_undone = true;
    m_changed.notify_all();
}

void CHandOver::StopWatching()
{
    if (m_thread.joinable())
    {
        m_thread.request_stop();
        m_thread.join();
    }
}

void CHandOver::StartUndo()
{
    StopWatching();
    try
    {
        m_thread = std::jthread([this] { Undo(); });
    }
    catch (const std::system_error&)
    {
        Undo(); // no thread to be had: the undo cannot be left out
    }
}

void CHandOver::WaitUndone(std::stop_token stop)
{
    std::unique_lock hold(m_lock);
    m_changed.wait(hold, stop, [this] { return m_undone; });
}

bool CHandOver::Undone() const
{
    const std::lock_guard hold(m_lock);
    return m_undone;
}

HANDLE CHandOver::Process() const
{
    const std::lock_guard hold(m_lock);
    return m_process.get();
}

std::expected<void, std::string> CPatcher::HandOver(std::string_view downloaded, HandOverResultFunction onResult)
{
    const std::lock_guard hold(m_lock);
    if (m_handOver != nullptr)
    {
        // An earlier one that was neither undone nor forgotten: its launcher may still run from
        // the staged name, which the new one needs, so it is undone first.
        m_handOver->StartUndo();
        m_undoing = std::move(m_handOver);
    }
    auto started = CHandOver::Start(m_params.launcherPath, std::string(downloaded), std::move(onResult), m_undoing);
    if (!started)
    {
        return std::unexpected(std::move(started.error()));
    }
    m_handOver = std::move(*started);
    return {};
}

void CPatcher::UndoHandOver()
{
    const std::lock_guard hold(m_lock);
    if (m_handOver == nullptr)
    {
        return;
    }
    m_handOver->StartUndo();
    m_undoing = std::move(m_handOver);
}

void CPatcher::ForgetHandOver()
{
    const std::lock_guard hold(m_lock);
    m_handOver.reset();
}

HANDLE CPatcher::PendingLauncher() const
{
    const std::lock_guard hold(m_lock);
    return m_handOver != nullptr ? m_handOver->Process() : nullptr;
}
}
