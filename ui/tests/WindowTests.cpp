// The launcher's window under Wine: started as the player starts it and driven with real
// mouse input. The expectations follow the bench's DPI (scripts/wine-bench start with QM_DPI).
#include "install/tests/TestFiles.h"
#include "base/Text.h"
#include "tools/windriver/Driver.h"
#include "ui/Graphics.h"
#include "ui/Layout.h"
#include "ui/Localisation.h"
#include "ui/Settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

namespace
{
using namespace Ui;

constexpr DWORD kWait = 30000;

struct SProcess
{
    HANDLE process = nullptr;
    DWORD id = 0;
};

SProcess StartLauncher(const std::wstring& arguments = {})
{
    const char* build = std::getenv("QM_BUILD_DIR");
    const std::wstring exe = L"Z:" + std::wstring(build, build + std::strlen(build)) + L"/shell/Quillmere.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    {
        return {};
    }
    CloseHandle(info.hThread);
    return {info.hProcess, info.dwProcessId};
}

DWORD ExitCodeOf(SProcess& child, DWORD milliseconds = kWait)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(child.process, milliseconds) == WAIT_OBJECT_0)
    {
        GetExitCodeProcess(child.process, &code);
    }
    else
    {
        TerminateProcess(child.process, 99);
    }
    CloseHandle(child.process);
    child.process = nullptr;
    return code;
}

// The launcher answers input on its own thread, and the machine may be busy: poll.
template <typename Condition>
bool Eventually(Condition condition, DWORD milliseconds = 5000)
{
    for (DWORD waited = 0; !condition(); waited += 50)
    {
        if (waited >= milliseconds)
        {
            return false;
        }
        Sleep(50);
    }
    return true;
}

bool Near(unsigned actual, unsigned expected, int tolerance)
{
    for (int shift : {0, 8, 16})
    {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance)
        {
            return false;
        }
    }
    return true;
}

class LauncherWindow : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // A readable release beside the launcher opens its sign-in form; the containers'
        // files, present by name, keep the install check from moving it to the install folder.
        const auto release = InstallTests::Release("Window test");
        InstallTests::Write(LauncherFolder() / "Client/pack/release.quillmereindex", InstallTests::Signed(release));
        for (const auto& container : release.containers)
        {
            InstallTests::Write(LauncherFolder() / "Client/pack" / Vfs::ContainerName(container), "");
        }
        ChooseLanguageAtStartUp(SettingsFolder());
        s_launcher = StartLauncher();
        s_window = Driver::FindWindowOf(L"QuillmereLauncher", s_launcher.id, kWait);
        s_shown = s_window != nullptr && Driver::WaitShown(s_window, kWait);
        s_dpi = static_cast<int>(GetDpiForSystem());
    }
    static void TearDownTestSuite()
    {
        if (s_window != nullptr)
        {
            PostMessageW(s_window, WM_CLOSE, 0, 0);
        }
        if (s_launcher.process != nullptr)
        {
            EXPECT_EQ(ExitCodeOf(s_launcher), 0u);
        }
        std::error_code ignored;
        std::filesystem::remove_all(LauncherFolder() / "Client", ignored);
    }
    static std::filesystem::path LauncherFolder() { return InstallTests::FromEnvironment("QM_BUILD_DIR") / "shell"; }
    void SetUp() override
    {
        ASSERT_TRUE(s_shown) << "the launcher window did not show";
        SetForegroundWindow(s_window);
        Driver::Settle();
    }

    static int Px(int dip) { return Scale(dip, s_dpi); }
    static unsigned PixelAtDip(int x, int y) { return Driver::PixelAt(s_window, Px(x), Px(y)); }
    static RECT WindowRect()
    {
        RECT rect{};
        GetWindowRect(s_window, &rect);
        return rect;
    }

    static inline SProcess s_launcher;
    static inline HWND s_window = nullptr;
    static inline bool s_shown = false;
    static inline int s_dpi = 96;
};

