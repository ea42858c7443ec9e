#include "shell/Controller.h"
#include "vfs/Index.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

using namespace Shell;
namespace E = Shell::Event;
namespace F = Shell::Effect;
using Auth::EOutcome;
using Auth::EWorld;
using Ui::ControlId;
using Ui::StatusKind;

namespace
{
constexpr std::uint64_t kMiB = 1'048'576;
const std::string kCdn = "https://localhost:8443/cdn";
const std::string kService = "https://localhost:8444/";
const std::string kRelease(64, 'a');
const std::string kOther(64, 'b');

struct SStart
{
    bool readable = true;
    std::string cdn = kCdn;
    std::string login;
    std::string recovery;
};

CController Started(const SStart& start = {})
{
    CController controller;
    (void)controller.Handle(E::SCreated{start.readable, "Client/pack/release.quillmereindex does not read",
        "Release 7", start.cdn, kService, start.login, start.recovery, Ui::kEnglish});
    return controller;
}

// The first effect of a kind, as a copy (effects often come from a temporary list).
template <typename T>
std::optional<T> Find(const Effects& effects)
{
    for (const SEffect& effect : effects)
    {
        if (const T* found = std::get_if<T>(&effect))
        {
            return *found;
        }
    }
    return std::nullopt;
}

bool Queued(const Effects& effects, ERequest request)
{
    for (const SEffect& effect : effects)
    {
        const auto* queue = std::get_if<F::SQueue>(&effect);
        if (queue != nullptr && queue->request == request)
        {
            return true;
        }
    }
    return false;
}

E::SServiceStatus Status(bool old, std::string next = {}, std::uint32_t time = 0)
{
    return E::SServiceStatus{time, {EWorld::Up, old, old ? kRelease : std::string(), 9, std::move(next), 10, {}}};
}

E::SPatchReport Report(EPatchMode mode, EPatchPhase phase)
{
    E::SPatchReport report;
    report.mode = mode;
    report.phase = phase;
    return report;
}

std::string Shown(const CController& controller)
{
    return controller.View().statusText;
}
}

TEST(Controller, WindowCreationStartsTheCheckTheResumeAndThePoll)
{
    struct SRow
    {
        SStart start;
        bool check, resume, poll;
        std::string status;
        StatusKind kind;
    };
    const SRow rows[] = {
        {{}, true, false, true, "", StatusKind::Neutral},
        {{.login = "ann"}, true, true, true, "Signing in...", StatusKind::Neutral},
        {{.login = "ann", .recovery = "patch.journal: x"}, false, true, true,
            "The update stopped. It goes on from there next time.\npatch.journal: x", StatusKind::Error},
        {{.cdn = ""}, false, false, true, "", StatusKind::Neutral},
        {{.readable = false, .login = "ann"}, false, false, false,
            "The game's files cannot be read: Client/pack/release.quillmereindex does not read",
            StatusKind::Error},
    };
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(row.status);
        CController controller;
        const Effects effects = controller.Handle(E::SCreated{row.start.readable,
            "Client/pack/release.quillmereindex does not read", "R", row.start.cdn, kService, row.start.login,
            row.start.recovery, Ui::kEnglish});
        const auto start = Find<F::SStartPatch>(effects);
        EXPECT_EQ(start != std::nullopt, row.check);
        if (start != std::nullopt)
        {
            EXPECT_EQ(start->mode, EPatchMode::Complete);
            EXPECT_EQ(start->cdn, kCdn);
            EXPECT_TRUE(start->selfUpdate);
        }
        EXPECT_EQ(Queued(effects, ERequest::Resume), row.resume);
        EXPECT_EQ(Queued(effects, ERequest::PollStatus), row.poll);
        EXPECT_NE(Find<F::SStartPollTimer>(effects), std::nullopt);
        EXPECT_EQ(controller.State().statusMessage, row.status);
        EXPECT_EQ(controller.State().statusKind, row.kind);
        EXPECT_EQ(controller.State().signedIn, row.resume);
    }
}

// The version label names the installed release and, in a development build (which trusts
// the development root, as these tests do), says so; the status texts keep the plain name.
TEST(Controller, TheVersionLabelMarksADevelopmentBuild)
{
    const std::string mark = Vfs::IsDevelopmentBuild() ? " (development build)" : "";
    CController controller = Started();
    EXPECT_EQ(controller.View().releaseName, "Release 7" + mark);

    (void)controller.Handle(E::SReleaseReloaded{true, "Release 8", kCdn, kService});
    EXPECT_EQ(controller.View().releaseName, "Release 8" + mark);
    EXPECT_EQ(controller.View().statusText, "The game is updated to Release 8.");
}

