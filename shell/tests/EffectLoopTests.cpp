#include "shell/EffectLoop.h"
#include "shell/Mailbox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Shell;
namespace E = Shell::Event;
namespace F = Shell::Effect;
using Ui::ControlId;

namespace
{
// A window as the loop sees it: what was carried out, in order, as short names. Destroying
// the window frees the loop and this carrier, as WM_NCDESTROY does, after WM_DESTROY's event;
// the sanitizers see any use of either afterwards.
class CWindow final : private CEffectLoop::ICarrier
{
public:
    static CWindow* Open(std::vector<std::string>& log) { return new CWindow(log); }
    CEffectLoop& Loop() { return m_loop; }

private:
    explicit CWindow(std::vector<std::string>& log) : m_log(log), m_loop(*this, Ui::SignedOutView(Ui::kEnglish, false))
    {
    }

    void Carry(const SEffect& effect) override
    {
        if (std::holds_alternative<F::SSendClose>(effect))
        {
            m_log.push_back("close");
            m_loop.Dispatch(E::SCloseAsked{});
        }
        else if (std::holds_alternative<F::SStartPatch>(effect))
        {
            m_log.push_back("start patch");
        }
        else if (std::holds_alternative<F::SPostQuit>(effect))
        {
            m_log.push_back("quit");
        }
    }
    void ShowView(const Ui::SView& view) override
    {
        m_log.push_back(view[ControlId::LoginBox].enabled ? "show, form enabled" : "show, form disabled");
    }
    void Focus(const SEffect& focus) override
    {
        m_log.push_back(std::holds_alternative<F::SFocusSignInForm>(focus) ? "focus form" : "focus control");
    }
    void DestroyWindow() override
    {
        m_log.push_back("destroy");
        m_loop.Dispatch(E::SDestroyed{});
        std::vector<std::string>& log = m_log;
        delete this;
        log.push_back("freed");
    }

    std::vector<std::string>& m_log;
    CEffectLoop m_loop;
};

E::SCreated Created()
{
    return E::SCreated{true, {}, "R", "https://cdn", "https://id", {}, {}, Ui::kEnglish};
}
}

TEST(EffectLoop, TheViewIsShownBeforeTheFocusMovesAndOnlyWhenItChanged)
{
    std::vector<std::string> log;
    CWindow* window = CWindow::Open(log);
    window->Loop().Dispatch(Created());
    log.clear();

    // Signing in disables the form; the wrong password's answer enables it again, and only
    // then does the focus go back to it.
    window->Loop().Dispatch(E::SClick{ControlId::SignIn, {true, true}});
    window->Loop().Dispatch(E::SIdentityOutcome{Auth::ERequest::SignIn, {Auth::EOutcome::Unauthorised, 0, {}, {}}});
    EXPECT_EQ(log, (std::vector<std::string>{"show, form disabled", "show, form enabled", "focus form"}));

    log.clear();
    window->Loop().Dispatch(E::SPollTimer{}); // a poll already in flight: nothing to show
    EXPECT_TRUE(log.empty());
    delete window;
}

TEST(EffectLoop, ClosingDestroysTheWindowLastAndTouchesNothingAfter)
{
    std::vector<std::string> log;
    CWindow* window = CWindow::Open(log);
    window->Loop().Dispatch(Created());
    log.clear();
    // Close nests WM_CLOSE's event; the destroy waits for the outermost dispatch, and the
    // window's end frees the loop inside it.
    window->Loop().Dispatch(E::SClick{ControlId::Close, {}});
    EXPECT_EQ(log, (std::vector<std::string>{"close", "destroy", "quit", "freed"}));

    // The same for the new launcher's signal after a hand-over.
    log.clear();
    window = CWindow::Open(log);
    window->Loop().Dispatch(Created());
    window->Loop().Dispatch(E::SServiceStatus{0, {Auth::EWorld::Up, true, std::string(64, 'a'), 2, {}, 0, {}}});
    window->Loop().Dispatch(E::SPatchReport{Patch::EPatchMode::Complete, Patch::EPatchPhase::Done});
    window->Loop().Dispatch(
        E::SPatchReport{Patch::EPatchMode::Update, Patch::EPatchPhase::LauncherReady, 0, 0, false, false, 0, {}, "new.exe"});
    window->Loop().Dispatch(E::SHandOverStarted{true, {}});
    log.clear();
    window->Loop().Dispatch(E::SHandOverResult{true});
    EXPECT_EQ(log, (std::vector<std::string>{"destroy", "quit", "freed"}));
}

TEST(Mailbox, ALetterIsTakenOnceByItsKindAndNumber)
{
    CMailbox<std::unique_ptr<std::string>> mailbox;
    const std::uint64_t first = mailbox.Put(1, std::make_unique<std::string>("outcome"));
    const std::uint64_t second = mailbox.Put(5, std::make_unique<std::string>("report"));
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);

    // Forged announcements: an unknown number, or a known number under another kind.
    EXPECT_EQ(mailbox.Take(1, second + 1), std::nullopt);
    EXPECT_EQ(mailbox.Take(5, first), std::nullopt);
    EXPECT_EQ(mailbox.Take(2, 0), std::nullopt);

    const auto report = mailbox.Take(5, second);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(**report, "report");
    EXPECT_EQ(mailbox.Take(5, second), std::nullopt);

    // Letters from several threads all arrive, each number once; what is left goes with Clear.
    std::vector<std::jthread> threads;
    for (unsigned t = 0; t < 4; ++t)
    {
        threads.emplace_back([&mailbox, t] {
            for (int i = 0; i < 100; ++i)
            {
                (void)mailbox.Put(t, std::make_unique<std::string>("x"));
            }
        });
    }
    threads.clear();
    EXPECT_EQ(mailbox.Size(), 401u);
    mailbox.Clear();
    EXPECT_EQ(mailbox.Size(), 0u);
}
