// The launcher window's controller: what the controls do, what the status line says, and
// which operation starts next (sign-in, sign-out, PLAY, the status poll, the start-up check,
// repair, the update the service requires, the background preparation of the next release,
// the launcher's replacement of itself).
//
// It is a state machine free of Windows: the window procedure decodes each message once into
// an event, hands it to Handle and carries out the effects that come back, in order. An
// effect whose answer matters (starting a patch run, the game or the new launcher, saving the
// language) is answered at once with an answer event, before the next effect is carried out.
// What the window shows is View(): the host shows it again whenever it changed, then moves the
// focus (shell/EffectLoop.h). The controller never reads a clock: times come with their events.
#pragma once

#include "auth/Request.h"
#include "auth/SignIn.h"
#include "auth/Status.h"
#include "patch/Report.h"
#include "ui/Localisation.h"
#include "ui/View.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace Shell
{
using Auth::ERequest;
using Patch::EPatchMode;
using Patch::EPatchPhase;

// The product's web site, behind the Website link.
inline constexpr std::string_view kWebsite = "https://www.quillmere.com";

// The poll period (timer 2) and how long after the last status answer an activation polls.
inline constexpr std::uint32_t kPollPeriodMs = 900'000;
inline constexpr std::uint32_t kPollOnActivationMs = 60'000;

namespace Event
{
// Whether the login and password boxes hold text when a control is used.
struct SBoxes
{
    bool login = false;
    bool password = false;
};

// WM_CREATE, after the identity worker has been started and the release's configuration read.
struct SCreated
{
    bool releaseReadable = false;
    std::string releaseError;    // why not
    std::string releaseName;     // the installed release's display name
    std::string cdnUrl;          // empty when the release names none
    std::string firstServiceUrl; // the first identity service address
    std::string storedLogin;     // the stored sign-in's login, empty without one
    std::string recoveryMessage; // what the start-up journal replay reported, empty when all went well
    std::size_t language = Ui::kEnglish;
};

// A click on a control (the mouse, or BN_CLICKED from the keyboard).
struct SClick
{
    Ui::ControlId control{};
    SBoxes boxes;
};

// The Enter key (IDOK from the dialog navigation), with the control that has the focus (0 for none).
struct SEnter
{
    std::uint16_t focused = 0;
    SBoxes boxes;
};

// The language list's choice (CBN_SELENDOK, or CBN_SELCHANGE while the list is closed).
struct SLanguagePicked
{
    std::size_t language = 0;
};

struct SPollTimer
{
};

// WM_ACTIVATE with an active state, and the message's time.
struct SActivated
{
    std::uint32_t time = 0;
};

struct SCloseAsked // WM_CLOSE
{
};

struct SDestroyed // WM_DESTROY
{
};

// WM_APP + 1: what the request's outcome says, without its secrets.
struct SIdentityOutcome
{
    ERequest request{};
    Auth::SOutcomeNotice outcome;
};

struct SGameEnded // WM_APP + 2
{
};

struct SGameReady // WM_APP + 3
{
};

// WM_APP + 4: the poll's answer, and the message's time.
struct SServiceStatus
{
    std::uint32_t time = 0;
    Auth::SServiceStatus status;
};

// WM_APP + 5.
using SPatchReport = Patch::SPatchReport;

// WM_APP + 6, with the configuration as the identity worker now holds it.
struct SReleaseReloaded
{
    bool reloaded = false;
    std::string releaseName;
    std::string cdnUrl;
    std::string firstServiceUrl;
};

// WM_APP + 7: whether the new launcher signalled, and why not (empty when no reason is known).
struct SHandOverResult
{
    bool signalled = false;
    std::string error;
};

// Answers to effects.
struct SPatchRefused // the patcher refused Effect::SStartPatch
{
    Patch::EStartRefusal reason{};
};

struct SGameStarted // Effect::SStartGame; error empty when the client runs
{
    bool started = false;
    std::string error;
};

struct SHandOverStarted // Effect::SHandOver; error empty when the new launcher runs
{
    bool started = false;
    std::string error;
};

struct SLanguageSaved // Effect::SSaveLanguage
{
    bool saved = false;
};
}

using SEvent = std::variant<Event::SCreated, Event::SClick, Event::SEnter, Event::SLanguagePicked,
    Event::SPollTimer, Event::SActivated, Event::SCloseAsked, Event::SDestroyed, Event::SIdentityOutcome,
    Event::SGameEnded, Event::SGameReady, Event::SServiceStatus, Event::SPatchReport, Event::SReleaseReloaded,
    Event::SHandOverResult, Event::SPatchRefused, Event::SGameStarted, Event::SHandOverStarted,
    Event::SLanguageSaved>;

namespace Effect
{
struct SStartPatch // answered with Event::SPatchRefused when the patcher refuses
{
    EPatchMode mode{};
    std::string cdn;
    std::string release;
    std::uint64_t number = 0;
    bool selfUpdate = false;
};

struct SStopPatch // stops the run and joins it
{
};

struct SThrottleTransfers
{
    bool gameRunning = false;
};

// Queues an identity request without data (Resume, SignOut, Refresh, PollStatus, ReloadService).
struct SQueue
{
    ERequest request{};
};

// Reads the login and password boxes, empties the password box and queues SignIn with both.
struct SSignInFromBoxes
{
};

struct SEmptyPasswordBox
{
};

struct SStartGame // answered with Event::SGameStarted
{
};

struct SStopGame // stops and joins the game launch's threads
{
};

struct SStopIdentity // stops and joins the identity worker
{
};

struct SOpenLink
{
    std::string url;
};

// Makes the language current: relabels the controls, rebuilds the text formats, lays out.
struct SSwitchLanguage
{
    std::size_t language = 0;
};

struct SSaveLanguage // answered with Event::SLanguageSaved
{
    std::size_t language = 0;
};

// Puts the language list back to this language.
struct SSelectLanguage
{
    std::size_t language = 0;
};

struct SOpenLanguageList // remembers the focus, focuses the list and opens it
{
};

enum class EShow : std::uint8_t
{
    Show,
    Hide,
    Minimise,
};
struct SShow
{
    EShow how{};
};

struct SForeground
{
};

struct SFocus
{
    Ui::ControlId control{};
};

// The password box when the login box holds text, else the login box.
struct SFocusSignInForm
{
};

struct SSendClose // WM_CLOSE to the main window
{
};

struct SDestroyWindow
{
};

struct SStartPollTimer
{
};

struct SKillTimers
{
};

struct SPostQuit // releases the drawing resources and the font, then PostQuitMessage(0)
{
};

struct SHandOver // answered with Event::SHandOverStarted
{
    std::string launcher;
};

struct SUndoHandOver
{
};

struct SRefreshUninstallEntry
{
};
}

using SEffect = std::variant<Effect::SStartPatch, Effect::SStopPatch, Effect::SThrottleTransfers, Effect::SQueue,
    Effect::SSignInFromBoxes, Effect::SEmptyPasswordBox, Effect::SStartGame, Effect::SStopGame,
    Effect::SStopIdentity, Effect::SOpenLink, Effect::SSwitchLanguage, Effect::SSaveLanguage,
    Effect::SSelectLanguage, Effect::SOpenLanguageList, Effect::SShow, Effect::SForeground, Effect::SFocus,
    Effect::SFocusSignInForm, Effect::SSendClose, Effect::SDestroyWindow, Effect::SStartPollTimer,
    Effect::SKillTimers, Effect::SPostQuit, Effect::SHandOver, Effect::SUndoHandOver,
    Effect::SRefreshUninstallEntry>;
using Effects = std::vector<SEffect>;

// Everything the controller knows. Texts are UTF-8; texts from workers are kept only after
// control and bidirectional characters are removed.
struct SState
{
    std::size_t language = Ui::kEnglish;
    bool releaseReadable = false;
    std::string releaseError;
    std::string releaseName;
    std::string cdnUrl;
    std::string firstServiceUrl;

    bool signedIn = false;
    bool signInBusy = false; // a Resume, SignIn, SignOut or Refresh request is in flight
    std::string loginName;
    bool gameRunning = false;

    bool patchRunning = false; // a Complete, Update or Repair run
    EPatchMode patchMode = EPatchMode::Complete;
    bool replacingLauncher = false; // a new launcher was started and has not answered yet
    bool backgroundRun = false;     // a Preload run
    std::string releaseBeingPrepared;
    std::string preparedRelease;
    bool selfUpdateFailed = false;

    bool statusPollInFlight = false;
    std::uint32_t lastStatusTime = 0;
    Auth::EWorld serviceState = Auth::EWorld::Unknown;
    bool updateRequired = false;
    std::string releaseToInstall;
    std::uint64_t releaseToInstallNumber = 0;
    std::string nextRelease;
    std::uint64_t nextReleaseNumber = 0;
    std::string statusPollError;
    Net::EFailureClass statusPollErrorClass = Net::EFailureClass::Unrecognised;

    std::string statusMessage;
    Ui::StatusKind statusKind = Ui::StatusKind::Neutral;
    std::string progressText;
    float progressFraction = -1.0f;
};

class CController
{
public:
    [[nodiscard]] Effects Handle(const SEvent& event);

    [[nodiscard]] const SState& State() const noexcept { return m_state; }
    // What the window shows now.
    [[nodiscard]] Ui::SView View() const;

private:
    void On(const Event::SCreated& event);
    void On(const Event::SClick& event);
    void On(const Event::SEnter& event);
    void On(const Event::SLanguagePicked& event);
    void On(const Event::SPollTimer& event);
    void On(const Event::SActivated& event);
    void On(const Event::SCloseAsked& event);
    void On(const Event::SDestroyed& event);
    void On(const Event::SIdentityOutcome& event);
    void On(const Event::SGameEnded& event);
    void On(const Event::SGameReady& event);
    void On(const Event::SServiceStatus& event);
    void On(const Event::SPatchReport& event);
    void On(const Event::SReleaseReloaded& event);
    void On(const Event::SHandOverResult& event);
    void On(const Event::SPatchRefused& event);
    void On(const Event::SGameStarted& event);
    void On(const Event::SHandOverStarted& event);
    void On(const Event::SLanguageSaved& event);

    void SignIn(Event::SBoxes boxes);
    void SignOut();
    void Play();
    void OpenLink(Ui::ControlId control);
    void StartPoll();
    bool StartPatchRun(EPatchMode mode);
    void RequiredUpdate();
    void BackgroundPreparation();
    void SelfUpdateFailure(std::string_view error);
    void ShowOutcome(const Event::SIdentityOutcome& event);
    void SetStatus(std::string text, Ui::StatusKind kind);
    void ClearProgress();
    void Emit(SEffect effect);

    [[nodiscard]] std::string ConnectionText(const std::string& error, Net::EFailureClass failureClass) const;
    template <typename... Args>
    [[nodiscard]] std::string Say(TextId id, const Args&... args) const;

    // What a patch start changed, put back when the patcher refuses it.
    struct SStartUndo
    {
        bool background = false;
        EPatchMode patchMode{};
        std::string releaseBeingPrepared;
        std::string statusMessage;
        Ui::StatusKind statusKind{};
        std::string progressText;
        float progressFraction = -1.0f;
    };
    void RememberStart(bool background);

    SState m_state;
    Effects m_effects;
    SStartUndo m_startUndo;
};

// The text as the player may see it: invalid UTF-8, control characters (U+0000 to U+001F,
// U+007F to U+009F) and bidirectional marks, embeddings, overrides and isolates are removed.
[[nodiscard]] std::string ShownText(std::string_view text);

// Bytes as whole megabytes, rounded up.
[[nodiscard]] std::uint64_t Megabytes(std::uint64_t bytes) noexcept;
}