TEST(Controller, OutcomesBecomeTheirTextsAndKinds)
{
    struct SRow
    {
        ERequest request;
        EOutcome kind;
        std::uint32_t retry;
        std::string message;
        std::string text;
        StatusKind status;
        bool signedIn;
        Net::EFailureClass failureClass = Net::EFailureClass::Unrecognised;
    };
    const SRow rows[] = {
        {ERequest::SignIn, EOutcome::Unauthorised, 0, "", "The login or the password is wrong.", StatusKind::Error, false},
        {ERequest::Refresh, EOutcome::Unauthorised, 0, "", "Your sign-in has ended. Sign in again.", StatusKind::Error,
            false},
        {ERequest::SignIn, EOutcome::LoginRules, 0, "",
            "A login is 2 to 30 letters and digits, and a password is ASCII.", StatusKind::Error, true},
        {ERequest::SignIn, EOutcome::Limited, 42, "", "Too many attempts. Try again in 42 seconds.", StatusKind::Error,
            true},
        {ERequest::Resume, EOutcome::Unreachable, 0, "https://id: no answer (WinHTTP error 12029)",
            "The servers cannot be reached.\nhttps://id: no answer (WinHTTP error 12029)", StatusKind::Connection, true},
        {ERequest::Refresh, EOutcome::Unreachable, 0, "https://id: issuer not trusted",
            "This network may be intercepting the connection. Try another network.\nhttps://id: issuer not trusted",
            StatusKind::Connection, true, Net::EFailureClass::Intercepted},
        {ERequest::Refresh, EOutcome::Unreachable, 0, "certificate not valid at this PC's date",
            "This PC's date or time may be wrong. Check it and try again.\ncertificate not valid at this PC's date",
            StatusKind::Connection, true, Net::EFailureClass::ClockWrong},
        {ERequest::Refresh, EOutcome::SignedOut, 0, "", "Sign in to play.", StatusKind::Neutral, false},
        {ERequest::SignOut, EOutcome::SignedOut, 0, "", "", StatusKind::Neutral, false},
        {ERequest::SignIn, EOutcome::Banned, 0, "2027-01-31T18:45:00Z",
            "This account is banned until 2027-01-31 18:45 UTC.", StatusKind::Error, true},
        {ERequest::SignIn, EOutcome::Banned, 0, "2027-01-31T18:4", "This account is banned.", StatusKind::Error, true},
        {ERequest::SignIn, EOutcome::Banned, 0, "\x1b\a2027-01-31T18:45\u202e:00Z",
            "This account is banned until 2027-01-31 18:45 UTC.", StatusKind::Error, true},
        {ERequest::SignIn, EOutcome::Banned, 0, "2027-01-31 \xE2\x80\xAE", "This account is banned.", StatusKind::Error,
            true},
        {ERequest::SignIn, EOutcome::Closed, 0, "", "This account has been closed.", StatusKind::Error, true},
        {ERequest::SignIn, EOutcome::Unconfirmed, 0, "",
            "This account's e-mail is not confirmed yet. Open the link in the letter we sent you.", StatusKind::Error,
            true},
        {ERequest::Refresh, EOutcome::Failed, 0, "bad\u2067 answer\r\n\xff",
            "Something went wrong: bad answer", StatusKind::Error, true},
        {ERequest::SignIn, EOutcome::SignedIn, 0, "", "", StatusKind::Neutral, true},
    };
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(row.text);
        // Signed in and busy resuming, so that each outcome shows what it changes.
        CController controller = Started({.cdn = "", .login = "ann"});
        (void)controller.Handle(E::SIdentityOutcome{row.request, {row.kind, row.retry, row.message, {}, row.failureClass}});
        EXPECT_EQ(controller.State().statusMessage, row.text);
        EXPECT_EQ(controller.State().statusKind, row.status);
        EXPECT_EQ(controller.State().signedIn, row.signedIn);
        EXPECT_FALSE(controller.State().signInBusy);
    }
}

