// The launcher's main window: its class and its window procedure. The procedure is a
// dispatcher: the window's mechanics (ui/CMainWindow.h) see every message first; what is left
// goes to the controller.
#pragma once

#include "ui/MainWindow.h"

#include <windows.h>

#include <string>

namespace Shell
{
inline constexpr wchar_t kWindowClass[] = L"QuillmereLauncher";

// What the start sequence hands to the window; it outlives the window.
struct SWindowStart
{
    Ui::SBrushes brushes;
    std::string recoveryMessage; // the journal recovery's error text; empty when all went well
    std::string launcherPath;    // the launcher's exe, which its self-update replaces
};

// Registers the class with the launcher's icon and the given background brush.
void RegisterLauncherClass(HINSTANCE instance, HBRUSH background);

// Creates the window (the controls are built during creation); null on failure.
[[nodiscard]] HWND CreateLauncherWindow(HINSTANCE instance, const RECT& rect, SWindowStart& start);

// After the first ShowWindow: the focus goes to the shown view's first control.
void FocusFirstControl(HWND window);
}