TEST_F(LauncherWindow, HasItsSizeAndItsControlsAtTheDpi)
{
    const RECT rect = WindowRect();
    EXPECT_EQ(rect.right - rect.left, MulDiv(960, s_dpi, 96));
    EXPECT_EQ(rect.bottom - rect.top, MulDiv(590, s_dpi, 96));
    if (s_dpi == 120 || s_dpi == 144)
    {
        EXPECT_EQ(rect.right - rect.left, s_dpi == 120 ? 1200 : 1440);
        EXPECT_EQ(rect.bottom - rect.top, s_dpi == 120 ? 738 : 885);
    }

    const std::vector<Driver::SChildInfo> children = Driver::Children(s_window);
    ASSERT_EQ(children.size(), kControlCount);
    for (std::size_t i = 0; i < kControlCount; ++i)
    {
        EXPECT_EQ(children[i].id, static_cast<int>(kControlTable[i].id)) << "creation order";
    }
    // The real edit control sits inside its drawn frame (at 120 DPI: 863, 419, 285 × 25).
    const Driver::SChildInfo login = Driver::Child(s_window, 101);
    const SRect expected = ChildRect(ControlId::LoginBox, {}, s_dpi);
    EXPECT_EQ(login.rect.left, expected.x);
    EXPECT_EQ(login.rect.top, expected.y);
    EXPECT_EQ(login.rect.right - login.rect.left, expected.width);
    EXPECT_EQ(login.rect.bottom - login.rect.top, expected.height);
    if (s_dpi == 120)
    {
        EXPECT_EQ((std::array<LONG, 4>{login.rect.left, login.rect.top, login.rect.right - login.rect.left,
                      login.rect.bottom - login.rect.top}),
            (std::array<LONG, 4>{863, 419, 285, 25}));
    }
    EXPECT_TRUE(login.visible);
    EXPECT_FALSE(Driver::Child(s_window, 106).visible) << "PLAY is for signed-in players";
    EXPECT_EQ(Driver::Child(s_window, 104).text, L"Sign In");
    // Only Website has an address and no CDN is known: the other bottom-row links stay hidden.
    EXPECT_TRUE(Driver::Child(s_window, 113).visible);
    EXPECT_FALSE(Driver::Child(s_window, 114).visible);
    EXPECT_FALSE(Driver::Child(s_window, 116).visible);
}

TEST_F(LauncherWindow, PaintsItsColoursWhereTheyBelong)
{
    EXPECT_TRUE(Near(PixelAtDip(940, 580), 0x17161B, 2)) << std::hex << PixelAtDip(940, 580) << " faded base";
    EXPECT_TRUE(Near(PixelAtDip(684, 345), 0x232228, 3)) << std::hex << PixelAtDip(684, 345) << " edit frame";
    // Right of the right fade, above the bottom one: base, but twice base under Wine, which adds
    // the clear stop of the bottom fade (WineGaps.AClearGradientStopAddsItsColour).
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_TRUE(Near(PixelAtDip(940, 300), wine ? 0x2E2C36 : 0x17161B, 2)) << std::hex << PixelAtDip(940, 300);
    // The main button's gradient, near its top and its bottom edge.
    EXPECT_TRUE(Near(PixelAtDip(700, 495), 0xC8561A, 10)) << std::hex << PixelAtDip(700, 495);
    EXPECT_TRUE(Near(PixelAtDip(700, 553), 0xA63A16, 10)) << std::hex << PixelAtDip(700, 553);
}