TEST(Controller, SignInPlayAndTheGame)
{
    CController controller = Started({.cdn = ""});

    // An empty password sends nothing and asks for both fields.
    Effects effects = controller.Handle(E::SClick{ControlId::SignIn, {.login = true, .password = false}});
    EXPECT_NE(Find<F::SEmptyPasswordBox>(effects), std::nullopt);
    EXPECT_NE(Find<F::SFocusSignInForm>(effects), std::nullopt);
    EXPECT_EQ(Find<F::SSignInFromBoxes>(effects), std::nullopt);
    EXPECT_EQ(Shown(controller), "Enter your login and your password.");

    effects = controller.Handle(E::SEnter{static_cast<std::uint16_t>(ControlId::PasswordBox), {true, true}});
    EXPECT_NE(Find<F::SSignInFromBoxes>(effects), std::nullopt);
    EXPECT_FALSE(controller.View()[ControlId::SignIn].enabled);
    (void)controller.Handle(E::SIdentityOutcome{ERequest::SignIn, {EOutcome::SignedIn, 0, {}, "ann\u202e"}});
    EXPECT_EQ(controller.View()[ControlId::SignedInLine].text, "Signed in as ann");
    EXPECT_TRUE(controller.View()[ControlId::Play].enabled);

    effects = controller.Handle(E::SClick{ControlId::Play, {}});
    EXPECT_TRUE(Queued(effects, ERequest::Refresh));
    EXPECT_EQ(Shown(controller), "Checking your sign-in...");
    EXPECT_TRUE(controller.Handle(E::SClick{ControlId::Play, {}}).empty()); // one Refresh at a time

    // A refresh that cannot reach the service keeps the sign-in and starts no game.
    effects = controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::Unreachable, 0, "x", {}}});
    EXPECT_EQ(Find<F::SStartGame>(effects), std::nullopt);
    EXPECT_TRUE(controller.State().signedIn);

    (void)controller.Handle(E::SClick{ControlId::Play, {}});
    effects = controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::SignedIn, 0, {}, {}}});
    ASSERT_NE(Find<F::SStartGame>(effects), std::nullopt);
    effects = controller.Handle(E::SGameStarted{false, "Client/QuillmereClient.exe did not start (error 2)"});
    EXPECT_EQ(Shown(controller), "The game did not start: Client/QuillmereClient.exe did not start (error 2)");
    EXPECT_EQ(Find<F::SThrottleTransfers>(effects), std::nullopt);

    (void)controller.Handle(E::SClick{ControlId::Play, {}});
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::SignedIn, 0, {}, {}}});
    effects = controller.Handle(E::SGameStarted{true, {}});
    ASSERT_NE(Find<F::SThrottleTransfers>(effects), std::nullopt);
    EXPECT_TRUE(Find<F::SThrottleTransfers>(effects)->gameRunning);
    EXPECT_EQ(Shown(controller), "The game is opening...");
    EXPECT_FALSE(controller.View()[ControlId::LanguageList].enabled);
    EXPECT_FALSE(controller.View()[ControlId::Repair].enabled);

    effects = controller.Handle(E::SGameReady{});
    EXPECT_EQ(Shown(controller), "The game is running.");
    ASSERT_NE(Find<F::SShow>(effects), std::nullopt);
    EXPECT_EQ(Find<F::SShow>(effects)->how, F::EShow::Hide);
    effects = controller.Handle(E::SCloseAsked{});
    EXPECT_EQ(Find<F::SDestroyWindow>(effects), std::nullopt); // closing while playing only hides

    // A one-time code asked for during a sign-out leaves the sign-out in flight.
    (void)controller.Handle(E::SGameEnded{});
    (void)controller.Handle(E::SClick{ControlId::SignOut, {}});
    (void)controller.Handle(E::SIdentityOutcome{ERequest::GameExchange, {EOutcome::SignedIn, 0, {}, {}}});
    EXPECT_TRUE(controller.State().signInBusy);
    (void)controller.Handle(E::SIdentityOutcome{ERequest::SignOut, {EOutcome::SignedOut, 0, {}, {}}});
    EXPECT_FALSE(controller.State().signedIn);
    EXPECT_NE(Find<F::SDestroyWindow>(controller.Handle(E::SCloseAsked{})), std::nullopt);
}

TEST(Controller, GameEndBringsTheWindowBackAndPolls)
{
    CController controller = Started({.cdn = "", .login = "ann"});
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Resume, {EOutcome::SignedIn, 0, {}, {}}});
    (void)controller.Handle(Status(false));
    (void)controller.Handle(E::SClick{ControlId::Play, {}});
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::SignedIn, 0, {}, {}}});
    (void)controller.Handle(E::SGameStarted{true, {}});
    const Effects effects = controller.Handle(E::SGameEnded{});
    ASSERT_NE(Find<F::SThrottleTransfers>(effects), std::nullopt);
    EXPECT_FALSE(Find<F::SThrottleTransfers>(effects)->gameRunning);
    EXPECT_TRUE(Queued(effects, ERequest::PollStatus));
    ASSERT_NE(Find<F::SShow>(effects), std::nullopt);
    EXPECT_EQ(Find<F::SShow>(effects)->how, F::EShow::Show);
    EXPECT_NE(Find<F::SForeground>(effects), std::nullopt);
    ASSERT_NE(Find<F::SFocus>(effects), std::nullopt);
    EXPECT_EQ(Find<F::SFocus>(effects)->control, ControlId::Play);
}

