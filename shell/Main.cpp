// The launcher's entry point: the start sequence before any window exists, then the window
// and its message loop.
#include "install/Install.h"
#include "patch/Journal.h"
#include "patch/SelfUpdate.h"
#include "shell/CommandLine.h"
#include "base/File.h"
#include "base/Handle.h"
#include "shell/LauncherWindow.h"
#include "base/Text.h"
#include "ui/Graphics.h"
#include "ui/Layout.h"
#include "ui/Localisation.h"
#include "ui/Settings.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <utility>

namespace
{
constexpr wchar_t kCaption[] = L"Quillmere";
constexpr wchar_t kMutexName[] = L"Local\\QuillmereLauncher";

// The folder of the running executable becomes the current directory: every relative path
// of the program (settings fallback, game folder, journal) is relative to it.
void EnterLauncherFolder()
{
    if (const std::wstring folder = Text::Utf8ToWide(File::RunningExecutableFolder()); !folder.empty())
    {
        SetCurrentDirectoryW(folder.c_str());
    }
}

void Say(std::string_view text, UINT icon)
{
    MessageBoxW(nullptr, Text::Utf8ToWide(text).c_str(), kCaption, icon);
}

// The write end of an older launcher's pipe, when "--handover" names one.
UniqueHandle HandOverPipe(std::string_view commandLine)
{
    const std::optional<std::uint64_t> value = Shell::HandOverValue(commandLine);
    if (!value)
    {
        return {};
    }
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(*value));
    // A standard handle is the starter's redirection (a console, a log pipe), never an older
    // launcher's pipe: taking it would skip the install check and the single instance, and
    // write into whatever reads it.
    for (const DWORD standard : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
    {
        if (handle == GetStdHandle(standard))
        {
            return {};
        }
    }
    if (GetFileType(handle) != FILE_TYPE_PIPE)
    {
        return {};
    }
    return UniqueHandle(handle);
}

int Uninstall()
{
    if (MessageBoxW(nullptr, Text::Utf8ToWide(Ui::Text(TextId::RemoveConfirm)).c_str(), kCaption,
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
    {
        return 0;
    }
    if (const auto removed = Install::Uninstall(); removed)
    {
        Say(Ui::Text(TextId::Removed), MB_ICONINFORMATION);
    }
    else
    {
        Say(Ui::FormatText(TextId::RemoveIncomplete, removed.error()), MB_ICONWARNING);
    }
    return 0;
}

// Another launcher runs: bring its window to the front (restored when minimised, shown when
// the game hid it).
void BringRunningLauncherForward()
{
    HWND running = FindWindowW(Shell::kWindowClass, nullptr);
    if (running == nullptr)
    {
        return;
    }
    ShowWindow(running, IsIconic(running) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(running);
}

// Opens this logon's launcher mutex; nothing when another launcher holds it and shows its
// window, or still holds it after kSingleInstanceWaitMs. A launcher without a window is
// starting (its window comes) or ending (its mutex goes; a killed process's objects can
// outlive it for a moment, under Wine for longer), so a start waits a little for either
// instead of ending unseen. The caller keeps the handle for as long as the process lives (a
// mutex that could not be made at all is an empty one: the launcher goes on without it).
constexpr DWORD kSingleInstanceWaitMs = 5'000;
constexpr DWORD kSingleInstanceStepMs = 100;

std::optional<UniqueHandle> TakeSingleInstance()
{
    for (DWORD waited = 0;; waited += kSingleInstanceStepMs)
    {
        UniqueHandle opened(CreateMutexW(nullptr, FALSE, kMutexName));
        if (GetLastError() != ERROR_ALREADY_EXISTS)
        {
            return opened;
        }
        // Closed at once: our own handle would keep an ending launcher's mutex alive.
        opened.reset();
        if (waited >= kSingleInstanceWaitMs || FindWindowW(Shell::kWindowClass, nullptr) != nullptr)
        {
            return std::nullopt;
        }
        Sleep(kSingleInstanceStepMs);
    }
}

// The window's place on its monitor at the DPI it lays itself out with: created on the
// primary monitor, then sized for the DPI that the window itself gets, which may differ from
// the system's.
RECT PlaceOn(HMONITOR monitor, int dpi)
{
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    const RECT& work = info.rcWork;
    const Ui::SRect rect = Ui::WindowRect(dpi, {work.left, work.top, work.right - work.left, work.bottom - work.top});
    return {rect.x, rect.y, rect.Right(), rect.Bottom()};
}

void PlaceForItsDpi(HWND window)
{
    const RECT rect = PlaceOn(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY),
        static_cast<int>(GetDpiForWindow(window)));
    SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
        SWP_NOZORDER | SWP_NOACTIVATE);
}

int RunWindow(HINSTANCE instance, int showCommand, UniqueHandle handOverPipe)
{
    Shell::SWindowStart start;
    if (auto replayed = Patch::ReplayAtStartUp(); !replayed)
    {
        start.recoveryMessage = std::move(replayed.error());
    }
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (const auto made = Ui::CreateFactories(); !made)
    {
        Say(made.error(), MB_ICONERROR);
        CoUninitialize();
        return 1;
    }
    const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    start.brushes.field = CreateSolidBrush(RGB(35, 34, 40));
    start.brushes.highlight = CreateSolidBrush(RGB(54, 53, 59));
    Shell::RegisterLauncherClass(instance, CreateSolidBrush(RGB(23, 22, 27)));

    // A new launcher tells the older one that it runs once it can draw, and takes the
    // launcher's name before its window's first patch run compares the launcher with the
    // release: the older one ends on the signal and so frees its exe.
    if (handOverPipe)
    {
        const unsigned char up = 1;
        DWORD written = 0;
        WriteFile(handOverPipe.get(), &up, 1, &written, nullptr);
        handOverPipe.reset();
        start.launcherPath = Patch::TakeLauncherName(File::RunningExecutablePath());
    }

    const RECT primary = PlaceOn(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY),
        static_cast<int>(GetDpiForSystem()));
    HWND window = Shell::CreateLauncherWindow(instance, primary, start);
    if (window == nullptr)
    {
        Ui::ReleaseFactories();
        CoUninitialize();
        return 1;
    }
    PlaceForItsDpi(window);
    ShowWindow(window, showCommand);
    Shell::FocusFirstControl(window);

    MSG message{};
    int code = 0;
    for (;;)
    {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0)
        {
            code = got == 0 ? static_cast<int>(message.wParam) : 0;
            break;
        }
        if (!IsDialogMessageW(window, &message))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    Ui::ReleaseFactories();
    CoUninitialize();
    return code;
}
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // The launcher starts from a downloads folder, its uninstall copy from the temporary
    // folder: a DLL that something dropped beside it must never load. From here on every
    // load, the delayed imports' included, searches System32 alone.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    // The manifest asks for the UTF-8 code page; without it every narrow Windows call would
    // mangle paths and texts. No language is known yet, so this one text is English.
    if (GetACP() != CP_UTF8)
    {
        MessageBoxW(nullptr,
                    L"This program needs UTF-8 as its process code page, which its manifest asks for and "
                    L"Windows 10 version 1903 or later grants. Windows gave it another one.",
                    kCaption, MB_ICONERROR);
        return 1;
    }
    EnterLauncherFolder();
    Ui::ChooseLanguageAtStartUp(Ui::SettingsFolder());

