// The window's drawing hosted in the test itself, where the test can change the DPI, take the
// device away and count the animation timer's ticks; and the states that only a running
// service or patch run shows, drawn by qmviewshot. Pixels are read from the screen.
#include "install/tests/TestFiles.h"
#include "base/Text.h"
#include "tools/windriver/Driver.h"
#include "ui/Graphics.h"
#include "ui/Layout.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <d2d1.h>
#include <wincodec.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
using namespace Ui;

// Each channel of 0xRRGGBB within the tolerance.
bool Near(unsigned actual, unsigned expected, int tolerance)
{
    for (int shift : {0, 8, 16})
    {
        if (std::abs(static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) >
            tolerance)
        {
            return false;
        }
    }
    return true;
}

// Runs this thread's messages for a while.
void Pump(DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64())
    {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message{};
        // Frames may come faster than they paint here: stop at the deadline anyway.
        while (GetTickCount64() < end && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            DispatchMessageW(&message);
        }
    }
}

class DrawnWindow : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(CreateFactories().has_value());
        const INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = L"QuillmereDrawnWindowTest";
        RegisterClassW(&windowClass);
        s_dpi = static_cast<int>(GetDpiForSystem());
        SetCursorPos(0, 0); // off the window: nothing hovered
        s_view = SignedOutView(kEnglish, true);
        s_view.releaseName = "Quillmere 1.4.2";
        FillTexts(s_view);
        s_window = CreateWindowExW(0, windowClass.lpszClassName, L"Quillmere", WS_POPUP | WS_CLIPCHILDREN, 40, 40,
                                   Scale(960, s_dpi), Scale(590, s_dpi), nullptr, nullptr, windowClass.hInstance,
                                   nullptr);
        ASSERT_NE(s_window, nullptr);
        ShowWindow(s_window, SW_SHOW);
        SetForegroundWindow(s_window);
        Pump(1500);
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(s_window);
        Pump(100);
        ReleaseFactories();
        CoUninitialize();
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        static SBrushes brushes{CreateSolidBrush(RGB(35, 34, 40)), CreateSolidBrush(RGB(54, 53, 59))};
        if (message == WM_CREATE)
        {
            s_drawn.Create(window, brushes, s_view);
        }
        if (message == WM_TIMER && wParam == 1)
        {
            ++s_ticks;
        }
        LRESULT result = 0;
        if (s_drawn.HandleMessage(window, message, wParam, lParam, result))
        {
            return result;
        }
        if (message == WM_DESTROY)
        {
            s_drawn.Destroy();
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // The scene's landmarks, at the window's DPI: the faded base, an edit frame's fill, the
    // main button's gradient near its top edge.
    static void ExpectScene(int dpi)
    {
        struct SPoint
        {
            int x, y;
            unsigned colour;
            int tolerance;
        };
        for (const SPoint& point : {SPoint{940, 580, 0x17161B, 2}, SPoint{684, 345, 0x232228, 3},
                                    SPoint{700, 495, 0xC8561A, 10}})
        {
            const unsigned pixel = Driver::PixelAt(s_window, Scale(point.x, dpi), Scale(point.y, dpi));
            EXPECT_TRUE(Near(pixel, point.colour, point.tolerance))
                << std::hex << pixel << " at " << std::dec << point.x << ", " << point.y << " DIP, " << dpi << " DPI";
        }
    }

    static unsigned TicksDuring(DWORD milliseconds)
    {
        s_ticks = 0;
        Pump(milliseconds);
        return s_ticks;
    }

    static inline CMainWindow s_drawn;
    static inline SView s_view;
    static inline HWND s_window = nullptr;
    static inline int s_dpi = 96;
    static inline unsigned s_ticks = 0;
};

TEST_F(DrawnWindow, ALostDeviceIsMadeAgainAndEverythingRedrawn)
{
    ExpectScene(s_dpi);
    const std::uint32_t made = s_drawn.DevicesMade();
    s_drawn.LoseDeviceAtNextFrame();
    InvalidateRect(s_window, nullptr, FALSE);
    Pump(1500);
    EXPECT_EQ(s_drawn.DevicesMade(), made + 1);
    ExpectScene(s_dpi);
}