// The title buttons and the closed language list answer with what the window does.
TEST(Controller, TitleButtonsAndTheLanguageListAreAnsweredWithWhatTheWindowDoes)
{
    CController controller = Started();
    const auto minimise = Find<F::SShow>(controller.Handle(E::SClick{ControlId::Minimise, {}}));
    ASSERT_NE(minimise, std::nullopt);
    EXPECT_EQ(minimise->how, F::EShow::Minimise);
    EXPECT_NE(Find<F::SSendClose>(controller.Handle(E::SClick{ControlId::Close, {}})), std::nullopt);
    EXPECT_NE(Find<F::SOpenLanguageList>(controller.Handle(E::SClick{ControlId::LanguageList, {}})), std::nullopt);
}

TEST(Controller, EnterActsByTheFocusedControl)
{
    struct SRow
    {
        bool signedIn;
        ControlId focused;
        std::string link; // expected link, else:
        bool repair;
        bool signIn;
        std::optional<ERequest> queued;
    };
    const SRow rows[] = {
        {false, ControlId::CreateAccount, "https://localhost:8444/en/#register", false, false, std::nullopt},
        {true, ControlId::ForgotPassword, "https://localhost:8444/en/#forgot", false, false, std::nullopt},
        {false, ControlId::Website, "https://www.quillmere.com/en/", false, false, std::nullopt},
        {true, ControlId::Repair, "", true, false, {}},
        {false, ControlId::PasswordBox, "", false, true, {}},
        {false, ControlId::SignOut, "", false, true, {}},
        {true, ControlId::SignOut, "", false, false, ERequest::SignOut},
        {true, ControlId::Play, "", false, false, ERequest::Refresh},
        {true, ControlId::LoginBox, "", false, false, ERequest::Refresh},
    };
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(static_cast<int>(row.focused));
        CController controller = Started({.login = row.signedIn ? "ann" : ""});
        (void)controller.Handle(Report(EPatchMode::Complete, EPatchPhase::Done));
        if (row.signedIn)
        {
            (void)controller.Handle(E::SIdentityOutcome{ERequest::Resume, {EOutcome::SignedIn, 0, {}, {}}});
        }
        const Effects effects =
            controller.Handle(E::SEnter{static_cast<std::uint16_t>(row.focused), {.login = true, .password = true}});
        const auto link = Find<F::SOpenLink>(effects);
        EXPECT_EQ(link != std::nullopt ? link->url : "", row.link);
        const auto start = Find<F::SStartPatch>(effects);
        EXPECT_EQ(start != std::nullopt && start->mode == EPatchMode::Repair, row.repair);
        EXPECT_EQ(Find<F::SSignInFromBoxes>(effects) != std::nullopt, row.signIn);
        const bool anyQueued = Find<F::SQueue>(effects) != std::nullopt;
        EXPECT_EQ(anyQueued, row.queued.has_value());
        if (anyQueued && row.queued)
        {
            EXPECT_TRUE(Queued(effects, *row.queued));
        }
    }
}

TEST(Controller, LanguageSnapsBackWhileSigningInOrPlaying)
{
    struct SRow
    {
        bool signingIn, playing;
        std::size_t pick;
        bool switched, snapped;
    };
    const SRow rows[] = {
        {false, false, 2, true, false},
        {false, false, Ui::kEnglish, false, false},
        {false, false, Ui::kLanguageCount, false, false},
        {true, false, 2, false, true},
        {false, true, 2, false, true},
    };
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(row.pick);
        CController controller = Started({.cdn = "", .login = row.playing ? "ann" : ""});
        if (row.playing)
        {
            (void)controller.Handle(E::SIdentityOutcome{ERequest::Resume, {EOutcome::SignedIn, 0, {}, {}}});
            (void)controller.Handle(E::SClick{ControlId::Play, {}});
            (void)controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::SignedIn, 0, {}, {}}});
            (void)controller.Handle(E::SGameStarted{true, {}});
        }
        if (row.signingIn)
        {
            (void)controller.Handle(E::SClick{ControlId::SignIn, {true, true}});
        }
        const Effects effects = controller.Handle(E::SLanguagePicked{row.pick});
        EXPECT_EQ(Find<F::SSwitchLanguage>(effects) != std::nullopt, row.switched);
        EXPECT_EQ(Find<F::SSaveLanguage>(effects) != std::nullopt, row.switched);
        const auto snapped = Find<F::SSelectLanguage>(effects);
        EXPECT_EQ(snapped != std::nullopt, row.snapped);
        if (snapped != std::nullopt)
        {
            EXPECT_EQ(snapped->language, Ui::kEnglish);
        }
    }

    // The new language words the texts; a failed save says so and keeps the language.
    CController unreadable = Started({.readable = false});
    (void)unreadable.Handle(E::SLanguagePicked{2});
    EXPECT_EQ(Shown(unreadable), fmt::format(fmt::runtime(Ui::TextIn(2, TextId::FilesUnreadable)),
                                     "Client/pack/release.quillmereindex does not read"));
    (void)unreadable.Handle(E::SLanguageSaved{false});
    EXPECT_EQ(Shown(unreadable), Ui::TextIn(2, TextId::LanguageNotSaved));
    EXPECT_EQ(unreadable.State().language, 2u);
}

