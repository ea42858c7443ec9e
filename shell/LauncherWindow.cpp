#include "shell/LauncherWindow.h"

#include "shell/ControllerHost.h"
#include "ui/Localisation.h"

#include <optional>

namespace Shell
{
namespace
{
struct SLauncher
{
    SWindowStart* start = nullptr;
    Ui::CMainWindow window;
    std::optional<CControllerHost> controller; // from WM_CREATE on
};

SLauncher* LauncherOf(HWND window) noexcept
{
    return reinterpret_cast<SLauncher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// ---- The controller's side -------------------------------------------------------------
// Everything the window's mechanics leave: creation after the controls exist, clicks and
// Enter (WM_COMMAND), the status timer, activation, closing and destruction, and the workers'
// messages.
bool ControllerMessage(SLauncher& launcher, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    if (message == WM_CREATE)
    {
        launcher.controller.emplace(window, launcher.window, launcher.start->launcherPath);
        launcher.controller->Create(launcher.start->recoveryMessage);
        return true;
    }
    return launcher.controller.has_value() && launcher.controller->HandleMessage(message, wParam, lParam, result);
}
// ---- End of the controller's side ------------------------------------------------------

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* launcher = new SLauncher;
        launcher->start = static_cast<SWindowStart*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(launcher));
    }
    SLauncher* launcher = LauncherOf(window);
    if (launcher == nullptr)
    {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete launcher;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_CREATE)
    {
        launcher->window.Create(window, launcher->start->brushes,
                                Ui::SignedOutView(Ui::CurrentLanguageIndex(), false));
    }

    LRESULT result = 0;
    if (launcher->window.HandleMessage(window, message, wParam, lParam, result) ||
        ControllerMessage(*launcher, window, message, wParam, lParam, result))
    {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
}

void RegisterLauncherClass(HINSTANCE instance, HBRUSH background)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
}

HWND CreateLauncherWindow(HINSTANCE instance, const RECT& rect, SWindowStart& start)
{
    return CreateWindowExW(0, kWindowClass, L"Quillmere", WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX,
                           rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                           instance, &start);
}

void FocusFirstControl(HWND window)
{
    if (SLauncher* launcher = LauncherOf(window))
    {
        launcher->window.FocusFirstControl();
    }
}
}
