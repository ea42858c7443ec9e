#include "game/Launch.h"

#include "base/Handle.h"
#include "base/Process.h"
#include "base/Text.h"

#include <fmt/format.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <system_error>
#include <utility>

namespace Game
{
namespace
{
constexpr DWORD kStopPollMs = 50;

bool MakePipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) noexcept
{
    HANDLE readHandle = nullptr;
    HANDLE writeHandle = nullptr;
    if (!CreatePipe(&readHandle, &writeHandle, nullptr, 0))
    {
        return false;
    }
    readEnd.reset(readHandle);
    writeEnd.reset(writeHandle);
    return true;
}

void WatchInputIdle(std::stop_token stop, UniqueHandle process, const std::function<void()>& ready)
{
    // In slices, so that a client that never takes input cannot hold up a stop.
    for (;;)
    {
        const DWORD result = WaitForInputIdle(process.get(), 2 * kStopPollMs);
        if (result == 0)
        {
            if (ready)
            {
                ready();
            }
            return;
        }
        if (result != WAIT_TIMEOUT || stop.stop_requested() || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
        {
            return;
        }
    }
}

// Waits for the process to end: true when it did, false when a stop came first.
bool WaitForExit(HANDLE process, const std::stop_token& stop)
{
    UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::stop_callback wake(stop, [&stopped] { SetEvent(stopped.get()); });
    const HANDLE handles[] = {process, stopped.get()};
    // Without the event the stop is looked at between slices.
    const DWORD count = stopped ? 2 : 1;
    const DWORD slice = stopped ? INFINITE : kStopPollMs;
    for (;;)
    {
        const DWORD result = WaitForMultipleObjects(count, handles, FALSE, slice);
        if (result != WAIT_TIMEOUT || stop.stop_requested())
        {
            return result == WAIT_OBJECT_0 && !stop.stop_requested();
        }
    }
}

void ServePipe(std::stop_token stop, UniqueHandle process, UniqueHandle requests, UniqueHandle replies,
               const SLaunchParams& params)
{
    const ReadFn read = [&requests](std::span<std::uint8_t> into) -> std::size_t {
        DWORD got = 0;
        return ReadFile(requests.get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr) ? got : 0;
    };
    const WriteFn write = [&replies](std::span<const std::uint8_t> bytes) -> std::size_t {
        DWORD put = 0;
        return WriteFile(replies.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) ? put : 0;
    };
    ServeRequests(read, write, params.exchange, stop);
    requests.reset();
    replies.reset();
    // A client that closed its pipe ends early is still waited for.
    if (!stop.stop_requested() && WaitForExit(process.get(), stop) && params.ended)
    {
        params.ended();
    }
    process.reset();
}
}

CGameLaunch::CGameLaunch(SLaunchParams params) noexcept : m_params(std::move(params)) {}

CGameLaunch::~CGameLaunch()
{
    Stop();
}

std::expected<void, std::string> CGameLaunch::Start()
{
    if (m_watcher.joinable())
    {
        m_watcher.join();
    }
    if (m_pipe.joinable())
    {
        m_pipe.join();
    }

    std::wstring path = m_params.folder + Text::Utf8ToWide(kClientPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');

    // The request pipe carries the client's requests, the reply pipe the launcher's replies;
    // the client inherits the write end of one and the read end of the other.
    UniqueHandle requestRead, requestWrite, replyRead, replyWrite;
    if (!MakePipe(requestRead, requestWrite) || !MakePipe(replyRead, replyWrite) ||
        !SetHandleInformation(requestWrite.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !SetHandleInformation(replyRead.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
    {
        return std::unexpected(std::string("the hand-off's pipes could not be made"));
    }

    const HANDLE inherited[] = {replyRead.get(), requestWrite.get()};
    std::wstring commandLine = Text::Utf8ToWide(ClientCommandLine(
        Text::WideToUtf8(path), reinterpret_cast<std::uintptr_t>(inherited[0]), reinterpret_cast<std::uintptr_t>(inherited[1])));
    auto started = Process::Start(
        {.application = path, .commandLine = std::move(commandLine), .folder = m_params.folder, .inherit = inherited});
    replyRead.reset();
    requestWrite.reset();
    if (!started)
    {
        return std::unexpected(fmt::format("{} did not start (error {})", kClientPath, started.error()));
    }
    UniqueHandle client = std::move(started->process);
    started->thread.reset();

    try
    {
        UniqueHandle duplicate;
        if (DuplicateHandle(GetCurrentProcess(), client.get(), GetCurrentProcess(), duplicate.put(), 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
        {
            m_watcher = std::jthread(WatchInputIdle, std::move(duplicate), std::cref(m_params.ready));
        }
        m_pipe = std::jthread(ServePipe, std::move(client), std::move(requestRead), std::move(replyWrite),
                              std::cref(m_params));
    }
    catch (const std::system_error& failure)
    {
        // The client runs on; with the launcher's pipe ends closed it finds the hand-off gone.
        return std::unexpected(fmt::format("the hand-off's threads could not be started ({})", failure.what()));
    }
    return {};
}

void CGameLaunch::Stop() noexcept
{
    if (m_watcher.joinable())
    {
        m_watcher.request_stop();
        m_watcher.join();
    }
    StopBlockedThread(m_pipe);
}

void StopBlockedThread(std::jthread& thread) noexcept
{
    if (!thread.joinable())
    {
        return;
    }
    thread.request_stop();
    // Cancelling only reaches a call already blocked, so it is repeated until the thread ends.
    const auto handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    while (handle != nullptr && WaitForSingleObject(handle, kStopPollMs) == WAIT_TIMEOUT)
    {
        CancelSynchronousIo(handle);
    }
    thread.join();
}
}