TEST(Controller, StatusLineComposition)
{
    struct SRow
    {
        EWorld world;
        bool old;
        std::string error;
        std::string text;
        StatusKind kind;
        Net::EFailureClass errorClass = Net::EFailureClass::Unrecognised;
    };
    const SRow rows[] = {
        {EWorld::Up, false, "", "Servers online", StatusKind::Good},
        {EWorld::Down, false, "", "Servers offline", StatusKind::Attention},
        {EWorld::Unknown, false, "", "", StatusKind::Neutral},
        {EWorld::Unreachable, false, "https://id/: no answer (WinHTTP error 12029)",
            "The servers cannot be reached.\nhttps://id/: no answer (WinHTTP error 12029)", StatusKind::Connection},
        {EWorld::Unreachable, false, "https://id/: certificate for another name",
            "This network may be intercepting the connection. Try another network.\nhttps://id/: certificate for "
            "another name",
            StatusKind::Connection, Net::EFailureClass::Intercepted},
        {EWorld::Unreachable, false, "https://id/: certificate not valid at this PC's date",
            "This PC's date or time may be wrong. Check it and try again.\nhttps://id/: certificate not valid at "
            "this PC's date",
            StatusKind::Connection, Net::EFailureClass::ClockWrong},
        {EWorld::Up, true, "", "A new version of the game is out. Get it to play.", StatusKind::Attention},
    };
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(row.text);
        CController controller = Started({.cdn = ""});
        (void)controller.Handle(E::SServiceStatus{0, {row.world, row.old, kRelease, 9, {}, 0, row.error, row.errorClass}});
        EXPECT_EQ(controller.View().statusText, row.text);
        EXPECT_EQ(controller.View().statusKind, row.kind);
        EXPECT_EQ(controller.View().progressFraction, -1.0f);
    }

    // A message outranks the progress; the progress outranks the service's state.
    CController controller = Started();
    (void)controller.Handle(Status(false));
    (void)controller.Handle(E::SPatchReport{EPatchMode::Complete, EPatchPhase::Checking, 50, 200, false, false, 0, {}, {}});
    EXPECT_EQ(controller.View().statusText, "Checking the game's files: 25%");
    EXPECT_EQ(controller.View().progressFraction, 0.25f);
    (void)controller.Handle(E::SLanguageSaved{false});
    EXPECT_EQ(controller.View().statusText, "The language could not be saved.");
    EXPECT_EQ(controller.View().progressFraction, -1.0f);
}

TEST(Controller, PatchReportsBecomeProgressAndEndTexts)
{
    struct SRow
    {
        E::SPatchReport report;
        std::string text;
        float fraction;
        StatusKind kind;
    };
    using enum EPatchMode;
    using enum EPatchPhase;
    const SRow rows[] = {
        {{Complete, Checking, 50, 200}, "Checking the game's files: 25%", 0.25f, StatusKind::Neutral},
        {{Repair, Checking, 0, 0}, "", -1.0f, StatusKind::Neutral},
        {{Repair, Transferring, 1, kMiB + 1}, "Repairing the game's files: 1 of 2 MB", 1.0f / (kMiB + 1),
            StatusKind::Neutral},
        {{Complete, Transferring, kMiB, 4 * kMiB}, "Repairing the game's files: 1 of 4 MB", 0.25f, StatusKind::Neutral},
        {{Complete, Transferring, 0, 5 * kMiB, false, true}, "Installing the game: 0 of 5 MB", 0.0f, StatusKind::Neutral},
        {{Update, Transferring, 0, 0}, "Updating the game: 0 of 0 MB", 0.0f, StatusKind::Neutral},
        {{Repair, Done, 0, 0, false}, "Every file of the game is whole.", -1.0f, StatusKind::Neutral},
        {{Repair, Done, 9, 0, true}, "The game's damaged files are repaired.", -1.0f, StatusKind::Neutral},
        {{Complete, Done, 9, 0, true}, "The game's damaged files are repaired.", -1.0f, StatusKind::Neutral},
        {{Complete, Done, 9, 0, true, true}, "", -1.0f, StatusKind::Neutral},
        {{Complete, Done, 0, 0, false}, "", -1.0f, StatusKind::Neutral},
        {{Repair, Stopped, 0, 0, false, false, 1}, "Not enough free space: 1 MB more is needed.", -1.0f,
            StatusKind::Error},
        {{Complete, Stopped, 0, 0, false, false, 0, "x.part could not be flushed"},
            "The repair stopped. Press Repair to go on.\nx.part could not be flushed", -1.0f, StatusKind::Error},
        {{Update, Stopped, 0, 0, false, false, 0, "the new index: bad\u202e"},
            "The update stopped. It goes on from there next time.\nthe new index: bad", -1.0f, StatusKind::Error},
        {{Update, Stopped, 0, 0, false, false, std::numeric_limits<std::uint64_t>::max()},
            "Not enough free space: 17592186044416 MB more is needed.", -1.0f, StatusKind::Error},
    };
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(row.text);
        CController controller = Started({.cdn = kCdn});
        (void)controller.Handle(row.report);
        EXPECT_EQ(controller.View().statusText, row.text);
        EXPECT_FLOAT_EQ(controller.View().progressFraction, row.fraction);
        EXPECT_EQ(controller.View().statusKind, row.kind);
        EXPECT_EQ(controller.State().patchRunning, row.report.phase < Done);
        EXPECT_EQ(controller.View()[ControlId::Repair].enabled, row.report.phase >= Done);
    }
}