    const std::string commandLine = Text::WideToUtf8(GetCommandLineW());
    const bool uninstall = Shell::HasUninstallOption(commandLine);
    UniqueHandle handOverPipe;
    if (uninstall)
    {
        if (Install::RelaunchForUninstall())
        {
            return 0;
        }
    }
    else
    {
        handOverPipe = HandOverPipe(commandLine);
    }

    if (!uninstall && !handOverPipe)
    {
        const auto handled = Install::CheckInstall();
        if (!handled)
        {
            Say(Ui::FormatText(TextId::InstallFailed, handled.error()), MB_ICONERROR);
            return 1;
        }
        if (*handled)
        {
            return 0;
        }
    }

    // The mutex marks this logon's launcher for as long as the process lives. A new launcher
    // that is handed over to opens it while the older one still holds it.
    UniqueHandle singleInstance;
    if (handOverPipe)
    {
        singleInstance.reset(CreateMutexW(nullptr, FALSE, kMutexName));
    }
    else if (std::optional<UniqueHandle> taken = TakeSingleInstance())
    {
        singleInstance = std::move(*taken);
    }
    else
    {
        if (uninstall)
        {
            Say(Ui::Text(TextId::RemoveRunning), MB_ICONWARNING);
        }
        else
        {
            BringRunningLauncherForward();
        }
        return 0;
    }
    if (uninstall)
    {
        return Uninstall();
    }
    return RunWindow(instance, showCommand, std::move(handOverPipe));
}
