#include "patch/SelfUpdate.h"

#include "patch/Check.h"
#include "patch/Download.h"
#include "shell/File.h"
#include "shell/Handle.h"
#include "shell/Text.h"

#include <fmt/format.h>

#include <memory>
#include <system_error>
#include <vector>

namespace Patch
{
namespace
{
// A process thread attribute list, deleted with DeleteProcThreadAttributeList (its storage is
// the caller's).
using UniqueAttributeList = UniqueResource<SPointerTraits<LPPROC_THREAD_ATTRIBUTE_LIST, &DeleteProcThreadAttributeList>>;

struct SNewLauncher
{
    UniqueHandle process;
    UniqueHandle readEnd; // of the pipe whose write end the new launcher inherited
};

[[nodiscard]] std::string FolderOf(std::string_view path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1));
}

// Starts the exe with "--handover" and the write end of a new pipe, which is the only handle
// it inherits; the Windows error on failure.
[[nodiscard]] std::expected<SNewLauncher, DWORD> StartNewLauncher(const std::string& exe)
{
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0))
    {
        return std::unexpected(GetLastError());
    }
    UniqueHandle readEnd(read);
    const UniqueHandle writeEnd(write);
    if (!SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
    {
        return std::unexpected(GetLastError());
    }

    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<std::uint8_t> storage(size);
    auto* const attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
    {
        return std::unexpected(GetLastError());
    }
    const UniqueAttributeList list(attributes);
    if (!UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &write, sizeof(write), nullptr,
            nullptr))
    {
        return std::unexpected(GetLastError());
    }

    const std::wstring application = Utf8ToWide(exe);
    std::wstring commandLine = Utf8ToWide(fmt::format("\"{}\" {} {:x}", exe, "--handover",
        static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(write))));
    const std::wstring folder = Utf8ToWide(FolderOf(exe));
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = list.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
            nullptr, folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &info))
    {
        return std::unexpected(GetLastError());
    }
    SUniqueProcess started = SUniqueProcess::Adopt(info);
    return SNewLauncher{std::move(started.process), std::move(readEnd)};
}

// The watcher: the new launcher's one byte on the pipe, its end, 30 s or a stop.
void Watch(std::stop_token stop, UniqueHandle readEnd, HANDLE process, HandOverResultFunction onResult)
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
    readEnd.reset();
    if (onResult)
    {
        onResult(signalled);
    }
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
        CreateParentFolders(work.part);
        if (!IsPlainFolder(kIncomingFolder) || !MakePartFile(work.part, work.size))
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

std::expected<std::unique_ptr<CHandOver>, std::string> CHandOver::Start(std::string exe, std::string_view downloaded,
    HandOverResultFunction onResult)
{
    const std::string old = exe + ".old";
    if (!MoveLauncher(exe, old))
    {
        return std::unexpected(WithWindowsError("this launcher's file could not be set aside", GetLastError()));
    }
    if (!MoveLauncher(downloaded, exe))
    {
        std::string error = WithWindowsError("the new launcher could not take its place", GetLastError());
        (void)MoveLauncher(old, exe);
        return std::unexpected(std::move(error));
    }
    auto started = StartNewLauncher(exe);
    if (!started)
    {
        (void)MoveLauncher(exe, exe + ".bad");
        (void)MoveLauncher(old, exe);
        return std::unexpected(fmt::format("the new launcher did not start (Windows error {})", started.error()));
    }
    std::unique_ptr<CHandOver> handOver(new CHandOver(std::move(exe), std::move(started->process)));
    try
    {
        handOver->m_watcher = std::jthread(Watch, std::move(started->readEnd), handOver->Process(), std::move(onResult));
    }
    catch (const std::system_error& failure)
    {
        handOver->Undo();
        return std::unexpected(fmt::format("the new launcher could not be watched (error {})", failure.code().value()));
    }
    return handOver;
}

void CHandOver::StopWatching()
{
    if (m_watcher.joinable())
    {
        m_watcher.request_stop();
        m_watcher.join();
    }
}

void CHandOver::Undo()
{
    StopWatching();
    if (m_process)
    {
        TerminateProcess(m_process.get(), 1);
        WaitForSingleObject(m_process.get(), 5'000);
        m_process.reset();
    }
    (void)MoveLauncher(m_exe, m_exe + ".bad");
    (void)MoveLauncher(m_exe + ".old", m_exe);
}

std::expected<void, std::string> CPatcher::HandOver(std::string_view downloaded, HandOverResultFunction onResult)
{
    const std::lock_guard hold(m_lock);
    m_handOver.reset(); // an earlier one that was neither undone nor forgotten
    auto started = CHandOver::Start(m_params.launcherPath, downloaded, std::move(onResult));
    if (!started)
    {
        return std::unexpected(std::move(started.error()));
    }
    m_handOver = std::move(*started);
    return {};
}

void CPatcher::UndoHandOver()
{
    std::unique_ptr<CHandOver> handOver;
    {
        const std::lock_guard hold(m_lock);
        handOver = std::move(m_handOver);
    }
    if (handOver != nullptr)
    {
        handOver->Undo();
    }
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