TEST(Controller, RequiredUpdateAndBackgroundPreparation)
{
    // Required while the start-up check runs: the update follows the check.
    CController controller = Started();
    EXPECT_EQ(Find<F::SStartPatch>(controller.Handle(Status(true))), std::nullopt);
    EXPECT_EQ(Shown(controller), ""); // the check's progress, not yet reported
    Effects effects = controller.Handle(Report(EPatchMode::Complete, EPatchPhase::Done));
    const auto update = Find<F::SStartPatch>(effects);
    ASSERT_NE(update, std::nullopt);
    EXPECT_EQ(update->mode, EPatchMode::Update);
    EXPECT_EQ(update->release, kRelease);
    EXPECT_EQ(update->number, 9u);
    EXPECT_TRUE(update->selfUpdate);
    EXPECT_FALSE(controller.View()[ControlId::Play].enabled);

    // Its end reloads the release and does not run the same update again.
    effects = controller.Handle(Report(EPatchMode::Update, EPatchPhase::Done));
    EXPECT_TRUE(Queued(effects, ERequest::ReloadService));
    EXPECT_EQ(Find<F::SStartPatch>(effects), std::nullopt);
    effects = controller.Handle(E::SReleaseReloaded{true, "Release 8", kCdn, kService});
    EXPECT_EQ(Shown(controller), "The game is updated to Release 8.");
    EXPECT_NE(Find<F::SRefreshUninstallEntry>(effects), std::nullopt);
    EXPECT_EQ(controller.State().releaseName, "Release 8");
    EXPECT_TRUE(Queued(effects, ERequest::PollStatus));

    // Announced next release: prepared once in the background.
    effects = controller.Handle(Status(false, kOther));
    const auto preload = Find<F::SStartPatch>(effects);
    ASSERT_NE(preload, std::nullopt);
    EXPECT_EQ(preload->mode, EPatchMode::Preload);
    EXPECT_EQ(preload->release, kOther);
    EXPECT_EQ(preload->number, 10u);
    EXPECT_FALSE(preload->selfUpdate);
    EXPECT_FALSE(controller.View()[ControlId::Repair].enabled);
    (void)controller.Handle(E::SPatchReport{EPatchMode::Preload, EPatchPhase::Transferring, kMiB, 2 * kMiB,
        false, false, 0, {}, {}});
    EXPECT_EQ(controller.State().progressText, "Getting the next update ready: 1 of 2 MB");
    (void)controller.Handle(Report(EPatchMode::Preload, EPatchPhase::Done));
    EXPECT_EQ(controller.State().preparedRelease, kOther);
    EXPECT_EQ(Find<F::SStartPatch>(controller.Handle(Status(false, kOther))), std::nullopt);

    // A background run for another release is stopped for the required update.
    (void)controller.Handle(Status(false, kRelease + "x"));
    ASSERT_TRUE(controller.State().backgroundRun);
    effects = controller.Handle(Status(true));
    ASSERT_EQ(effects.size() >= 2, true);
    const auto stop = std::find_if(effects.begin(), effects.end(),
        [](const SEffect& e) { return std::holds_alternative<F::SStopPatch>(e); });
    ASSERT_NE(stop, effects.end());
    const auto started = Find<F::SStartPatch>(effects);
    ASSERT_NE(started, std::nullopt);
    EXPECT_EQ(started->mode, EPatchMode::Update);
    EXPECT_FALSE(controller.State().backgroundRun);
    // The stopped run's last report changes nothing.
    (void)controller.Handle(Report(EPatchMode::Preload, EPatchPhase::Done));
    EXPECT_EQ(controller.State().preparedRelease, kOther);

    // A refused start changes nothing.
    (void)controller.Handle(E::SPatchRefused{Patch::EStartRefusal::LauncherPending});
    EXPECT_FALSE(controller.State().patchRunning);
    EXPECT_EQ(controller.State().statusMessage, "The game is updated to Release 8.");
}

