#include "shell/ControllerHost.h"

#include "auth/Json.h"
#include "shell/File.h"
#include "vfs/Index.h"
#include "install/Install.h"
#include "patch/Driver.h"
#include "shell/Messages.h"
#include "shell/Text.h"
#include "ui/Settings.h"

#include <shellapi.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace Shell
{
namespace
{
constexpr UINT_PTR kStatusTimer = 2;

template <typename... Ts>
struct Overloaded : Ts...
{
    using Ts::operator()...;
};

// The folder of the running executable, with its trailing separator.
std::wstring LauncherFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    const std::size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

void Post(HWND window, UINT message) noexcept
{
    PostMessageW(window, message, 0, 0);
}

Game::SLaunchParams GameParams(HWND window)
{
    // No identity worker yet: the client's code requests are refused.
    return {LauncherFolder(), [] { return Auth::SLoginOutcome(Auth::EOutcome::Failed); },
        [window] { Post(window, kMsgGameReady); }, [window] { Post(window, kMsgGameEnded); }};
}

// The installed release's configuration, read from its index.
struct SRelease
{
    bool readable = false;
    std::string error;
    std::string name;
    std::string cdnUrl;
    std::string firstServiceUrl;
};

SRelease ReadInstalledRelease()
{
    constexpr std::string_view kPath = "Client/pack/release.quillmereindex";
    SRelease release;
    const auto bytes = ReadWholeFile(kPath, 67'108'864);
    Vfs::SIndex index;
    if (!bytes || bytes->empty())
    {
        release.error = fmt::format("{} does not read", kPath);
    }
    else if (Vfs::ReadIndex(*bytes, Vfs::TrustRoot(), index, release.error))
    {
        if (index.identityUrls.empty())
        {
            release.error = "the release names no identity service";
        }
        else
        {
            release = SRelease{true, {}, index.releaseName, index.cdnUrl, index.identityUrls.front()};
        }
    }
    return release;
}

Event::SPatchReport Decode(const Patch::SPatchReport& report)
{
    return {static_cast<EPatchMode>(report.mode), static_cast<EPatchPhase>(report.phase), report.done, report.total,
        report.repaired, report.installing, report.shortfall, report.message, report.launcher};
}
}

CControllerHost::CControllerHost(HWND window, Ui::MainWindow& view)
    : m_window(window), m_view(view), m_patcher(Patch::SPatcherParams{}), m_game(GameParams(window))
{
}

CControllerHost::~CControllerHost()
{
    // WM_DESTROY has stopped them in order; this covers a window that never got that far.
    m_patcher.Stop();
    m_game.Stop();
}

void CControllerHost::Create(std::string recoveryMessage)
{
    SRelease release = ReadInstalledRelease();
    m_releaseName = release.name;
    Dispatch(Event::SCreated{release.readable, std::move(release.error), std::move(release.name),
        std::move(release.cdnUrl), std::move(release.firstServiceUrl), {}, std::move(recoveryMessage),
        Ui::CurrentLanguageIndex()});
}

bool CControllerHost::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message)
    {
    case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        const WORD code = HIWORD(wParam);
        if (lParam == 0) // the dialog navigation's keys; Escape (IDCANCEL) does nothing
        {
            if (id == IDOK)
            {
                Dispatch(Event::SEnter{FocusedControl(), Boxes()});
            }
            return true;
        }
        const auto control = static_cast<Ui::ControlId>(id);
        if (control == Ui::ControlId::LanguageList)
        {
            HWND list = m_view.Control(control);
            if (code == CBN_SELENDOK || (code == CBN_SELCHANGE && SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) == 0))
            {
                const int selection = m_view.LanguageSelection();
                if (selection >= 0)
                {
                    Dispatch(Event::SLanguagePicked{static_cast<std::size_t>(selection)});
                }
                return true;
            }
            return false;
        }
        if (code == BN_CLICKED)
        {
            Dispatch(Event::SClick{control, Boxes()});
            return true;
        }
        return false;
    }
    case WM_TIMER:
        if (wParam != kStatusTimer)
        {
            return false;
        }
        Dispatch(Event::SPollTimer{});
        return true;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
        {
            Dispatch(Event::SActivated{static_cast<std::uint32_t>(GetMessageTime())});
        }
        return false;
    case WM_CLOSE:
        Dispatch(Event::SCloseAsked{});
        return true;
    case WM_DESTROY:
        Dispatch(Event::SDestroyed{});
        return true;

    // The workers' messages: each payload is owned from here on and freed on every path.
    case kMsgIdentityOutcome: {
        const std::unique_ptr<Auth::SLoginOutcome> outcome(reinterpret_cast<Auth::SLoginOutcome*>(lParam));
        if (outcome != nullptr)
        {
            Dispatch(Event::SIdentityOutcome{static_cast<ERequest>(wParam), outcome->kind, outcome->retrySeconds,
                outcome->message, outcome->login});
        }
        return true;
    }
    case kMsgGameEnded:
        Dispatch(Event::SGameEnded{});
        return true;
    case kMsgGameReady:
        Dispatch(Event::SGameReady{});
        return true;
    case kMsgPatchReport: {
        const std::unique_ptr<Patch::SPatchReport> report(reinterpret_cast<Patch::SPatchReport*>(lParam));
        if (report != nullptr)
        {
            Dispatch(Decode(*report));
        }
        return true;
    }
    case kMsgReleaseReloaded: {
        SRelease release = ReadInstalledRelease();
        Dispatch(Event::SReleaseReloaded{wParam == 1 && release.readable, std::move(release.name),
            std::move(release.cdnUrl), std::move(release.firstServiceUrl)});
        return true;
    }
    case kMsgHandOverResult:
        Dispatch(Event::SHandOverResult{wParam == 1});
        return true;
    default:
        return false;
    }
}

