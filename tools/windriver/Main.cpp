// qmwindriver: drives the launcher window from the command line (scripts and tests).
//
//   qmwindriver wait [timeout-ms]        waits for the window to show and paint; prints its handle
//   qmwindriver list                     one line per child: id x y width height visible enabled "text"
//                                        (pixels in client coordinates; control 108 is the status line)
//   qmwindriver rect                     the window's screen rectangle: x y width height
//   qmwindriver focus                    the id of the focused control (0 for none)
//   qmwindriver click X Y                real mouse click at a client point in pixels
//   qmwindriver press X Y | move X Y | release X Y    the three steps of a click, separately
//   qmwindriver drag X Y DX DY           press at a client point, move by DX DY screen pixels, release
//   qmwindriver keys VK...               virtual-key codes in hexadecimal (09 Tab, 0D Enter, 20 Space)
//   qmwindriver type TEXT                types TEXT as characters into the focused control
//   qmwindriver pixel X Y                the screen colour at a client point, as RRGGBB
//   qmwindriver show minimise|hide|restore|show
//   qmwindriver close                    sends WM_CLOSE
//   qmwindriver visible                  1 when the window is visible, 0 when hidden
//   qmwindriver watch ID TIMEOUT-MS [PREFIX...]
//                                        prints each new text of control ID, one line each (line
//                                        breaks as "\n"), waiting for the window to come and
//                                        following it into a new process
//                                        of the class; ends with 0 at a text that starts with a
//                                        PREFIX, with 1 at the timeout
//   qmwindriver dialog [timeout-ms]      prints the text of a "Quillmere" message box of any process
//   qmwindriver answer ok|yes|no         presses that button of the message box
//
// The window is found by its class, "QuillmereLauncher" unless "--class NAME" comes first (the
// game client's is "QuillmereClient"). Exit code 0 on success, 1 when the window or message box
// is missing, 2 for a bad command line.
#include "tools/windriver/Driver.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace
{
constexpr wchar_t kLauncherClass[] = L"QuillmereLauncher";

int Usage()
{
    std::fputs("usage: qmwindriver [--class NAME] wait|list|rect|focus|click|press|move|release|keys|type|pixel|show|"
               "close|visible|watch|dialog|answer ...\n",
               stderr);
    return 2;
}

void PrintUtf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

// Prints the texts control `id` shows, each once, until one starts with a prefix or the time
// is up. A hand-over replaces the launcher's process and window; the watch follows the class.
int Watch(const wchar_t* className, HWND window, int id, DWORD timeoutMs, const std::vector<std::wstring>& prefixes)
{
    std::wstring last;
    bool first = true;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(25))
    {
        if (!IsWindow(window))
        {
            window = Driver::FindWindowOf(className, 0, 0);
            if (window == nullptr)
            {
                continue;
            }
        }
        std::wstring text = Driver::Child(window, id).text;
        if (!first && text == last)
        {
            continue;
        }
        first = false;
        last = text;
        std::wstring line;
        for (wchar_t c : text)
        {
            line += c == L'\n' ? std::wstring(L"\\n") : c == L'\r' ? std::wstring() : std::wstring(1, c);
        }
        PrintUtf8(line + L"\n");
        std::fflush(stdout);
        for (const std::wstring& prefix : prefixes)
        {
            if (text.starts_with(prefix))
            {
                return 0;
            }
        }
    }
    return 1;
}
}

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* className = kLauncherClass;
    if (argc > 2 && std::wstring_view(argv[1]) == L"--class")
    {
        className = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 2)
    {
        return Usage();
    }
    const std::wstring command = argv[1];
    auto number = [&](int index, int fallback) {
        return index < argc ? static_cast<int>(std::wcstol(argv[index], nullptr, 0)) : fallback;
    };

    if (command == L"dialog" || command == L"answer")
    {
        HWND box = Driver::FindMessageBox(0, command == L"dialog" ? static_cast<DWORD>(number(2, 5000)) : 5000);
        if (box == nullptr)
        {
            return 1;
        }
        if (command == L"dialog")
        {
            PrintUtf8(Driver::MessageBoxText(box) + L"\n");
            return 0;
        }
        const std::wstring which = argc > 2 ? argv[2] : L"ok";
        Driver::Answer(box, which == L"yes" ? IDYES : which == L"no" ? IDNO : IDOK);
        return 0;
    }

    // wait and watch wait for the window to come; the rest expect it there.
    const DWORD findMs = command == L"wait"    ? static_cast<DWORD>(number(2, 20000))
                         : command == L"watch" ? static_cast<DWORD>(number(3, 0))
                                               : 2000;
    HWND window = Driver::FindWindowOf(className, 0, findMs);
    if (window == nullptr)
    {
        return 1;
    }
    if (command == L"wait")
    {
        if (!Driver::WaitShown(window, static_cast<DWORD>(number(2, 20000))))
        {
            return 1;
        }
        std::printf("%llx\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    }
    else if (command == L"list")
    {
        for (const Driver::SChildInfo& child : Driver::Children(window))
        {
            std::printf("%d %ld %ld %ld %ld %d %d \"", child.id, child.rect.left, child.rect.top,
                        child.rect.right - child.rect.left, child.rect.bottom - child.rect.top, child.visible,
                        child.enabled);
            PrintUtf8(child.text);
            std::printf("\"\n");
        }
    }
    else if (command == L"rect")
    {
        RECT rect{};
        GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    }
    else if (command == L"focus")
    {
        std::printf("%d\n", Driver::FocusedId(window));
    }
    else if (command == L"click" || command == L"press" || command == L"move" || command == L"release")
    {
        if (argc < 4)
        {
            return Usage();
        }
        const int x = number(2, 0);
        const int y = number(3, 0);
        if (command == L"click")
            Driver::Click(window, x, y);
        else if (command == L"press")
            Driver::Press(window, x, y);
        else if (command == L"move")
            Driver::MoveTo(window, x, y);
        else
            Driver::Release(window, x, y);
    }
    else if (command == L"drag")
    {
        if (argc < 6)
        {
            return Usage();
        }
        Driver::Drag(window, number(2, 0), number(3, 0), number(4, 0), number(5, 0));
    }
    else if (command == L"keys")
    {
        std::vector<WORD> keys;
        for (int i = 2; i < argc; ++i)
        {
            keys.push_back(static_cast<WORD>(std::wcstoul(argv[i], nullptr, 16)));
        }
        Driver::Keys(keys);
    }
    else if (command == L"type")
    {
        if (argc < 3)
        {
            return Usage();
        }
        Driver::Type(argv[2]);
    }
    else if (command == L"visible")
    {
        std::printf("%d\n", IsWindowVisible(window) ? 1 : 0);
    }
    else if (command == L"watch")
    {
        if (argc < 4)
        {
            return Usage();
        }
        return Watch(className, window, number(2, 0), static_cast<DWORD>(number(3, 0)),
            std::vector<std::wstring>(argv + std::min(argc, 4), argv + argc));
    }
    else if (command == L"pixel")
    {
        std::printf("%06X\n", Driver::PixelAt(window, number(2, 0), number(3, 0)));
    }
    else if (command == L"show")
    {
        const std::wstring how = argc > 2 ? argv[2] : L"show";
        ShowWindow(window, how == L"minimise" ? SW_MINIMIZE : how == L"hide" ? SW_HIDE : how == L"restore" ? SW_RESTORE : SW_SHOW);
    }
    else if (command == L"close")
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    else
    {
        return Usage();
    }
    return 0;
}
