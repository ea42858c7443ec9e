#include "shell/ControllerHost.h"

#include "install/Install.h"
#include "base/File.h"
#include "shell/Messages.h"
#include "base/Text.h"
#include "ui/Settings.h"

#include <shellapi.h>

#include <memory>
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

}

CControllerHost::CControllerHost(HWND window, Ui::CMainWindow& view, std::string launcherPath)
    : m_window(window), m_view(view), m_loop(*this, view.View()),
      m_identity(Auth::LauncherIdentityParams({
          .outcome =
              [this](std::uint8_t request, std::unique_ptr<Auth::SLoginOutcome> outcome) {
                  // Only what the outcome says travels; its secrets stay behind and are wiped
                  // with it here.
                  PostOwned(kMsgIdentityOutcome,
                      Event::SIdentityOutcome{static_cast<ERequest>(request), std::move(*outcome)});
              },
          // The message's time is added when the window thread takes the letter.
          .status =
              [this](std::unique_ptr<Auth::SServiceStatus> status) {
                  PostOwned(kMsgServiceStatus, Event::SServiceStatus{0, std::move(*status)});
              },
          .reloaded = [this](bool reloaded) { PostOwned(kMsgReleaseReloaded, Event::SReleaseReloaded{reloaded}); },
      })),
      m_patcher(Patch::SPatcherParams{.launcherPath = std::move(launcherPath)}),
      m_game({Text::Utf8ToWide(File::RunningExecutableFolder()), [this] { return m_identity.ExchangeForGame(); },
          [this] { PostOwned(kMsgGameReady, Event::SGameReady{}); },
          [this] { PostOwned(kMsgGameEnded, Event::SGameEnded{}); }})
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
    m_loop.Dispatch(Event::SCreated{started.has_value(), started ? std::string() : started.error(),
        m_identity.ReleaseName(), m_identity.CdnUrl(), m_identity.FirstServiceUrl(), m_identity.CurrentLogin(),
        std::move(recoveryMessage), Ui::CurrentLanguageIndex()});
}

void CControllerHost::PostOwned(unsigned message, SEvent event)
{
    const std::uint64_t sequence = m_mailbox.Put(message, std::move(event));
    if (!PostMessageW(m_window, message, static_cast<WPARAM>(sequence), 0))
    {
        (void)m_mailbox.Take(message, sequence);
    }
}

// A worker's message: the letter it announces, or nothing when no letter of its kind has that
// number (another process posted it).
bool CControllerHost::TakeLetter(UINT message, WPARAM sequence)
{
    std::optional<SEvent> letter = m_mailbox.Take(message, static_cast<std::uint64_t>(sequence));
    if (!letter)
    {
        return true;
    }
    if (auto* status = std::get_if<Event::SServiceStatus>(&*letter))
    {
        status->time = static_cast<std::uint32_t>(GetMessageTime());
    }
    else if (auto* reloaded = std::get_if<Event::SReleaseReloaded>(&*letter))
    {
        reloaded->releaseName = m_identity.ReleaseName();
        reloaded->cdnUrl = m_identity.CdnUrl();
        reloaded->firstServiceUrl = m_identity.FirstServiceUrl();
    }
    m_loop.Dispatch(*letter);
    return true;
}

bool CControllerHost::HandleCommand(WORD id, WORD code)
{
    const auto control = static_cast<Ui::ControlId>(id);
    if (control == Ui::ControlId::LanguageList && code != BN_CLICKED) // the window's click on the closed list
    {
        HWND list = m_view.Control(control);
        if (code != CBN_SELENDOK && (code != CBN_SELCHANGE || SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) != 0))
        {
            return false;
        }
        if (const int selection = m_view.LanguageSelection(); selection >= 0)
        {
            m_loop.Dispatch(Event::SLanguagePicked{static_cast<std::size_t>(selection)});
        }
        return true;
    }
    if (code != BN_CLICKED)
    {
        return false;
    }
    m_loop.Dispatch(Event::SClick{control, Boxes()});
    return true;
}

