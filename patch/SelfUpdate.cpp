#include "patch/SelfUpdate.h"

#include "patch/Check.h"
#include "patch/Download.h"
#include "shell/File.h"
#include "shell/Handle.h"
#include "shell/Text.h"

#include <fmt/format.h>

#include <memory>
#include <vector>

namespace Patch
{
namespace
{
struct SWatch
{
    HWND window = nullptr;
    UniqueHandle readEnd;
    HANDLE process = nullptr; // the pending launcher, owned by the patch values
};

void Watch(SWatch watch)
{
    bool signalled = false;
    for (DWORD waited = 0; !signalled && !StopRequested();)
    {
        DWORD available = 0;
        if (PeekNamedPipe(watch.readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0)
        {
            signalled = true;
            break;
        }
        if (WaitForSingleObject(watch.process, 100) != WAIT_TIMEOUT)
        {
            break; // the new launcher ended (or cannot be waited for)
        }
        waited += 100;
        if (waited > kHandOverWaitMs - 1)
        {
            break;
        }
    }
    watch.readEnd.reset();
    PostMessageW(watch.window, kHandOverMessage, signalled ? 1 : 0, 0);
}

[[nodiscard]] std::string FolderOf(std::string_view path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1));
}
}

void SelfUpdateStep(const SRun& run, const Vfs::SIndex& index, const Vfs::SFile& launcher)
{
    const auto stopWith = [&](std::string message) { PostStopReport(run, std::move(message)); };
    const SWork work = FileWork(launcher);
    const bool ready = FileSize(work.part) == work.size && HashFile(work.part, work.size, nullptr) == work.hash;
    if (!ready)
    {
        CreateParentFolders(work.part);
        if (!IsPlainFolder(kIncomingFolder) || !MakePartFile(work.part, work.size))
        {
            return stopWith(fmt::format("{} could not be made", work.part));
        }
        SProgress progress;
        progress.window = run.window;
        progress.mode = run.mode;
        progress.phase = 1;
        progress.total = work.size;
        Report(progress, true);
        std::string error;
        const bool fetched = FetchJob(run, index, work, SJob{0, 0, work.size}, progress.done, error);
        const bool flushed = fetched && FlushFile(work.part);
        if (!fetched || !flushed)
        {
            if (StopRequested())
            {
                return;
            }
            return stopWith(fetched ? fmt::format("{} could not be flushed", work.part) : error);
        }
        Report(progress, true);
    }
    SPatchReport report;
    report.mode = run.mode;
    report.phase = 4;
    report.launcher = work.part;
    PostReport(run.window, std::move(report));
}

bool HandOverToNewLauncher(HWND window, std::string_view downloaded, std::string& error)
{
    const std::string exe = LauncherPath();
    const std::string old = exe + ".old";
    const std::string bad = exe + ".bad";
    if (!MoveLauncher(exe, old))
    {
        error = WithWindowsError("this launcher's file could not be set aside", GetLastError());
        return false;
    }
    if (!MoveLauncher(downloaded, exe))
    {
        error = WithWindowsError("the new launcher could not take its place", GetLastError());
        (void)MoveLauncher(old, exe);
        return false;
    }

    DWORD failure = 0;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    PROCESS_INFORMATION process{};
    bool started = false;
    if (CreatePipe(&readEnd, &writeEnd, nullptr, 0) && SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<std::uint8_t> storage(size);
        auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        if (InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        {
            if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &writeEnd, sizeof(writeEnd),
                    nullptr, nullptr))
            {
                const std::wstring application = Utf8ToWide(exe);
                std::wstring commandLine = Utf8ToWide(fmt::format("\"{}\" {} {:x}", exe, "--handover",
                    static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(writeEnd))));
                const std::wstring folder = Utf8ToWide(FolderOf(exe));
                STARTUPINFOEXW startup{};
                startup.StartupInfo.cb = sizeof(startup);
                startup.lpAttributeList = attributes;
                started = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                              EXTENDED_STARTUPINFO_PRESENT, nullptr, folder.empty() ? nullptr : folder.c_str(),
                              &startup.StartupInfo, &process) != FALSE;
            }
            if (!started)
            {
                failure = GetLastError();
            }
            DeleteProcThreadAttributeList(attributes);
        }
        else
        {
            failure = GetLastError();
        }
    }
    else
    {
        failure = GetLastError();
    }
    if (writeEnd != nullptr)
    {
        CloseHandle(writeEnd);
    }
    if (!started)
    {
        if (readEnd != nullptr)
        {
            CloseHandle(readEnd);
        }
        (void)MoveLauncher(exe, bad);
        (void)MoveLauncher(old, exe);
        error = fmt::format("the new launcher did not start (Windows error {})", failure);
        return false;
    }
    CloseHandle(process.hThread);

    SPatchValues& values = Values();
    const std::lock_guard hold(values.lock);
    values.pendingLauncher = process.hProcess;
    if (values.watcherThread.joinable())
    {
        values.watcherThread.join();
    }
    values.watcherThread = std::thread(Watch, SWatch{window, UniqueHandle(readEnd), process.hProcess});
    return true;
}

void UndoHandOver()
{
    SPatchValues& values = Values();
    {
        const std::lock_guard hold(values.lock);
        if (values.watcherThread.joinable())
        {
            values.watcherThread.join();
        }
        if (values.pendingLauncher != nullptr)
        {
            TerminateProcess(values.pendingLauncher, 1);
            WaitForSingleObject(values.pendingLauncher, 5'000);
            CloseHandle(values.pendingLauncher);
            values.pendingLauncher = nullptr;
        }
    }
    const std::string exe = LauncherPath();
    (void)MoveLauncher(exe, exe + ".bad");
    (void)MoveLauncher(exe + ".old", exe);
}
}

namespace Patch
{
void ForgetHandOver()
{
    SPatchValues& values = Values();
    const std::lock_guard hold(values.lock);
    if (values.watcherThread.joinable())
    {
        values.watcherThread.join();
    }
    if (values.pendingLauncher != nullptr)
    {
        CloseHandle(values.pendingLauncher);
        values.pendingLauncher = nullptr;
    }
}
}