TEST_F(LauncherWindow, DragsFromTheBackgroundOnly)
{
    const RECT before = WindowRect();
    Driver::Drag(s_window, Px(300), Px(220), 40, 30);
    const RECT after = WindowRect();
    EXPECT_EQ(after.left - before.left, 40);
    EXPECT_EQ(after.top - before.top, 30);
    SetWindowPos(s_window, nullptr, before.left, before.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Driver::Settle();

    // Pressing on the Sign In button does not move the window.
    Driver::Drag(s_window, Px(700), Px(520), 40, 30);
    EXPECT_EQ(WindowRect().left, before.left);
}

TEST_F(LauncherWindow, ClicksOnlyWhenReleasedOverThePressedButton)
{
    const int x = Px(884);
    const int y = Px(24); // Minimise
    Driver::Press(s_window, x, y);
    Driver::MoveTo(s_window, Px(600), Px(200));
    Driver::Release(s_window, Px(600), Px(200));
    Driver::Settle(1000);
    EXPECT_FALSE(IsIconic(s_window)) << "released away from the button";

    Driver::Press(s_window, x, y);
    Driver::MoveTo(s_window, Px(600), Px(200));
    Driver::MoveTo(s_window, x, y);
    Driver::Release(s_window, x, y);
    EXPECT_TRUE(Eventually([] { return IsIconic(s_window) != FALSE; })) << "moved back onto the button";
    ShowWindow(s_window, SW_RESTORE);
    EXPECT_TRUE(Eventually([] { return IsIconic(s_window) == FALSE; }));
    Driver::Settle(500);
}

TEST_F(LauncherWindow, AClickOnAFrameFocusesItsEditBox)
{
    Driver::Click(s_window, Px(684), Px(413)); // between the password box's frame and its text
    EXPECT_TRUE(Eventually([] { return Driver::FocusedId(s_window) == 103; })) << Driver::FocusedId(s_window);
    Driver::Click(s_window, Px(924), Px(360)); // the login frame's right margin
    EXPECT_TRUE(Eventually([] { return Driver::FocusedId(s_window) == 101; })) << Driver::FocusedId(s_window);
}

TEST_F(LauncherWindow, ASecondStartBringsTheFirstBack)
{
    for (int hide : {SW_MINIMIZE, SW_HIDE})
    {
        ShowWindow(s_window, hide);
        Driver::Settle();
        SProcess second = StartLauncher();
        EXPECT_EQ(ExitCodeOf(second), 0u);
        EXPECT_TRUE(Eventually([] { return IsWindowVisible(s_window) && !IsIconic(s_window); }));
    }

    // A "--handover" value that is not a pipe is a normal start: the single instance holds.
    ShowWindow(s_window, SW_MINIMIZE);
    SProcess badHandOver = StartLauncher(L"--handover 4");
    EXPECT_EQ(ExitCodeOf(badHandOver), 0u);
    EXPECT_TRUE(Eventually([] { return IsIconic(s_window) == FALSE; }));
    EXPECT_EQ(Driver::FindWindowOf(L"QuillmereLauncher", badHandOver.id, 0), nullptr);
}

// Another process posts the workers' messages with made-up numbers and pointers: the launcher
// neither frees nor reads them.
TEST_F(LauncherWindow, IgnoresWorkerMessagesThatAnotherProcessPosts)
{
    for (UINT message = WM_APP + 1; message <= WM_APP + 7; ++message)
    {
        for (WPARAM number : {WPARAM{0}, WPARAM{1}, WPARAM{2}, WPARAM{0xDEADBEEF}})
        {
            PostMessageW(s_window, message, number, static_cast<LPARAM>(0x12345678));
        }
    }
    Driver::Settle(1000);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(s_launcher.process, &code));
    EXPECT_EQ(code, STILL_ACTIVE) << "the launcher ended";
    EXPECT_TRUE(IsWindowVisible(s_window));
}

TEST_F(LauncherWindow, UninstallWhileItRunsRemovesNothing)
{
    SProcess uninstall = StartLauncher(L"--uninstall");
    const HWND box = Driver::FindMessageBox(uninstall.id, kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Driver::MessageBoxText(box), Text::Utf8ToWide(Ui::Text(TextId::RemoveRunning)));
    Driver::Answer(box, IDOK);
    EXPECT_EQ(ExitCodeOf(uninstall), 0u);
}

// Every fixed label fits its rectangle in every language (a trimmed label would show "…").
TEST(WindowTexts, FitTheirRectanglesInEveryLanguage)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(CreateFactories().has_value());
    struct SLabel
    {
        TextId text;
        TextStyle style;
        int width;
    };
    const SLabel labels[] = {
        {TextId::Login, TextStyle::Small, 248},         {TextId::Password, TextStyle::Small, 248},
        {TextId::SignIn, TextStyle::Button, 248},       {TextId::Play, TextStyle::Button, 248},
        {TextId::SignOut, TextStyle::Label, 104},       {TextId::CreateAccount, TextStyle::Small, 120},
        {TextId::ForgotPassword, TextStyle::SmallTrailing, 128},
    };
    for (std::size_t language = 0; language < kLanguageCount; ++language)
    {
        SetLanguage(language);
        MakeTextFormats();
        for (const SLabel& label : labels)
        {
            EXPECT_LE(MeasureTextWidth(label.style, TextIn(language, label.text)), label.width)
                << kLanguages[language].code << ": \"" << TextIn(language, label.text) << "\"";
        }
        // A login of 12 characters fits the signed-in panel's line.
        const std::string signedIn = fmt::format(fmt::runtime(TextIn(language, TextId::SignedInAs)), "mirandolina7");
        EXPECT_LE(MeasureTextWidth(TextStyle::Panel, signedIn), 184) << kLanguages[language].code << ": " << signedIn;
    }
    ReleaseFactories();
    CoUninitialize();
}
}
