#include "tools/windriver/Driver.h"

namespace Driver
{
namespace
{
struct SSearch
{
    const wchar_t* className;
    const wchar_t* title;
    DWORD processId;
    HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<SSearch*>(context);
    wchar_t className[64]{};
    GetClassNameW(window, className, 64);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (std::wstring_view(className) != search->className || (search->processId != 0 && owner != search->processId))
    {
        return TRUE;
    }
    if (search->title != nullptr)
    {
        wchar_t title[64]{};
        GetWindowTextW(window, title, 64);
        if (std::wstring_view(title) != search->title)
        {
            return TRUE;
        }
    }
    search->found = window;
    return FALSE;
}

HWND Find(const wchar_t* className, const wchar_t* title, DWORD processId, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 50)
    {
        SSearch search{className, title, processId};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || waited >= timeoutMs)
        {
            return search.found;
        }
        Sleep(50);
    }
}

POINT ToScreen(HWND window, int x, int y)
{
    POINT point{x, y};
    ClientToScreen(window, &point);
    return point;
}

void SendMouse(DWORD flags, POINT screen)
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65536, width) + 1;
    input.mi.dy = MulDiv(screen.y, 65536, height) + 1;
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(input));
    Settle(120);
}
}

HWND FindWindowOf(const wchar_t* className, DWORD processId, DWORD timeoutMs)
{
    return Find(className, nullptr, processId, timeoutMs);
}

bool WaitShown(HWND window, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50)
    {
        if (IsWindowVisible(window))
        {
            RECT client{};
            GetClientRect(window, &client);
            // The picture's middle is neither the class background nor an unpainted black.
            const unsigned middle = PixelAt(window, client.right / 2, client.bottom / 2);
            if (middle != 0x17161B && middle != 0)
            {
                Settle(300);
                return true;
            }
        }
        Sleep(50);
    }
    return false;
}

std::vector<SChildInfo> Children(HWND window)
{
    std::vector<SChildInfo> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
    {
        SChildInfo info;
        info.id = GetDlgCtrlID(child);
        GetWindowRect(child, &info.rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&info.rect), 2);
        info.visible = IsWindowVisible(child) != FALSE;
        info.enabled = IsWindowEnabled(child) != FALSE;
        wchar_t text[512]{};
        SendMessageW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
        info.text = text;
        children.push_back(std::move(info));
    }
    return children;
}

SChildInfo Child(HWND window, int id)
{
    for (SChildInfo& info : Children(window))
    {
        if (info.id == id)
        {
            return info;
        }
    }
    return {};
}

int FocusedId(HWND window)
{
    GUITHREADINFO info{sizeof(info)};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || info.hwndFocus == nullptr)
    {
        return 0;
    }
    return info.hwndFocus == window ? 0 : GetDlgCtrlID(info.hwndFocus);
}

void MoveTo(HWND window, int x, int y)
{
    SendMouse(0, ToScreen(window, x, y));
}

void Press(HWND window, int x, int y)
{
    MoveTo(window, x, y);
    SendMouse(MOUSEEVENTF_LEFTDOWN, ToScreen(window, x, y));
}

void Release(HWND window, int x, int y)
{
    MoveTo(window, x, y);
    SendMouse(MOUSEEVENTF_LEFTUP, ToScreen(window, x, y));
}

void Click(HWND window, int x, int y)
{
    Press(window, x, y);
    Release(window, x, y);
}

void Drag(HWND window, int x, int y, int dx, int dy)
{
    const POINT start = ToScreen(window, x, y);
    SendMouse(0, start);
    SendMouse(MOUSEEVENTF_LEFTDOWN, start);
    for (int step = 1; step <= 4; ++step)
    {
        SendMouse(0, {start.x + dx * step / 4, start.y + dy * step / 4});
    }
    SendMouse(MOUSEEVENTF_LEFTUP, {start.x + dx, start.y + dy});
}

void Keys(const std::vector<WORD>& keys)
{
    for (WORD key : keys)
    {
        INPUT input[2]{};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = key;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        Settle(80);
    }
}

void Type(std::wstring_view text)
{
    for (wchar_t unit : text)
    {
        INPUT input[2]{};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wScan = input[1].ki.wScan = unit;
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        Settle(30);
    }
    Settle(80);
}

unsigned PixelAt(HWND window, int x, int y)
{
    const POINT screen = ToScreen(window, x, y);
    HDC dc = GetDC(nullptr);
    const COLORREF colour = GetPixel(dc, screen.x, screen.y);
    ReleaseDC(nullptr, dc);
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

HWND FindMessageBox(DWORD processId, DWORD timeoutMs)
{
    return Find(L"#32770", L"Quillmere", processId, timeoutMs);
}

std::wstring MessageBoxText(HWND box)
{
    wchar_t text[1024]{};
    GetDlgItemTextW(box, 0xFFFF, text, 1024); // a message box's text is its static 0xFFFF
    return text;
}

void Answer(HWND box, int button)
{
    if (HWND control = GetDlgItem(box, button))
    {
        SendMessageW(control, BM_CLICK, 0, 0);
    }
    else
    {
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    }
}

void Settle(DWORD milliseconds)
{
    Sleep(milliseconds);
}
}
