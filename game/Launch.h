// Starting the game client and serving it one-time codes while it runs.
//
// Start makes the two pipes of the hand-off (HandOff.h), starts "Client/QuillmereClient.exe"
// below the launcher's folder with exactly their two game-side ends inherited, and runs two
// threads: the input-idle watcher, which reports once the client's window takes input, and
// the pipe thread, which answers the client's requests through the exchange function and
// reports when the client has ended. The password and the refresh token stay with whoever
// implements the exchange; only one-time codes cross the pipe.
//
// The reports are callbacks on those threads; whoever starts the game decides how they reach
// its own thread.
#pragma once

#ifdef _WIN32
#include "game/HandOff.h"

#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace Game
{
// Relative to the launcher's folder, and as error texts name it.
inline constexpr std::string_view kClientPath = "Client/QuillmereClient.exe";

struct SLaunchParams
{
    std::wstring folder;           // the launcher's folder, with its trailing separator
    ExchangeFn exchange;           // one call per code request, on the pipe thread
    std::function<void()> ready;   // the client's window takes input (input-idle watcher's thread)
    std::function<void()> ended;   // the client has ended (pipe thread; never after Stop)
};

class CGameLaunch
{
public:
    explicit CGameLaunch(SLaunchParams params) noexcept;
    ~CGameLaunch();
    CGameLaunch(const CGameLaunch&) = delete;
    CGameLaunch& operator=(const CGameLaunch&) = delete;

    // Starts the client and both threads; on the window thread only. The threads of an
    // earlier launch are joined first, so call it again only after `ended`.
    // Errors: "the hand-off's pipes could not be made", "{} did not start (error {})".
    [[nodiscard]] std::expected<void, std::string> Start();

    // Ends both threads without reporting; the client itself goes on. A pipe thread blocked
    // on the pipe is woken within 50 ms; one inside the exchange finishes it first.
    void Stop() noexcept;

private:
    SLaunchParams m_params;
    std::jthread m_watcher;
    std::jthread m_pipe;
};

// Requests a stop, then cancels the thread's blocking reads and writes every 50 ms until it
// ends, and joins it. Nothing when it is not joinable.
void StopBlockedThread(std::jthread& thread) noexcept;
}
#endif