TEST_F(DrawnWindow, ADpiChangeLaysOutAndRedrawsEverythingAtTheNewDpi)
{
    const int dpi = s_dpi == 144 ? 120 : 144;
    RECT suggested{40, 40, 40 + Scale(960, dpi), 40 + Scale(590, dpi)};
    const std::uint32_t made = s_drawn.DevicesMade();
    SendMessageW(s_window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    Pump(1500);

    EXPECT_GT(s_drawn.DevicesMade(), made);
    const Driver::SChildInfo login = Driver::Child(s_window, 101);
    const SRect expected = ChildRect(ControlId::LoginBox, {}, dpi);
    EXPECT_EQ(login.rect.left, expected.x);
    EXPECT_EQ(login.rect.top, expected.y);
    EXPECT_EQ(login.rect.right - login.rect.left, expected.width);
    EXPECT_EQ(login.rect.bottom - login.rect.top, expected.height);
    ExpectScene(dpi);

    // And back.
    suggested = {40, 40, 40 + Scale(960, s_dpi), 40 + Scale(590, s_dpi)};
    SendMessageW(s_window, WM_DPICHANGED, MAKEWPARAM(s_dpi, s_dpi), reinterpret_cast<LPARAM>(&suggested));
    Pump(1500);
    ExpectScene(s_dpi);
}

TEST_F(DrawnWindow, NoAnimationTimerRunsWhileHiddenMinimisedOrInactive)
{
    EXPECT_GT(TicksDuring(1000), 0u) << "shown and active";
    ShowWindow(s_window, SW_MINIMIZE);
    Pump(300);
    EXPECT_EQ(TicksDuring(1000), 0u) << "minimised";
    ShowWindow(s_window, SW_RESTORE);
    ShowWindow(s_window, SW_HIDE);
    Pump(300);
    EXPECT_EQ(TicksDuring(1000), 0u) << "hidden";
    ShowWindow(s_window, SW_SHOW);
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    SetForegroundWindow(other);
    Pump(300);
    EXPECT_EQ(TicksDuring(1000), 0u) << "inactive";
    DestroyWindow(other);
    SetForegroundWindow(s_window);
    Pump(300);
    EXPECT_GT(TicksDuring(1000), 0u) << "active again";
}

// States that need a service or a patch run, drawn by qmviewshot from a fixed view.
TEST(ViewShot, DrawsStatusKindsProgressAndTheDisabledMainButton)
{
    const int dpi = static_cast<int>(GetDpiForSystem());
    const std::wstring exe = (InstallTests::FromEnvironment("QM_BUILD_DIR") / "tools/qmviewshot.exe").wstring();
    struct SPoint
    {
        int x, y;
        unsigned colour;
        const char* what;
    };
    struct SState
    {
        const wchar_t* name;
        std::vector<SPoint> points;
    };
    const SState states[] = {
        {L"connection", {{41, 510, 0xE88070, "connection dot"}}},
        {L"good", {{41, 510, 0x7FBF8A, "good dot"}}},
        {L"attention", {{41, 510, 0xE0A458, "attention dot"}}},
        {L"patching", {{100, 524, 0xFF8C1A, "progress fill"}, {600, 524, 0x36353B, "progress track"},
                          {700, 500, 0x232228, "disabled PLAY"}}},
    };
    for (const SState& state : states)
    {
        std::wstring commandLine = L"\"" + exe + L"\" " + state.name;
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &info));
        CloseHandle(info.hThread);
        const HWND window = Driver::FindWindowOf(L"QuillmereLauncher", info.dwProcessId, 30000);
        if (window != nullptr && Driver::WaitShown(window, 30000))
        {
            SetForegroundWindow(window);
            Driver::Settle(500);
            for (const SPoint& point : state.points)
            {
                const unsigned pixel = Driver::PixelAt(window, Scale(point.x, dpi), Scale(point.y, dpi));
                EXPECT_TRUE(Near(pixel, point.colour, 6)) << point.what << ": " << std::hex << pixel;
            }
        }
        else
        {
            ADD_FAILURE() << "qmviewshot did not show " << Text::WideToUtf8(state.name);
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(info.hProcess, 30000) != WAIT_OBJECT_0)
        {
            TerminateProcess(info.hProcess, 1);
        }
        CloseHandle(info.hProcess);
    }
}
}

// Wine's Direct2D adds a gradient stop's colour even where the stop is fully transparent: a
// gradient from base #17161B at alpha 0 to base at alpha 1 lightens what is under its clear
// end by the base colour, where Windows leaves it as it is (stops are straight colours, drawn
// premultiplied). The window's fades show it: (940, 300) at 96 DPI is #2E2C36, twice the base,
// under Wine. This pins Wine's behaviour, so that a Wine that mends it is noticed.
TEST(WineGaps, AClearGradientStopAddsItsColour)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        UniqueCom<IWICImagingFactory> imaging;
        UniqueCom<IWICBitmap> bitmap;
        UniqueCom<ID2D1Factory> factory;
        UniqueCom<ID2D1RenderTarget> target;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
            __uuidof(IWICImagingFactory), reinterpret_cast<void**>(imaging.put()))));
        ASSERT_TRUE(SUCCEEDED(
            imaging->CreateBitmap(8, 8, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, bitmap.put())));
        ASSERT_TRUE(SUCCEEDED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
            reinterpret_cast<void**>(factory.put()))));
        const D2D1_RENDER_TARGET_PROPERTIES properties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
            {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, 96.0f, 96.0f, D2D1_RENDER_TARGET_USAGE_NONE,
            D2D1_FEATURE_LEVEL_DEFAULT};
        ASSERT_TRUE(SUCCEEDED(factory->CreateWicBitmapRenderTarget(bitmap.get(), properties, target.put())));

        const D2D1_COLOR_F clearBase{23 / 255.0f, 22 / 255.0f, 27 / 255.0f, 0.0f};
        const D2D1_GRADIENT_STOP stops[2]{{0.0f, clearBase}, {1.0f, clearBase}};
        UniqueCom<ID2D1GradientStopCollection> collection;
        UniqueCom<ID2D1LinearGradientBrush> brush;
        ASSERT_TRUE(SUCCEEDED(target->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP,
            collection.put())));
        ASSERT_TRUE(SUCCEEDED(target->CreateLinearGradientBrush({{0, 0}, {8, 0}}, collection.get(), brush.put())));
        target->BeginDraw();
        target->Clear(D2D1_COLOR_F{0, 0, 0, 1});
        target->FillRectangle(D2D1_RECT_F{0, 0, 8, 8}, brush.get());
        ASSERT_TRUE(SUCCEEDED(target->EndDraw()));

        std::array<std::uint32_t, 64> pixels{};
        ASSERT_TRUE(SUCCEEDED(bitmap->CopyPixels(nullptr, 8 * 4, sizeof(pixels), reinterpret_cast<BYTE*>(pixels.data()))));
        const unsigned rgb = pixels[4 * 8 + 4] & 0xFFFFFF;
        const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
        EXPECT_TRUE(Near(rgb, wine ? 0x17161B : 0x000000, 2)) << std::hex << rgb;
    }
    CoUninitialize();
}
