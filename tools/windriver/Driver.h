// Drives a running launcher window from another process, for tests and scripts: find the
// window, read its child controls, move and click the real mouse, type keys, read screen
// pixels, and answer message boxes. qmwindriver.exe (Main.cpp) offers the same on a command
// line; tests link this library directly.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace Driver
{
struct SChildInfo
{
    int id = 0;
    RECT rect{}; // in the parent's client coordinates, pixels
    bool visible = false;
    bool enabled = false;
    std::wstring text;
};

// The top-level window of a class (of a process, when processId is not 0), waiting up to
// the timeout; null when none appeared.
[[nodiscard]] HWND FindWindowOf(const wchar_t* className, DWORD processId, DWORD timeoutMs);

// Waits until the window is visible and has painted once (it stays cloaked until then, which
// Wine does not report, so this waits for the middle of the picture to be painted).
[[nodiscard]] bool WaitShown(HWND window, DWORD timeoutMs);

[[nodiscard]] std::vector<SChildInfo> Children(HWND window);
[[nodiscard]] SChildInfo Child(HWND window, int id);
// The id of the control that has the keyboard focus in the window's thread; 0 for none.
[[nodiscard]] int FocusedId(HWND window);

// Real mouse input at a client point in pixels (converted to the screen at each call).
void MoveTo(HWND window, int x, int y);
void Press(HWND window, int x, int y);
void Release(HWND window, int x, int y);
void Click(HWND window, int x, int y);
// A drag in screen pixels, where the window moves under the pointer: press at a client
// point, move by (dx, dy) in steps, release.
void Drag(HWND window, int x, int y, int dx, int dy);
// Keys: virtual-key codes, pressed and released in order.
void Keys(const std::vector<WORD>& keys);
// Text typed as Unicode characters into the focused control, whatever the keyboard layout.
void Type(std::wstring_view text);

// The screen's colour at a client point, as 0xRRGGBB.
[[nodiscard]] unsigned PixelAt(HWND window, int x, int y);

// A message box (dialog class "#32770" titled "Quillmere") of a process; null when none came.
[[nodiscard]] HWND FindMessageBox(DWORD processId, DWORD timeoutMs);
[[nodiscard]] std::wstring MessageBoxText(HWND box);
// Presses a button of the box: IDOK, IDYES, IDNO, IDCANCEL.
void Answer(HWND box, int button);

// Lets the other process's messages run: waits and pumps nothing of its own.
void Settle(DWORD milliseconds = 200);
}
