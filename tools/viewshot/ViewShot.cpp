// qmviewshot: shows the launcher's window (its real controls, layout and drawing) with a fixed
// view, for screenshots and pixel tests of states that need a server to reach otherwise.
//
//   qmviewshot STATE [LANGUAGE-CODE]
//     STATE: signedout, signedin, patching, busy (signed in, PLAY disabled), unreadable,
//            error, connection, good, attention (the status kinds, signed out)
//   qmviewshot --bench FRAMES RESULT-FILE
//     measures, side by side in one run, the process CPU time of an animation frame (the
//     cached scene blitted plus 24 embers) against a frame that redraws the whole scene, and
//     counts the animation timer's ticks per second while shown and active, minimised,
//     hidden and inactive; writes one line per measure to RESULT-FILE and ends.
//
// The window has the launcher's class, so qmwindriver finds it; it ends when closed.
#include "base/Text.h"
#include "ui/Graphics.h"
#include "ui/Localisation.h"
#include "ui/MainWindow.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace
{
Ui::CMainWindow* g_window = nullptr;
Ui::SView g_view;
unsigned g_animationTicks = 0;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    static Ui::SBrushes brushes{CreateSolidBrush(RGB(35, 34, 40)), CreateSolidBrush(RGB(54, 53, 59))};
    if (message == WM_CREATE)
    {
        g_window->Create(window, brushes, g_view);
    }
    if (message == WM_TIMER && wParam == 1)
    {
        ++g_animationTicks;
    }
    LRESULT result = 0;
    if (g_window->HandleMessage(window, message, wParam, lParam, result))
    {
        return result;
    }
    if (message == WM_DESTROY)
    {
        g_window->Destroy();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

Ui::SView ViewFor(const std::string& state, std::size_t language)
{
    using Ui::ControlId;
    using Ui::StatusKind;
    const bool signedIn = state == "signedin" || state == "patching" || state == "busy";
    Ui::SView view = Ui::SignedOutView(language, state != "unreadable");
    view.releaseName = "Quillmere 1.4.2";
    view.hasCdn = true;
    if (signedIn)
    {
        view.signedIn = true;
        view.loginName = "mirandolina7";
        for (ControlId id : {ControlId::LoginCaption, ControlId::LoginBox, ControlId::PasswordCaption,
                             ControlId::PasswordBox, ControlId::SignIn, ControlId::CreateAccount,
                             ControlId::ForgotPassword})
        {
            view[id].shown = false;
        }
        for (ControlId id : {ControlId::SignedInLine, ControlId::Play, ControlId::SignOut})
        {
            view[id] = {.shown = true, .enabled = true};
        }
    }
    auto status = [&](TextId id, StatusKind kind) {
        view.statusText = std::string(Ui::TextIn(language, id));
        view.statusKind = kind;
    };
    if (state == "signedin")
        status(TextId::ServersOnline, StatusKind::Good);
    else if (state == "patching")
    {
        view.statusText = fmt::format(fmt::runtime(Ui::TextIn(language, TextId::Updating)), 37, 213);
        view.progressFraction = 0.37f;
        view[ControlId::Play].enabled = false;
        view[ControlId::Repair].enabled = false;
    }
    else if (state == "busy")
    {
        status(TextId::CheckingSignIn, StatusKind::Neutral);
        view[ControlId::Play].enabled = false;
        view[ControlId::SignOut].enabled = false;
        view[ControlId::LanguageList].enabled = false;
    }
    else if (state == "unreadable")
        view.statusText = fmt::format(fmt::runtime(Ui::TextIn(language, TextId::FilesUnreadable)),
                                      "the index file is missing"),
        view.statusKind = StatusKind::Error;
    else if (state == "error")
        status(TextId::WrongLogin, StatusKind::Error);
    else if (state == "connection")
        status(TextId::ServersOffline, StatusKind::Connection);
    else if (state == "good")
        status(TextId::ServersOnline, StatusKind::Good);
    else if (state == "attention")
        status(TextId::NewVersion, StatusKind::Attention);
    Ui::FillTexts(view);
    return view;
}
}

// One result line, written at once (the C runtime here buffers files fully).
void Line(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

// Runs this thread's messages for a while.
void PumpFor(DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64())
    {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message{};
        // A busy machine paints slower than the animation ticks: stop at the deadline anyway.
        while (GetTickCount64() < end && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

double ProcessCpuMs()
{
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10'000.0;
}

// CPU milliseconds per painted frame, the scene rebuilt each time or reused.
double CpuPerFrame(HWND window, int frames, bool rebuildScene)
{
    const double start = ProcessCpuMs();
    for (int i = 0; i < frames; ++i)
    {
        if (rebuildScene)
        {
            g_window->Redraw();
        }
        else
        {
            InvalidateRect(window, nullptr, FALSE);
        }
        UpdateWindow(window);
    }
    GdiFlush();
    return (ProcessCpuMs() - start) / frames;
}

unsigned TicksDuring(DWORD milliseconds)
{
    g_animationTicks = 0;
    PumpFor(milliseconds);
    return g_animationTicks;
}

int Bench(HWND window, HINSTANCE instance, int frames)
{
    SetForegroundWindow(window);
    PumpFor(1500);
    Line("frames %d\n", frames);
    const double animation = CpuPerFrame(window, frames, false);
    const double scene = CpuPerFrame(window, frames, true);
    const double animationAgain = CpuPerFrame(window, frames, false);
    Line("dpi %u\n", GetDpiForWindow(window));
    Line("cpu ms per animation frame (blit + 24 embers): %.3f (again %.3f)\n", animation, animationAgain);
    Line("cpu ms per frame with the scene redrawn: %.3f\n", scene);
    Line("scene frame / animation frame: %.2f\n", scene / ((animation + animationAgain) / 2));

    Line("animation ticks per second, shown and active: %u\n", TicksDuring(1000));
    ShowWindow(window, SW_MINIMIZE);
    PumpFor(300);
    Line("animation ticks per second, minimised: %u\n", TicksDuring(1000));
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_HIDE);
    PumpFor(300);
    Line("animation ticks per second, hidden: %u\n", TicksDuring(1000));
    ShowWindow(window, SW_SHOW);
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 instance, nullptr);
    SetForegroundWindow(other);
    PumpFor(300);
    Line("animation ticks per second, inactive: %u\n", TicksDuring(1000));
    DestroyWindow(other);
    SetForegroundWindow(window);
    PumpFor(300);
    Line("animation ticks per second, active again: %u\n", TicksDuring(1000));
    std::fflush(stdout);
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::string state = argc > 1 ? Text::WideToUtf8(argv[1]) : "signedout";
    const bool bench = state == "--bench";
    const int frames = bench && argc > 2 ? std::max(10, _wtoi(argv[2])) : 200;
    // A GUI program has no console: the results go to a file, line by line.
    if (bench && (argc < 4 || _wfreopen(argv[3], L"w", stdout) == nullptr))
    {
        return 2;
    }
    std::size_t language = Ui::kEnglish;
    if (argc > 2 && !bench)
    {
        language = Ui::LanguageByCode(Text::WideToUtf8(argv[2])).value_or(Ui::kEnglish);
    }
    LocalFree(argv);
    Ui::SetLanguage(language);
    g_view = ViewFor(bench ? "signedin" : state, language);

    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (!Ui::CreateFactories())
    {
        return 1;
    }
    const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(RGB(23, 22, 27));
    windowClass.lpszClassName = L"QuillmereLauncher";
    RegisterClassW(&windowClass);

    Ui::CMainWindow mainWindow;
    g_window = &mainWindow;
    const int dpi = static_cast<int>(GetDpiForSystem());
    HWND window = CreateWindowExW(0, L"QuillmereLauncher", L"Quillmere", WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU,
                                  0, 0, MulDiv(960, dpi, 96), MulDiv(590, dpi, 96), nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
    {
        return 1;
    }
    ShowWindow(window, showCommand);
    if (bench)
    {
        const int code = Bench(window, instance, frames);
        DestroyWindow(window);
        Ui::ReleaseFactories();
        CoUninitialize();
        return code;
    }
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (!IsDialogMessageW(window, &message))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    Ui::ReleaseFactories();
    CoUninitialize();
    return 0;
}
