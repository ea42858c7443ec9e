// The kinds of request the identity worker serves, shared with the window's controller that
// queues them. Free of Windows. The numbers travel as WM_APP + 1's wParam.
#pragma once

#include <cstdint>

namespace Auth
{
enum class ERequest : std::uint8_t
{
    Resume = 0, // as Refresh, queued at start-up
    SignIn = 1,
    SignOut = 2,
    GameExchange = 3,
    Refresh = 4,
    PollStatus = 5,
    ReloadService = 6,
};
}