TEST(Controller, NoGameWhileARequiredUpdateRunsAndARefusedStartUndoesOnlyItself)
{
    // The check before PLAY ends after a status answer that started the required update.
    CController controller = Started({.login = "ann"});
    (void)controller.Handle(Report(EPatchMode::Complete, EPatchPhase::Done));
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Resume, {EOutcome::SignedIn, 0, {}, {}}});
    ASSERT_TRUE(Queued(controller.Handle(E::SClick{ControlId::Play, {}}), ERequest::Refresh));
    ASSERT_NE(Find<F::SStartPatch>(controller.Handle(Status(true))), std::nullopt);
    Effects effects = controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::SignedIn, 0, {}, {}}});
    EXPECT_EQ(Find<F::SStartGame>(effects), std::nullopt);
    EXPECT_FALSE(controller.State().signInBusy);
    EXPECT_FALSE(controller.View()[ControlId::Play].enabled);

    // A start refused at window creation leaves the resumed sign-in and the poll in flight.
    controller = CController();
    effects = controller.Handle(E::SCreated{true, {}, "R", kCdn, kService, "ann", {}, Ui::kEnglish});
    ASSERT_NE(Find<F::SStartPatch>(effects), std::nullopt);
    (void)controller.Handle(E::SPatchRefused{Patch::EStartRefusal::NoThread});
    EXPECT_FALSE(controller.State().patchRunning);
    EXPECT_TRUE(controller.State().signInBusy);
    EXPECT_TRUE(controller.State().statusPollInFlight);
    EXPECT_EQ(Shown(controller), "Signing in...");

    // A refused background run: nothing is being prepared, and the next answer tries again.
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Resume, {EOutcome::SignedIn, 0, {}, {}}});
    ASSERT_NE(Find<F::SStartPatch>(controller.Handle(Status(false, kOther))), std::nullopt);
    (void)controller.Handle(E::SPatchRefused{Patch::EStartRefusal::Running});
    EXPECT_FALSE(controller.State().backgroundRun);
    EXPECT_EQ(controller.State().releaseBeingPrepared, "");
    EXPECT_TRUE(controller.View()[ControlId::Play].enabled);
    EXPECT_NE(Find<F::SStartPatch>(controller.Handle(Status(false, kOther))), std::nullopt);
}

TEST(Controller, RequiredUpdateWhilePlayingIsPreparedAndWaitedFor)
{
    CController controller = Started({.login = "ann"});
    (void)controller.Handle(Report(EPatchMode::Complete, EPatchPhase::Done));
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Resume, {EOutcome::SignedIn, 0, {}, {}}});
    (void)controller.Handle(E::SClick{ControlId::Play, {}});
    (void)controller.Handle(E::SIdentityOutcome{ERequest::Refresh, {EOutcome::SignedIn, 0, {}, {}}});
    (void)controller.Handle(E::SGameStarted{true, {}});

    const auto preload = Find<F::SStartPatch>(controller.Handle(Status(true)));
    ASSERT_NE(preload, std::nullopt);
    EXPECT_EQ(preload->mode, EPatchMode::Preload);
    EXPECT_EQ(preload->release, kRelease);

    (void)controller.Handle(E::SGameEnded{});
    const Effects waiting = controller.Handle(Status(true));
    EXPECT_EQ(Find<F::SStopPatch>(waiting), std::nullopt);
    EXPECT_EQ(Find<F::SStartPatch>(waiting), std::nullopt);
    EXPECT_EQ(Shown(controller), "A new version of the game is out. Get it to play.");

    const auto update = Find<F::SStartPatch>(controller.Handle(Report(EPatchMode::Preload, EPatchPhase::Done)));
    ASSERT_NE(update, std::nullopt);
    EXPECT_EQ(update->mode, EPatchMode::Update);
}