bool CControllerHost::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message)
    {
    case WM_COMMAND:
        if (lParam == 0) // the dialog navigation's keys; Escape (IDCANCEL) does nothing
        {
            if (LOWORD(wParam) == IDOK)
            {
                m_loop.Dispatch(Event::SEnter{FocusedControl(), Boxes()});
            }
            return true;
        }
        return HandleCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER:
        if (wParam != kStatusTimer)
        {
            return false;
        }
        m_loop.Dispatch(Event::SPollTimer{});
        return true;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
        {
            m_loop.Dispatch(Event::SActivated{static_cast<std::uint32_t>(GetMessageTime())});
        }
        return false;
    case WM_CLOSE:
        m_loop.Dispatch(Event::SCloseAsked{});
        return true;
    case WM_DESTROY:
        m_loop.Dispatch(Event::SDestroyed{});
        return true;
    case kMsgIdentityOutcome:
    case kMsgGameEnded:
    case kMsgGameReady:
    case kMsgServiceStatus:
    case kMsgPatchReport:
    case kMsgReleaseReloaded:
    case kMsgHandOverResult:
        return TakeLetter(message, wParam);
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

void CControllerHost::StartPatch(const Effect::SStartPatch& start)
{
    const auto report = [this](Patch::SPatchReport patchReport) { PostOwned(kMsgPatchReport, std::move(patchReport)); };
    Patch::SPatchRequest request{start.mode, start.cdn, start.release, start.number, start.selfUpdate};
    auto started = m_patcher.Start(request, report);
    if (!started && started.error() == Patch::EStartRefusal::Running)
    {
        // The controller starts a run only when the last one has reported its end, which its
        // thread does just before it leaves.
        m_patcher.Wait();
        started = m_patcher.Start(std::move(request), report);
    }
    if (!started)
    {
        m_loop.Dispatch(Event::SPatchRefused{started.error()});
    }
}

void CControllerHost::ShowView(const Ui::SView& view)
{
    m_view.Show(view);
}

void CControllerHost::Focus(const SEffect& focus)
{
    using Ui::ControlId;
    if (const auto* control = std::get_if<Effect::SFocus>(&focus))
    {
        m_view.Focus(control->control);
        return;
    }
    const bool loginTyped = GetWindowTextLengthW(m_view.Control(ControlId::LoginBox)) > 0;
    m_view.Focus(loginTyped ? ControlId::PasswordBox : ControlId::LoginBox);
}

void CControllerHost::DestroyWindow()
{
    ::DestroyWindow(m_window); // WM_NCDESTROY frees this host
}

void CControllerHost::Carry(const SEffect& effect)
{
    using Ui::ControlId;
    std::visit(
        Overloaded{
            [&](const Effect::SStartPatch& start) { StartPatch(start); },
            [&](const Effect::SStopPatch&) { m_patcher.Stop(); },
            [&](const Effect::SThrottleTransfers& throttle) { m_patcher.ThrottleTransfers(throttle.gameRunning); },
            [&](const Effect::SQueue& queue) { m_identity.Queue(queue.request); },
            [&](const Effect::SSignInFromBoxes&) {
                std::string login = m_view.LoginText();
                std::string password = m_view.TakePassword();
                m_view.ClearPassword();
                m_identity.SignIn(std::move(login), std::move(password));
                Secure::Wipe(password.data(), password.capacity()); // what a move leaves behind
            },
            [&](const Effect::SEmptyPasswordBox&) { m_view.ClearPassword(); },
            [&](const Effect::SStartGame&) {
                const auto started = m_game.Start();
                m_loop.Dispatch(Event::SGameStarted{started.has_value(), started ? std::string() : started.error()});
            },
            [&](const Effect::SStopGame&) { m_game.Stop(); },
            [&](const Effect::SStopIdentity&) { m_identity.StopIdentity(); },
            [&](const Effect::SOpenLink& link) {
                ShellExecuteW(nullptr, L"open", Text::Utf8ToWide(link.url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            },
            [&](const Effect::SSwitchLanguage& language) { Ui::SetLanguage(language.language); },
            [&](const Effect::SSaveLanguage& language) {
                m_loop.Dispatch(
                    Event::SLanguageSaved{Ui::SaveLanguageSetting(Ui::SettingsFolder(), language.language)});
            },
            [&](const Effect::SSelectLanguage& language) {
                SendMessageW(m_view.Control(ControlId::LanguageList), CB_SETCURSEL, language.language, 0);
            },
            [&](const Effect::SOpenLanguageList&) { m_view.OpenLanguageList(); },
            [&](const Effect::SShow& show) {
                ShowWindow(m_window, show.how == Effect::EShow::Show   ? SW_SHOW
                                     : show.how == Effect::EShow::Hide ? SW_HIDE
                                                                       : SW_MINIMIZE);
            },
            [&](const Effect::SForeground&) { SetForegroundWindow(m_window); },
            [&](const Effect::SSendClose&) { SendMessageW(m_window, WM_CLOSE, 0, 0); },
            [&](const Effect::SStartPollTimer&) { SetTimer(m_window, kStatusTimer, kPollPeriodMs, nullptr); },
            [&](const Effect::SKillTimers&) { KillTimer(m_window, kStatusTimer); },
            [&](const Effect::SPostQuit&) {
                m_view.Destroy(); // the animation timer, the drawing resources, the font
                m_mailbox.Clear(); // every worker is stopped: what they posted is not taken any more
                PostQuitMessage(0);
            },
            [&](const Effect::SHandOver& handOver) {
                const auto started = m_patcher.HandOver(handOver.launcher,
                    [this](bool signalled, std::string error) {
                        PostOwned(kMsgHandOverResult, Event::SHandOverResult{signalled, std::move(error)});
                    });
                m_loop.Dispatch(Event::SHandOverStarted{started.has_value(), started ? std::string() : started.error()});
            },
            [&](const Effect::SUndoHandOver&) { m_patcher.UndoHandOver(); },
            [&](const Effect::SRefreshUninstallEntry&) {
                Install::RefreshUninstallEntry(m_loop.Controller().State().releaseName);
            },
            // The loop carries these itself.
            [&](const Effect::SFocus&) {},
            [&](const Effect::SFocusSignInForm&) {},
            [&](const Effect::SDestroyWindow&) {},
        },
        effect);
}
}
