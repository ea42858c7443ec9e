// The launcher's entry point: the start sequence before any window exists.
#include "shell/Text.h"
#include "ui/Localisation.h"
#include "ui/Settings.h"

#include <windows.h>

namespace
{
constexpr wchar_t kCaption[] = L"Quillmere";

// The folder of the running executable becomes the current directory: every relative path
// of the program (settings fallback, game folder, journal) is relative to it.
void EnterLauncherFolder()
{
    wchar_t path[MAX_PATH]{};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring_view folder(path, length);
    const std::size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring_view::npos)
    {
        return;
    }
    path[slash + 1] = L'\0';
    SetCurrentDirectoryW(path);
}
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
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
    return 0;
}