TEST(Controller, LauncherReplacement)
{
    const auto updating = [] {
        CController controller = Started();
        (void)controller.Handle(Status(true));
        (void)controller.Handle(Report(EPatchMode::Complete, EPatchPhase::Done));
        E::SPatchReport ready = Report(EPatchMode::Update, EPatchPhase::LauncherReady);
        ready.launcher = "Client/pack/incoming/f_00.part";
        const auto handOver = Find<F::SHandOver>(controller.Handle(ready));
        EXPECT_NE(handOver, std::nullopt);
        EXPECT_EQ(handOver != std::nullopt ? handOver->launcher : "", ready.launcher);
        return controller;
    };
    const auto retriesWithoutTheLauncher = [](const Effects& effects) {
        const auto start = Find<F::SStartPatch>(effects);
        return start != std::nullopt && start->mode == EPatchMode::Update && !start->selfUpdate;
    };

    // The new launcher is up: this one ends.
    CController controller = updating();
    (void)controller.Handle(E::SHandOverStarted{true, {}});
    EXPECT_TRUE(controller.State().patchRunning);
    EXPECT_NE(Find<F::SDestroyWindow>(controller.Handle(E::SHandOverResult{true})), std::nullopt);

    // It never signalled: put back, told, and the update runs again without the launcher.
    controller = updating();
    (void)controller.Handle(E::SHandOverStarted{true, {}});
    Effects effects = controller.Handle(E::SHandOverResult{false});
    EXPECT_NE(Find<F::SUndoHandOver>(effects), std::nullopt);
    EXPECT_TRUE(retriesWithoutTheLauncher(effects));
    EXPECT_EQ(controller.State().statusMessage,
        "The update stopped. It goes on from there next time.\nthe new launcher did not start");
    EXPECT_TRUE(controller.Handle(E::SHandOverResult{false}).empty()); // answered once

    // The swap failed on the hand-over's own thread: its reason is shown.
    controller = updating();
    (void)controller.Handle(E::SHandOverStarted{true, {}});
    effects = controller.Handle(E::SHandOverResult{false, "the new launcher could not take its place (Windows error 5)"});
    EXPECT_NE(Find<F::SUndoHandOver>(effects), std::nullopt);
    EXPECT_EQ(controller.State().statusMessage, "The update stopped. It goes on from there next time.\nthe new "
                                                "launcher could not take its place (Windows error 5)");

    // It could not be started at all.
    controller = updating();
    effects = controller.Handle(E::SHandOverStarted{false, "this launcher's file could not be set aside (Windows error 5)"});
    EXPECT_EQ(Find<F::SUndoHandOver>(effects), std::nullopt);
    EXPECT_TRUE(retriesWithoutTheLauncher(effects));
    EXPECT_EQ(controller.State().statusMessage, "The update stopped. It goes on from there next time.\nthis "
                                                "launcher's file could not be set aside (Windows error 5)");
}

TEST(Controller, StatusPollTiming)
{
    CController controller = Started({.cdn = ""});
    EXPECT_TRUE(controller.State().statusPollInFlight);
    EXPECT_TRUE(controller.Handle(E::SPollTimer{}).empty()); // never two at once
    (void)controller.Handle(Status(false, {}, 0xFFFF'F000));

    struct SRow
    {
        std::uint32_t time;
        bool polls;
    };
    const SRow activations[] = {
        {0xFFFF'F000 + 60'000, false},
        {0xFFFF'F000 + 60'001, true}, // across the wrap of the message time
        {0xFFFF'F000 + 90'000, false}, // the first is still in flight
    };
    for (const SRow& row : activations)
    {
        EXPECT_EQ(Queued(controller.Handle(E::SActivated{row.time}), ERequest::PollStatus), row.polls) << row.time;
    }
    (void)controller.Handle(Status(false, {}, 5));
    EXPECT_TRUE(Queued(controller.Handle(E::SPollTimer{}), ERequest::PollStatus));
    // A reload starts a poll even with one in flight.
    EXPECT_TRUE(Queued(controller.Handle(E::SReleaseReloaded{false, "R", "", kService}), ERequest::PollStatus));

    CController unreadable = Started({.readable = false});
    EXPECT_FALSE(unreadable.State().statusPollInFlight);
    EXPECT_TRUE(unreadable.Handle(E::SPollTimer{}).empty());
}

TEST(Controller, DestroyStopsEveryWorkerBeforeQuitting)
{
    CController controller = Started();
    const Effects effects = controller.Handle(E::SDestroyed{});
    ASSERT_EQ(effects.size(), 5u);
    EXPECT_TRUE(std::holds_alternative<F::SKillTimers>(effects[0]));
    EXPECT_TRUE(std::holds_alternative<F::SStopPatch>(effects[1]));
    EXPECT_TRUE(std::holds_alternative<F::SStopGame>(effects[2]));
    EXPECT_TRUE(std::holds_alternative<F::SStopIdentity>(effects[3]));
    EXPECT_TRUE(std::holds_alternative<F::SPostQuit>(effects[4]));
}

TEST(Controller, ShownTextAndMegabytes)
{
    EXPECT_EQ(ShownText("a\tb\x7f" "c\xc2\x85" "d\u200e\u200f\u061c\u202a\u202e\u2066\u2069e"), "abcde");
    EXPECT_EQ(ShownText("Čeština \xf0\x9f\x8e\xae"), "Čeština \xf0\x9f\x8e\xae");
    EXPECT_EQ(ShownText("\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80z\xe2\x82"), "z"); // overlong, surrogate, too large, cut

    EXPECT_EQ(Megabytes(0), 0u);
    EXPECT_EQ(Megabytes(1), 1u);
    EXPECT_EQ(Megabytes(1'048'576), 1u);
    EXPECT_EQ(Megabytes(1'048'577), 2u);
    EXPECT_EQ(Megabytes(std::numeric_limits<std::uint64_t>::max()), std::uint64_t{1} << 44);
}
