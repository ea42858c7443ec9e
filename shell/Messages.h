// The messages that worker threads post to the launcher window. Each announces one letter of
// the window's mailbox (shell/Mailbox.h): wParam is the letter's sequence number, lParam 0.
// The letter is the report, already the controller's event; it stays in the mailbox, owned by
// the window, until the window procedure takes it or the window ends. Free of <windows.h>.
#pragma once

namespace Shell
{
inline constexpr unsigned kWmApp = 0x8000; // WM_APP

inline constexpr unsigned kMsgIdentityOutcome = kWmApp + 1; // an identity request's outcome, without its secrets
inline constexpr unsigned kMsgGameEnded = kWmApp + 2;       // the game client has ended
inline constexpr unsigned kMsgGameReady = kWmApp + 3;       // the game client is ready
inline constexpr unsigned kMsgServiceStatus = kWmApp + 4;   // the status poll's answer
inline constexpr unsigned kMsgPatchReport = kWmApp + 5;     // a patch run's report
inline constexpr unsigned kMsgReleaseReloaded = kWmApp + 6; // the release's configuration was read again
inline constexpr unsigned kMsgHandOverResult = kWmApp + 7;  // the new launcher is up (1) or not (0)
}
