// The game client's window as a test driver finds it: its class and its controls.
#pragma once

namespace Game::Client
{
inline constexpr wchar_t kWindowClass[] = L"QuillmereClient";

inline constexpr int kReplyLine = 101;  // what the launcher's last reply said
inline constexpr int kPlayerLine = 102; // "Playing as {login}", or why not
inline constexpr int kAskButton = 103;  // asks the launcher for a new code
}
