#include "shell/ControllerHost.h"

#include "auth/Json.h"
#include "install/Install.h"
#include "patch/Driver.h"
#include "shell/File.h"
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

void Post(HWND window, UINT message) noexcept
{
    PostMessageW(window, message, 0, 0);
}

Game::SLaunchParams GameParams(HWND window, Auth::Identity& identity)
{
    return {Utf8ToWide(RunningExecutableFolder()), [&identity] { return identity.ExchangeForGame(); },
        [window] { Post(window, kMsgGameReady); }, [window] { Post(window, kMsgGameEnded); }};
}

Event::SPatchReport Decode(const Patch::SPatchReport& report)
{
    return {report.mode, report.phase, report.done, report.total,
        report.repaired, report.installing, report.shortfall, report.message, report.launcher};
}

Event::SServiceStatus Decode(const Auth::SServiceStatus& status, std::uint32_t time)
{
    return {time, static_cast<std::uint8_t>(status.world), status.old != 0, status.current, status.currentNumber,
        status.next, status.nextNumber, status.error};
}
}

CControllerHost::CControllerHost(HWND window, Ui::MainWindow& view)
    : m_window(window), m_view(view), m_identity(Auth::LauncherIdentityParams(Auth::WindowReports(window))),
      m_patcher(Patch::SPatcherParams{}), m_game(GameParams(window, m_identity))
{
}

CControllerHost::~CControllerHost()
{
    // WM_DESTROY has stopped them in order; this covers a window that never got that far.
    m_patcher.Stop();
    m_game.Stop();
    m_identity.StopIdentity();
}

void CControllerHost::Create(std::string recoveryMessage)
{
    const auto started = m_identity.StartIdentity();
    Dispatch(Event::SCreated{started.has_value(), started ? std::string() : started.error(), m_identity.ReleaseName(),
        m_identity.CdnUrl(), m_identity.FirstServiceUrl(), m_identity.CurrentLogin(), std::move(recoveryMessage),
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
    case kMsgServiceStatus: {
        const std::unique_ptr<Auth::SServiceStatus> status(reinterpret_cast<Auth::SServiceStatus*>(lParam));
        if (status != nullptr)
        {
            Dispatch(Decode(*status, static_cast<std::uint32_t>(GetMessageTime())));
        }
        return true;
    }
    case kMsgPatchReport: {
        const std::unique_ptr<Patch::SPatchReport> report(reinterpret_cast<Patch::SPatchReport*>(lParam));
        if (report != nullptr)
        {
            Dispatch(Decode(*report));
        }
        return true;
    }
    case kMsgReleaseReloaded:
        Dispatch(Event::SReleaseReloaded{wParam == 1, m_identity.ReleaseName(), m_identity.CdnUrl(),
            m_identity.FirstServiceUrl()});
        return true;
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
                Patch::SPatchRequest request{start.mode, start.cdn, start.release,
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
            [&](const Effect::SQueue& queue) { m_identity.Queue(queue.request); },
            [&](const Effect::SSignInFromBoxes&) {
                std::string login = m_view.LoginText();
                std::string password = m_view.TakePassword();
                m_view.ClearPassword();
                m_identity.SignIn(std::move(login), std::move(password));
                SecureWipe(password.data(), password.capacity()); // what a move leaves behind
            },
            [&](const Effect::SEmptyPasswordBox&) { m_view.ClearPassword(); },
            [&](const Effect::SStartGame&) {
                const auto started = m_game.Start();
                Dispatch(Event::SGameStarted{started.has_value(), started ? std::string() : started.error()});
            },
            [&](const Effect::SStopGame&) { m_game.Stop(); },
            [&](const Effect::SStopIdentity&) { m_identity.StopIdentity(); },
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