Event::SBoxes CControllerHost::Boxes() const
{
    return {GetWindowTextLengthW(m_view.Control(Ui::ControlId::LoginBox)) > 0,
        GetWindowTextLengthW(m_view.Control(Ui::ControlId::PasswordBox)) > 0};
}

std::uint16_t CControllerHost::FocusedControl() const
{
    HWND focus = GetFocus();
    return focus != nullptr && IsChild(m_window, focus) ? static_cast<std::uint16_t>(GetDlgCtrlID(focus)) : 0;
}

void CControllerHost::Dispatch(const SEvent& event)
{
    ++m_depth;
    for (const SEffect& effect : m_controller.Handle(event))
    {
        Carry(effect);
    }
    if (--m_depth == 0 && m_viewDirty && IsWindow(m_window))
    {
        m_viewDirty = false;
        m_view.Show(m_controller.View());
    }
}

void CControllerHost::Carry(const SEffect& effect)
{
    using Ui::ControlId;
    std::visit(
        Overloaded{
            [&](const Effect::SStartPatch& start) {
                Patch::SPatchRequest request{static_cast<std::uint8_t>(start.mode), start.cdn, start.release,
                    start.number, start.selfUpdate};
                bool started = m_patcher.Start(request, Patch::PostReportsTo(m_window));
                if (!started && m_patcher.Running())
                {
                    // The controller starts a run only when the last one has reported its end,
                    // which its thread does just before it leaves.
                    m_patcher.Wait();
                    started = m_patcher.Start(std::move(request), Patch::PostReportsTo(m_window));
                }
                if (!started)
                {
                    Dispatch(Event::SPatchRefused{});
                }
            },
            [&](const Effect::SStopPatch&) { m_patcher.Stop(); },
            [&](const Effect::SThrottleTransfers& throttle) { m_patcher.ThrottleTransfers(throttle.gameRunning); },
            [&](const Effect::SQueue& queue) {
                // Until the identity worker is here, only the reload after an update is answered.
                if (queue.request == ERequest::ReloadService)
                {
                    PostMessageW(m_window, kMsgReleaseReloaded, 1, 0);
                }
            },
            [&](const Effect::SSignInFromBoxes&) {
                std::string password = m_view.TakePassword();
                m_view.ClearPassword();
                SecureWipe(password.data(), password.capacity());
            },
            [&](const Effect::SEmptyPasswordBox&) { m_view.ClearPassword(); },
            [&](const Effect::SStartGame&) {
                const auto started = m_game.Start();
                Dispatch(Event::SGameStarted{started.has_value(), started ? std::string() : started.error()});
            },
            [&](const Effect::SStopGame&) { m_game.Stop(); },
            [&](const Effect::SStopIdentity&) {},
            [&](const Effect::SOpenLink& link) {
                ShellExecuteW(nullptr, L"open", Utf8ToWide(link.url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            },
            [&](const Effect::SSwitchLanguage& language) {
                Ui::SetLanguage(language.language);
                m_viewDirty = true;
            },
            [&](const Effect::SSaveLanguage& language) {
                Dispatch(Event::SLanguageSaved{Ui::SaveLanguageSetting(Ui::SettingsFolder(), language.language)});
            },
            [&](const Effect::SSelectLanguage& language) {
                SendMessageW(m_view.Control(ControlId::LanguageList), CB_SETCURSEL, language.language, 0);
            },
            [&](const Effect::SOpenLanguageList&) {}, // the window's mechanics open it
            [&](const Effect::SShow& show) {
                ShowWindow(m_window, show.how == Effect::EShow::Show   ? SW_SHOW
                                     : show.how == Effect::EShow::Hide ? SW_HIDE
                                                                       : SW_MINIMIZE);
            },
            [&](const Effect::SForeground&) { SetForegroundWindow(m_window); },
            [&](const Effect::SFocus& focus) { m_view.Focus(focus.control); },
            [&](const Effect::SFocusSignInForm&) {
                const bool loginTyped = GetWindowTextLengthW(m_view.Control(ControlId::LoginBox)) > 0;
                m_view.Focus(loginTyped ? ControlId::PasswordBox : ControlId::LoginBox);
            },
            [&](const Effect::SSendClose&) { SendMessageW(m_window, WM_CLOSE, 0, 0); },
            [&](const Effect::SDestroyWindow&) { DestroyWindow(m_window); },
            [&](const Effect::SStartPollTimer&) { SetTimer(m_window, kStatusTimer, kPollPeriodMs, nullptr); },
            [&](const Effect::SKillTimers&) { KillTimer(m_window, kStatusTimer); },
            [&](const Effect::SPostQuit&) {
                m_view.Destroy(); // the animation timer, the drawing resources, the font
                m_viewDirty = false;
                PostQuitMessage(0);
            },
            [&](const Effect::SHandOver& handOver) {
                const auto started = m_patcher.HandOver(handOver.launcher, Patch::PostHandOverResultTo(m_window));
                Dispatch(Event::SHandOverStarted{started.has_value(), started ? std::string() : started.error()});
            },
            [&](const Effect::SUndoHandOver&) { m_patcher.UndoHandOver(); },
            [&](const Effect::SRefreshUninstallEntry&) {
                Install::RefreshUninstallEntry(m_controller.State().releaseName);
            },
            [&](const Effect::SRelayout&) { m_viewDirty = true; },
            [&](const Effect::SRedraw&) { m_viewDirty = true; },
        },
        effect);
}
}
