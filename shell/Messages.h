// The messages that worker threads post to the launcher window. Each carries a heap payload
// whose ownership passes to the window procedure with the message; a sender whose
// PostMessageW fails frees the payload itself. Free of <windows.h> so that the controller,
// which is built natively too, shares the numbers.
#pragma once

namespace Shell
{
inline constexpr unsigned kWmApp = 0x8000; // WM_APP

inline constexpr unsigned kMsgIdentityOutcome = kWmApp + 1; // request kind; Auth::SLoginOutcome
inline constexpr unsigned kMsgGameEnded = kWmApp + 2;       // the game client has ended
inline constexpr unsigned kMsgGameReady = kWmApp + 3;       // the game client is ready
inline constexpr unsigned kMsgServiceStatus = kWmApp + 4;   // Auth::SServiceStatus
inline constexpr unsigned kMsgPatchReport = kWmApp + 5;     // Patch::SPatchReport
inline constexpr unsigned kMsgReleaseReloaded = kWmApp + 6; // the release's configuration was read again
inline constexpr unsigned kMsgHandOverResult = kWmApp + 7;  // the new launcher is up (1) or not (0)
}
