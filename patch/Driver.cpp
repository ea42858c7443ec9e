#include "patch/Driver.h"

#include <memory>

namespace Patch
{
namespace
{
constexpr wchar_t kClass[] = L"QuillmerePatchDriver";

[[nodiscard]] bool RegisterOnce()
{
    WNDCLASSEXW type{};
    type.cbSize = sizeof(type);
    type.lpfnWndProc = DefWindowProcW;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = kClass;
    return RegisterClassExW(&type) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Hands every queued report to the callback; true when one ended the run.
bool Drain(HWND window, SDriven& driven, const std::function<void(const SPatchReport&)>& onReport)
{
    bool ended = false;
    MSG message{};
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE))
    {
        if (message.message != kPatchReportMessage)
        {
            continue;
        }
        const std::unique_ptr<SPatchReport> report(reinterpret_cast<SPatchReport*>(message.lParam));
        onReport(*report);
        ended = ended || report->phase >= 2;
        driven.last = *report;
    }
    return ended;
}
}

SDriven DriveRun(std::uint8_t mode, std::string cdn, std::string release, std::uint64_t number, bool selfUpdate,
    const std::function<void(const SPatchReport&)>& onReport)
{
    SDriven driven;
    if (!RegisterOnce())
    {
        return driven;
    }
    const HWND window = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
    {
        return driven;
    }
    driven.started = StartPatch(window, mode, std::move(cdn), std::move(release), number, selfUpdate);
    while (driven.started)
    {
        if (Drain(window, driven, onReport))
        {
            break;
        }
        if (!Values().running.load())
        {
            (void)Drain(window, driven, onReport); // what was posted just before the end
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLPOSTMESSAGE);
    }
    // The thread has posted its last report (or was stopped): join it, leaving the stop flag
    // alone (a hand-over watcher may start next).
    SPatchValues& values = Values();
    const std::lock_guard hold(values.lock);
    if (values.patchThread.joinable())
    {
        values.patchThread.join();
    }
    DestroyWindow(window);
    return driven;
}
}
