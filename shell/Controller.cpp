#include "shell/Controller.h"

#include "base/Text.h"
#include "net/Http.h"
#include "vfs/Index.h"

#include <fmt/format.h>

#include <type_traits>
#include <utility>

namespace Shell
{
namespace
{
using Auth::EOutcome;

constexpr std::uint64_t kMiB = 1'048'576;
constexpr std::size_t kBanStampMinimum = 16; // a ban message longer than 15 characters is a time stamp

// The code points of valid UTF-8; an invalid byte yields nothing and the decoding goes on after it.
std::u32string DecodeUtf8(std::string_view text)
{
    std::u32string points;
    points.reserve(text.size());
    while (!text.empty())
    {
        char32_t point = 0;
        if (Text::NextCodePoint(text, point))
        {
            points.push_back(point);
        }
        else
        {
            text.remove_prefix(1);
        }
    }
    return points;
}

std::string EncodeUtf8(std::u32string_view points)
{
    std::string out;
    out.reserve(points.size());
    for (const char32_t point : points)
    {
        Text::AppendUtf8(out, point);
    }
    return out;
}

bool IsHidden(char32_t point) noexcept
{
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x061C || point == 0x200E ||
           point == 0x200F || (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

std::u32string ShownPoints(std::string_view text)
{
    std::u32string points = DecodeUtf8(text);
    std::erase_if(points, IsHidden);
    return points;
}

float Fraction(std::uint64_t done, std::uint64_t total) noexcept
{
    return total == 0 ? 0.0f : static_cast<float>(static_cast<double>(done) / static_cast<double>(total));
}

std::uint64_t Percent(std::uint64_t done, std::uint64_t total) noexcept
{
    __extension__ using U128 = unsigned __int128;
    return static_cast<std::uint64_t>(static_cast<U128>(done) * 100 / total);
}

// The trailing "/" of a base address is dropped before a path is added.
std::string_view WithoutTrailingSlash(std::string_view url) noexcept
{
    while (!url.empty() && url.back() == '/')
    {
        url.remove_suffix(1);
    }
    return url;
}

constexpr bool IsLink(Ui::ControlId control) noexcept
{
    return control >= Ui::ControlId::CreateAccount && control <= Ui::ControlId::Support;
}
}

std::string ShownText(std::string_view text)
{
    return EncodeUtf8(ShownPoints(text));
}

std::uint64_t Megabytes(std::uint64_t bytes) noexcept
{
    return bytes / kMiB + (bytes % kMiB != 0 ? 1 : 0);
}

template <typename... Args>
std::string CController::Say(TextId id, const Args&... args) const
{
    const std::string_view text = Ui::TextIn(m_state.language, id);
    if constexpr (sizeof...(Args) == 0)
    {
        return std::string(text);
    }
    else
    {
        try
        {
            return fmt::format(fmt::runtime(text), args...);
        }
        catch (const fmt::format_error&)
        {
            return std::string(text);
        }
    }
}

Effects CController::Handle(const SEvent& event)
{
    m_effects.clear();
    std::visit([this](const auto& e) { On(e); }, event);
    return std::exchange(m_effects, {});
}

void CController::Emit(SEffect effect)
{
    m_effects.push_back(std::move(effect));
}

void CController::SetStatus(std::string text, Ui::StatusKind kind)
{
    m_state.statusMessage = std::move(text);
    m_state.statusKind = kind;
}

void CController::ClearProgress()
{
    m_state.progressText.clear();
    m_state.progressFraction = -1.0f;
}

// A transport failure worded by its class: a network that may intercept, a clock that may be
// wrong, or servers that cannot be reached.
std::string CController::ConnectionText(const std::string& error, Net::EFailureClass failureClass) const
{
    switch (failureClass)
    {
    case Net::EFailureClass::Intercepted:
        return Say(TextId::NetworkIntercepting, error);
    case Net::EFailureClass::ClockWrong:
        return Say(TextId::ClockWrong, error);
    case Net::EFailureClass::OtherTls:
    case Net::EFailureClass::Unrecognised:
        break;
    }
    return Say(TextId::ServersUnreachable, error);
}

// --- Window life ---------------------------------------------------------------------------

void CController::On(const Event::SCreated& event)
{
    m_state.language = event.language < Ui::kLanguageCount ? event.language : Ui::kEnglish;
    m_state.releaseReadable = event.releaseReadable;
    m_state.releaseError = ShownText(event.releaseError);
    m_state.releaseName = ShownText(event.releaseName);
    m_state.cdnUrl = event.cdnUrl;
    m_state.firstServiceUrl = event.firstServiceUrl;

    if (m_state.releaseReadable)
    {
        if (event.recoveryMessage.empty())
        {
            StartPatchRun(EPatchMode::Complete);
        }
        if (!event.storedLogin.empty())
        {
            m_state.loginName = ShownText(event.storedLogin);
            m_state.signedIn = true;
            m_state.signInBusy = true;
            SetStatus(Say(TextId::SigningIn), Ui::StatusKind::Neutral);
            Emit(Effect::SQueue{ERequest::Resume});
        }
        if (!event.recoveryMessage.empty())
        {
            SetStatus(Say(TextId::UpdateStopped, ShownText(event.recoveryMessage)), Ui::StatusKind::Error);
        }
    }
    else
    {
        SetStatus(Say(TextId::FilesUnreadable, m_state.releaseError), Ui::StatusKind::Error);
    }
    StartPoll();
    Emit(Effect::SStartPollTimer{});
}

void CController::On(const Event::SCloseAsked&)
{
    // While the game runs the launcher only steps aside; the game's end brings it back.
    Emit(m_state.gameRunning ? SEffect{Effect::SShow{Effect::EShow::Hide}} : SEffect{Effect::SDestroyWindow{}});
}

void CController::On(const Event::SDestroyed&)
{
    Emit(Effect::SKillTimers{});
    Emit(Effect::SStopPatch{});
    Emit(Effect::SStopGame{});
    Emit(Effect::SStopIdentity{});
    Emit(Effect::SPostQuit{});
}

// --- Controls ------------------------------------------------------------------------------

void CController::On(const Event::SClick& event)
{
    switch (event.control)
    {
    case Ui::ControlId::SignIn:
        SignIn(event.boxes);
        break;
    case Ui::ControlId::Play:
        Play();
        break;
    case Ui::ControlId::SignOut:
        SignOut();
        break;
    case Ui::ControlId::Minimise:
        Emit(Effect::SShow{Effect::EShow::Minimise});
        break;
    case Ui::ControlId::Close:
        Emit(Effect::SSendClose{});
        break;
    case Ui::ControlId::Repair:
        StartPatchRun(EPatchMode::Repair);
        break;
    case Ui::ControlId::LanguageList:
        Emit(Effect::SOpenLanguageList{});
        break;
    default:
        if (IsLink(event.control))
        {
            OpenLink(event.control);
        }
        break;
    }
}

void CController::On(const Event::SEnter& event)
{
    const auto focused = static_cast<Ui::ControlId>(event.focused);
    if (IsLink(focused))
    {
        OpenLink(focused);
        return;
    }
    if (focused == Ui::ControlId::Repair)
    {
        StartPatchRun(EPatchMode::Repair);
        return;
    }
    if (!m_state.releaseReadable || m_state.signInBusy)
    {
        return;
    }
    if (!m_state.signedIn)
    {
        SignIn(event.boxes);
    }
    else if (focused == Ui::ControlId::SignOut)
    {
        SignOut();
    }
    else if (!m_state.gameRunning)
    {
        Play();
    }
}

void CController::SignIn(Event::SBoxes boxes)
{
    if (!m_state.releaseReadable || m_state.signInBusy || m_state.signedIn)
    {
        return;
    }
    if (boxes.login && boxes.password)
    {
        m_state.signInBusy = true;
        SetStatus(Say(TextId::SigningIn), Ui::StatusKind::Neutral);
        Emit(Effect::SSignInFromBoxes{});
    }
    else
    {
        Emit(Effect::SEmptyPasswordBox{});
        SetStatus(Say(TextId::EnterLogin), Ui::StatusKind::Neutral);
        Emit(Effect::SFocusSignInForm{});
    }
}

void CController::SignOut()
{
    if (!m_state.releaseReadable || m_state.signInBusy || !m_state.signedIn)
    {
        return;
    }
    m_state.signInBusy = true;
    SetStatus(Say(TextId::SigningOut), Ui::StatusKind::Neutral);
    Emit(Effect::SQueue{ERequest::SignOut});
}

void CController::Play()
{
    // A second Refresh in flight would start a second game client.
    if (!m_state.signedIn || m_state.signInBusy || m_state.gameRunning || m_state.updateRequired ||
        m_state.patchRunning)
    {
        return;
    }
    m_state.signInBusy = true;
    SetStatus(Say(TextId::CheckingSignIn), Ui::StatusKind::Neutral);
    Emit(Effect::SQueue{ERequest::Refresh});
}

void CController::OpenLink(Ui::ControlId control)
{
    const std::string path = fmt::format("/{}/", Ui::kLanguages[m_state.language].code);
    const std::string_view service = WithoutTrailingSlash(m_state.firstServiceUrl);
    std::string url;
    switch (control)
    {
    case Ui::ControlId::CreateAccount:
    case Ui::ControlId::ForgotPassword:
        if (!m_state.releaseReadable || service.empty())
        {
            return;
        }
        url = fmt::format("{}{}{}", service, path, control == Ui::ControlId::CreateAccount ? "#register" : "#forgot");
        break;
    case Ui::ControlId::Website:
        url = fmt::format("{}{}", kWebsite, path);
        break;
    default: // Discord and Support have no address in this product
        return;
    }
    Emit(Effect::SOpenLink{std::move(url)});
}

void CController::On(const Event::SLanguagePicked& event)
{
    if (event.language >= Ui::kLanguageCount || event.language == m_state.language)
    {
        return;
    }
    if (m_state.signInBusy || m_state.gameRunning)
    {
        Emit(Effect::SSelectLanguage{m_state.language});
        return;
    }
    m_state.language = event.language;
    Emit(Effect::SSwitchLanguage{m_state.language});
    if (m_state.releaseReadable)
    {
        SetStatus({}, Ui::StatusKind::Neutral);
    }
    else
    {
        SetStatus(Say(TextId::FilesUnreadable, m_state.releaseError), Ui::StatusKind::Error);
    }
    Emit(Effect::SSaveLanguage{m_state.language});
}

void CController::On(const Event::SLanguageSaved& event)
{
    if (!event.saved)
    {
        SetStatus(Say(TextId::LanguageNotSaved), Ui::StatusKind::Error);
    }
}

// --- Sign-in ---------------------------------------------------------------------------------

void CController::On(const Event::SIdentityOutcome& event)
{
    if (event.request != ERequest::GameExchange)
    {
        m_state.signInBusy = false;
    }
    bool startGame = false;
    switch (event.outcome.kind)
    {
    case EOutcome::Unauthorised:
        m_state.signedIn = false;
        ShowOutcome(event);
        break;
    case EOutcome::SignedIn:
        m_state.signedIn = true;
        if (!event.outcome.login.empty())
        {
            m_state.loginName = ShownText(event.outcome.login);
        }
        SetStatus(event.request == ERequest::GameExchange ? Say(TextId::GameRunning) : std::string(),
            Ui::StatusKind::Neutral);
        // The check before PLAY may end after a status answer asked for an update, whose
        // run now changes the game's files: the game waits for it.
        startGame = event.request == ERequest::Refresh && !m_state.gameRunning && !m_state.updateRequired &&
                    !m_state.patchRunning;
        break;
    case EOutcome::SignedOut:
        m_state.signedIn = false;
        if (event.request == ERequest::SignOut)
        {
            SetStatus({}, Ui::StatusKind::Neutral);
        }
        else
        {
            ShowOutcome(event);
        }
        break;
    default:
        if (event.request == ERequest::Resume)
        {
            m_state.signedIn = true; // a stored sign-in survives a failed refresh at start
        }
        ShowOutcome(event);
        break;
    }
    if (startGame)
    {
        Emit(Effect::SStartGame{});
    }
    if (!m_state.signedIn)
    {
        Emit(Effect::SFocusSignInForm{});
    }
    else if (!m_state.gameRunning)
    {
        Emit(Effect::SFocus{Ui::ControlId::Play});
    }
}

void CController::ShowOutcome(const Event::SIdentityOutcome& event)
{
    const Auth::SOutcomeNotice& outcome = event.outcome;
    const std::u32string message = ShownPoints(outcome.message);
    std::string text;
    Ui::StatusKind kind = Ui::StatusKind::Error;
    switch (outcome.kind)
    {
    case EOutcome::Unauthorised:
        text = Say(event.request == ERequest::SignIn ? TextId::WrongLogin : TextId::SignInEnded);
        break;
    case EOutcome::LoginRules:
        text = Say(TextId::LoginRules);
        break;
    case EOutcome::Limited:
        text = Say(TextId::TooManyAttempts, outcome.retrySeconds);
        break;
    case EOutcome::Unreachable:
        text = ConnectionText(EncodeUtf8(message), outcome.failureClass);
        kind = Ui::StatusKind::Connection;
        break;
    case EOutcome::SignedOut:
        text = Say(TextId::SignInToPlay);
        kind = Ui::StatusKind::Neutral;
        break;
    case EOutcome::Banned:
        // A message longer than 15 characters is the end of the ban as a UTC time stamp:
        // "YYYY-MM-DD hh:mm..." gives the date and the hours and minutes.
        if (message.size() >= kBanStampMinimum)
        {
            text = Say(TextId::BannedUntil, EncodeUtf8(message.substr(0, 10)), EncodeUtf8(message.substr(11, 5)));
        }
        else
        {
            text = Say(TextId::Banned);
        }
        break;
    case EOutcome::Closed:
        text = Say(TextId::AccountClosed);
        break;
    case EOutcome::Unconfirmed:
        text = Say(TextId::EmailNotConfirmed);
        break;
    default:
        text = Say(TextId::SomethingWrong, EncodeUtf8(message));
        break;
    }
    SetStatus(std::move(text), kind);
}

// --- The game --------------------------------------------------------------------------------

void CController::On(const Event::SGameStarted& event)
{
    if (event.started)
    {
        m_state.gameRunning = true;
        Emit(Effect::SThrottleTransfers{true});
        SetStatus(Say(TextId::GameOpening), Ui::StatusKind::Neutral);
    }
    else
    {
        SetStatus(Say(TextId::GameDidNotStart, ShownText(event.error)), Ui::StatusKind::Error);
    }
}

void CController::On(const Event::SGameReady&)
{
    if (!m_state.gameRunning)
    {
        return;
    }
    SetStatus(Say(TextId::GameRunning), Ui::StatusKind::Neutral);
    Emit(Effect::SShow{Effect::EShow::Hide});
}

void CController::On(const Event::SGameEnded&)
{
    m_state.gameRunning = false;
    Emit(Effect::SThrottleTransfers{false});
    SetStatus({}, Ui::StatusKind::Neutral);
    StartPoll();
    Emit(Effect::SShow{Effect::EShow::Show});
    Emit(Effect::SForeground{});
    Emit(Effect::SFocus{Ui::FirstFocus(m_state.signedIn)});
}

// --- The status poll -------------------------------------------------------------------------

void CController::StartPoll()
{
    if (!m_state.releaseReadable || m_state.statusPollInFlight)
    {
        return;
    }
    m_state.statusPollInFlight = true;
    Emit(Effect::SQueue{ERequest::PollStatus});
}

void CController::On(const Event::SPollTimer&)
{
    StartPoll();
}

void CController::On(const Event::SActivated& event)
{
    // Message times are milliseconds that wrap around every 49.7 days.
    if (static_cast<std::uint32_t>(event.time - m_state.lastStatusTime) > kPollOnActivationMs)
    {
        StartPoll();
    }
}

void CController::On(const Event::SServiceStatus& event)
{
    const Auth::SServiceStatus& status = event.status;
    m_state.statusPollInFlight = false;
    m_state.lastStatusTime = event.time;
    m_state.serviceState = status.world;
    m_state.updateRequired = status.old != 0;
    m_state.statusPollError = ShownText(status.error);
    m_state.statusPollErrorClass = status.errorClass;
    m_state.releaseToInstall = m_state.updateRequired ? status.current : std::string();
    m_state.releaseToInstallNumber = m_state.updateRequired ? status.currentNumber : 0;
    m_state.nextRelease = status.next;
    m_state.nextReleaseNumber = status.nextNumber;
    RequiredUpdate();
    BackgroundPreparation();
}

// --- Patch runs ------------------------------------------------------------------------------

bool CController::StartPatchRun(EPatchMode mode)
{
    if (m_state.patchRunning || m_state.backgroundRun || m_state.gameRunning || !m_state.releaseReadable ||
        m_state.cdnUrl.empty())
    {
        return false;
    }
    RememberStart(false);
    const bool update = mode == EPatchMode::Update;
    Emit(Effect::SStartPatch{mode, m_state.cdnUrl, update ? m_state.releaseToInstall : std::string(),
        m_state.releaseToInstallNumber, !m_state.selfUpdateFailed});
    m_state.patchRunning = true;
    m_state.patchMode = mode;
    ClearProgress();
    SetStatus({}, Ui::StatusKind::Neutral);
    return true;
}

void CController::RememberStart(bool background)
{
    m_startUndo = {background, m_state.patchMode, m_state.releaseBeingPrepared, m_state.statusMessage,
        m_state.statusKind, m_state.progressText, m_state.progressFraction};
}

void CController::On(const Event::SPatchRefused&)
{
    // A refused start changes nothing: only what the start itself changed is put back. The
    // same event may have gone on to a sign-in or a poll, whose requests are already queued.
    SStartUndo& undo = m_startUndo;
    if (undo.background)
    {
        m_state.backgroundRun = false;
        m_state.releaseBeingPrepared = std::move(undo.releaseBeingPrepared);
    }
    else
    {
        m_state.patchRunning = false;
        m_state.patchMode = undo.patchMode;
    }
    m_state.progressText = std::move(undo.progressText);
    m_state.progressFraction = undo.progressFraction;
    if (m_state.statusMessage.empty()) // the start emptied it, and nothing has said more since
    {
        SetStatus(std::move(undo.statusMessage), undo.statusKind);
    }
    m_startUndo = {};
}

void CController::RequiredUpdate()
{
    if (!m_state.updateRequired || m_state.releaseToInstall.empty() || m_state.cdnUrl.empty())
    {
        return;
    }
    if (m_state.backgroundRun)
    {
        if (m_state.releaseBeingPrepared == m_state.releaseToInstall)
        {
            return; // its end brings the update
        }
        Emit(Effect::SStopPatch{});
        m_state.backgroundRun = false;
        m_state.releaseBeingPrepared.clear();
        ClearProgress();
    }
    StartPatchRun(EPatchMode::Update);
}

void CController::BackgroundPreparation()
{
    if (m_state.patchRunning || m_state.backgroundRun || !m_state.releaseReadable || m_state.cdnUrl.empty())
    {
        return;
    }
    if (m_state.updateRequired && !m_state.gameRunning)
    {
        return; // the required update runs instead
    }
    const std::string& target = m_state.updateRequired ? m_state.releaseToInstall : m_state.nextRelease;
    const std::uint64_t number = m_state.updateRequired ? m_state.releaseToInstallNumber : m_state.nextReleaseNumber;
    if (target.empty() || target == m_state.preparedRelease)
    {
        return;
    }
    RememberStart(true);
    Emit(Effect::SStartPatch{EPatchMode::Preload, m_state.cdnUrl, target, number, false});
    m_state.backgroundRun = true;
    m_state.releaseBeingPrepared = target;
    ClearProgress();
}

void CController::On(const Event::SPatchReport& event)
{
    const std::uint64_t done = event.done;
    const std::uint64_t total = event.total;
    if (event.mode == EPatchMode::Preload)
    {
        if (!m_state.backgroundRun)
        {
            return; // a report of a run stopped for the required update
        }
        switch (event.phase)
        {
        case EPatchPhase::Transferring:
            m_state.progressText = Say(TextId::Preloading, Megabytes(done), Megabytes(total));
            m_state.progressFraction = Fraction(done, total);
            break;
        case EPatchPhase::Done:
            m_state.backgroundRun = false;
            m_state.preparedRelease = std::exchange(m_state.releaseBeingPrepared, {});
            ClearProgress();
            break;
        case EPatchPhase::Stopped:
            m_state.backgroundRun = false;
            m_state.releaseBeingPrepared.clear();
            ClearProgress();
            break;
        default:
            break;
        }
        if (!m_state.backgroundRun)
        {
            RequiredUpdate();
        }
        return;
    }

    if (!m_state.patchRunning || m_state.replacingLauncher)
    {
        return;
    }
    switch (event.phase)
    {
    case EPatchPhase::Checking:
        if (total == 0)
        {
            ClearProgress();
        }
        else
        {
            m_state.progressText = Say(TextId::Checking, Percent(done, total));
            m_state.progressFraction = Fraction(done, total);
        }
        break;
    case EPatchPhase::Transferring: {
        const TextId id = event.installing                  ? TextId::Installing
                          : event.mode == EPatchMode::Update ? TextId::Updating
                                                             : TextId::Repairing;
        m_state.progressText = Say(id, Megabytes(done), Megabytes(total));
        m_state.progressFraction = Fraction(done, total);
        break;
    }
    case EPatchPhase::Done:
        m_state.patchRunning = false;
        ClearProgress();
        if (event.mode == EPatchMode::Update)
        {
            // The release to install is the installed one now; the next status answer says
            // what comes after it, so the update is not run a second time meanwhile.
            m_state.updateRequired = false;
            m_state.releaseToInstall.clear();
            m_state.releaseToInstallNumber = 0;
            Emit(Effect::SQueue{ERequest::ReloadService});
        }
        else if (event.mode == EPatchMode::Repair)
        {
            SetStatus(Say(event.repaired ? TextId::Repaired : TextId::AllWhole), Ui::StatusKind::Neutral);
        }
        else if (event.repaired && !event.installing)
        {
            SetStatus(Say(TextId::Repaired), Ui::StatusKind::Neutral);
        }
        RequiredUpdate();
        BackgroundPreparation();
        return;
    case EPatchPhase::Stopped:
        m_state.patchRunning = false;
        ClearProgress();
        if (event.shortfall > 0)
        {
            SetStatus(Say(TextId::NoSpace, Megabytes(event.shortfall)), Ui::StatusKind::Error);
        }
        else
        {
            SetStatus(Say(event.mode == EPatchMode::Update ? TextId::UpdateStopped : TextId::RepairStopped,
                          ShownText(event.message)),
                Ui::StatusKind::Error);
        }
        // A failed run is not started again by itself: the next status answer or Repair does.
        BackgroundPreparation();
        return;
    case EPatchPhase::LauncherReady:
        if (event.mode == EPatchMode::Update)
        {
            Emit(Effect::SHandOver{event.launcher});
        }
        break;
    }
}

void CController::On(const Event::SHandOverStarted& event)
{
    if (event.started)
    {
        m_state.replacingLauncher = true; // the patch run counts as running until the new launcher answers
        return;
    }
    SelfUpdateFailure(ShownText(event.error));
}

void CController::On(const Event::SHandOverResult& event)
{
    if (!m_state.replacingLauncher)
    {
        return;
    }
    if (event.signalled)
    {
        Emit(Effect::SDestroyWindow{});
        return;
    }
    m_state.replacingLauncher = false;
    Emit(Effect::SUndoHandOver{});
    SelfUpdateFailure(event.error.empty() ? std::string("the new launcher did not start") : ShownText(event.error));
}

void CController::SelfUpdateFailure(std::string_view error)
{
    m_state.selfUpdateFailed = true;
    m_state.patchRunning = false;
    ClearProgress();
    std::string reason = Say(TextId::UpdateStopped, error);
    SetStatus(reason, Ui::StatusKind::Error);
    // The update starts again, now without the launcher's own file. Its start would empty the
    // status line; the reason stays in view until the run's end says more.
    RequiredUpdate();
    SetStatus(std::move(reason), Ui::StatusKind::Error);
}

void CController::On(const Event::SReleaseReloaded& event)
{
    m_state.releaseName = ShownText(event.releaseName);
    m_state.cdnUrl = event.cdnUrl;
    m_state.firstServiceUrl = event.firstServiceUrl;
    if (event.reloaded)
    {
        SetStatus(Say(TextId::Updated, m_state.releaseName), Ui::StatusKind::Neutral);
        Emit(Effect::SRefreshUninstallEntry{});
    }
    m_state.statusPollInFlight = false;
    StartPoll();
}

// --- The view --------------------------------------------------------------------------------

Ui::SView CController::View() const
{
    using Ui::ControlId;
    const SState& s = m_state;
    Ui::SView view;
    view.language = s.language;
    view.signedIn = s.signedIn;
    view.releaseReadable = s.releaseReadable;
    view.loginName = s.loginName;
    // The version label: a development build says so after the release's name.
    view.releaseName = Vfs::MarkDevelopmentBuild(s.releaseName);
    view.hasCdn = !s.cdnUrl.empty();

    // Shown: the controls of the sign-in state and those always shown (the window leaves out
    // a bottom-row link it lays out with no width); the account links need a readable release.
    for (std::size_t slot = 0; slot < Ui::kControlCount; ++slot)
    {
        const auto id = static_cast<ControlId>(Ui::kFirstControlId + slot);
        const bool signedInMark = id >= ControlId::SignedInLine && id <= ControlId::SignOut;
        const bool alwaysMark = id >= ControlId::Status && id != ControlId::CreateAccount &&
                                id != ControlId::ForgotPassword;
        view.controls[slot].shown = alwaysMark || signedInMark == s.signedIn;
    }
    view[ControlId::CreateAccount].shown &= s.releaseReadable;
    view[ControlId::ForgotPassword].shown &= s.releaseReadable;

    const bool formOpen = s.releaseReadable && !s.signInBusy;
    for (const ControlId id : {ControlId::LoginBox, ControlId::PasswordBox, ControlId::SignIn})
    {
        view[id].enabled = formOpen && !s.signedIn;
    }
    view[ControlId::Play].enabled =
        formOpen && s.signedIn && !s.gameRunning && !s.updateRequired && !s.patchRunning;
    view[ControlId::SignOut].enabled = formOpen && s.signedIn;
    view[ControlId::Repair].enabled = s.releaseReadable && !s.gameRunning && !s.patchRunning && !s.backgroundRun;
    view[ControlId::LanguageList].enabled = !s.signInBusy && !s.gameRunning;

    // The status line: a message, else the progress, else the required update, else the
    // service's state.
    const bool progressShown = s.patchRunning || (s.backgroundRun && !s.progressText.empty());
    if (!s.statusMessage.empty())
    {
        view.statusText = s.statusMessage;
        view.statusKind = s.statusKind;
    }
    else if (progressShown)
    {
        view.statusText = s.progressText;
        view.progressFraction = s.progressFraction;
    }
    else if (s.updateRequired)
    {
        view.statusText = Say(TextId::NewVersion);
        view.statusKind = Ui::StatusKind::Attention;
    }
    else if (s.serviceState == Auth::EWorld::Up)
    {
        view.statusText = Say(TextId::ServersOnline);
        view.statusKind = Ui::StatusKind::Good;
    }
    else if (s.serviceState == Auth::EWorld::Down)
    {
        view.statusText = Say(TextId::ServersOffline);
        view.statusKind = Ui::StatusKind::Attention;
    }
    else if (s.serviceState == Auth::EWorld::Unreachable)
    {
        view.statusText = ConnectionText(s.statusPollError, s.statusPollErrorClass);
        view.statusKind = Ui::StatusKind::Connection;
    }
    Ui::FillTexts(view);
    return view;
}
}
