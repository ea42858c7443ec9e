// The sign-in protocol over HTTPS against the reference identity service
// (tools/identity-service), which a ctest fixture starts on loopback. Its switches make it
// misbehave on purpose; every test sets the ones it needs.
#include "auth/Json.h"
#include "auth/SignIn.h"
#include "auth/tests/IdentityService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

using Auth::EOutcome;

namespace
{
using IdentityService::Control;
using IdentityService::Count;
using IdentityService::Switch;
using IdentityService::Text;

class SignInService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = IdentityService::BaseUrl();
        if (m_base.empty())
        {
            GTEST_SKIP() << "the identity service is not running (start it with the test fixture)";
        }
        m_urls = {m_base};
        Switch("{}");
    }
    void TearDown() override
    {
        if (!m_base.empty())
        {
            Switch("{}");
        }
    }

    Auth::SLoginOutcome SignIn(std::string_view login = "Rowan",
                               std::string_view password = "correct horse battery staple")
    {
        return Auth::Login(m_urls, login, password);
    }

    std::string m_base;
    std::vector<std::string> m_urls;
};

const std::array<std::uint8_t, 32> kZero{};
}

TEST_F(SignInService, RealSignInAndWrongPassword)
{
    const auto before = Count("/v1/login/finish");
    const auto outcome = SignIn("rowan"); // the service spells the login its own way
    ASSERT_EQ(outcome.kind, EOutcome::SignedIn) << outcome.message;
    EXPECT_EQ(outcome.login, "Rowan");
    EXPECT_NE(outcome.refresh, kZero);
    EXPECT_EQ(outcome.code, kZero);

    // The second step's body, byte for byte, as the service received it.
    const auto finish = Control("GET", "/control/last?path=/v1/login/finish");
    EXPECT_EQ(finish.rfind(R"({"login":"rowan","state":")", 0), 0u) << finish;
    EXPECT_EQ(finish.find(R"(","ke3":")"), finish.size() - 2 - 86 - 9) << finish;

    EXPECT_EQ(SignIn("Rowan", "correct horse battery stapler").kind, EOutcome::Unauthorised);
    EXPECT_EQ(SignIn("Nobody", "correct horse battery staple").kind, EOutcome::Unauthorised);
    // A wrong password is found by the client itself: the second step is never called.
    EXPECT_EQ(Count("/v1/login/finish"), before + 1);
}

TEST_F(SignInService, AccountStates)
{
    const auto banned = SignIn("Bramble", "banned-pw");
    EXPECT_EQ(banned.kind, EOutcome::Banned);
    EXPECT_EQ(banned.message, "2031-04-05T06:07:08Z");
    const auto bannedForever = SignIn("Hazel", "banned-pw");
    EXPECT_EQ(bannedForever.kind, EOutcome::Banned);
    EXPECT_EQ(bannedForever.message, "");
    EXPECT_EQ(SignIn("Elder", "closed-pw").kind, EOutcome::Closed);
    EXPECT_EQ(SignIn("Willow", "unconfirmed-pw").kind, EOutcome::Unconfirmed);
}

TEST_F(SignInService, ErrorAnswers)
{
    struct SCase
    {
        std::string_view switches;
        EOutcome kind;
        std::string_view message;
        std::uint32_t retry = 0;
    };
    const SCase cases[] = {
        {R"({"fail":{"status":401}})", EOutcome::Unauthorised, ""},
        {R"({"limited":30})", EOutcome::Limited, "", 30},
        {R"({"fail":{"status":429,"error":"limited"}})", EOutcome::Limited, "", 0},
        {R"({"fail":{"status":400,"error":"login"}})", EOutcome::LoginRules, ""},
        {R"({"fail":{"status":403,"error":"banned","until":"2030-01-02T03:04:05Z"}})", EOutcome::Banned,
         "2030-01-02T03:04:05Z"},
        {R"({"fail":{"status":403,"error":"closed"}})", EOutcome::Closed, ""},
        {R"({"fail":{"status":403,"error":"unconfirmed"}})", EOutcome::Unconfirmed, ""},
        {R"({"fail":{"status":500,"body":""}})", EOutcome::Failed, "HTTP 500 "},
        {R"({"fail":{"status":503,"error":"maintenance"}})", EOutcome::Failed, "HTTP 503 maintenance"},
    };
    for (const auto& c : cases)
    {
        Switch(c.switches);
        const auto outcome = SignIn();
        EXPECT_EQ(outcome.kind, c.kind) << c.switches;
        EXPECT_EQ(outcome.message, c.message) << c.switches;
        EXPECT_EQ(outcome.retrySeconds, c.retry) << c.switches;
        const auto refreshed = Auth::Refresh(m_urls, kZero);
        EXPECT_EQ(refreshed.kind, c.kind) << c.switches;
        EXPECT_EQ(refreshed.message, c.message) << c.switches;
    }
}

TEST_F(SignInService, ProofsOfWorkArePaidUpToThree)
{
    Switch(R"({"work":{"bits":10,"times":3}})");
    const auto before = Count("/v1/login/start");
    const auto paid = SignIn();
    EXPECT_EQ(paid.kind, EOutcome::SignedIn) << paid.message;
    EXPECT_EQ(Count("/v1/login/start"), before + 4);
    const auto last = Control("GET", "/control/last?path=/v1/login/start");
    EXPECT_NE(last.find(R"(,"pow":{"nonce":")"), std::string::npos) << last;
    EXPECT_EQ(last.find("pow", last.find("pow") + 1), std::string::npos) << last; // the latest proof only

    Switch(R"({"work":{"bits":10,"times":4}})");
    const auto refused = SignIn();
    EXPECT_EQ(refused.kind, EOutcome::Failed);
    EXPECT_EQ(refused.message, "a proof of work the client does not give");
    EXPECT_EQ(Count("/v1/login/start"), before + 8);
}

TEST_F(SignInService, FailoverStopsAtTheFirstAnswer)
{
    // Port 1 refuses connections; so does a port that was just free.
    const std::string closed[] = {"https://localhost:1", "https://localhost:2"};
    m_urls = {closed[0], closed[1], m_base};
    const auto outcome = SignIn();
    EXPECT_EQ(outcome.kind, EOutcome::SignedIn) << outcome.message;

    Switch(R"({"fail":{"status":503}})");
    m_urls = {closed[0], m_base, m_base};
    const auto before = Count("/v1/login/start");
    EXPECT_EQ(SignIn().message, "HTTP 503 ");
    EXPECT_EQ(Count("/v1/login/start"), before + 1);

    m_urls = {closed[0], closed[1]};
    const auto unreachable = SignIn();
    EXPECT_EQ(unreachable.kind, EOutcome::Unreachable);
    EXPECT_EQ(unreachable.message.rfind(closed[1] + ": no answer (WinHTTP error ", 0), 0u) << unreachable.message;

    // A transport failure in the second step is final.
    Switch(R"({"drop":true,"paths":["/v1/login/finish"]})");
    m_urls = {m_base, m_base};
    const auto dropped = SignIn();
    EXPECT_EQ(dropped.kind, EOutcome::Failed);
    EXPECT_EQ(dropped.message.rfind("no answer (WinHTTP error ", 0), 0u) << dropped.message;
    EXPECT_EQ(Count("/v1/login/start"), before + 2);
}

TEST_F(SignInService, SlowAndDroppedAnswersAreUnreachable)
{
    Switch(R"({"slow":6000,"paths":["/v1/refresh"]})");
    const auto slow = Auth::Refresh(m_urls, kZero);
    EXPECT_EQ(slow.kind, EOutcome::Unreachable);
    EXPECT_EQ(slow.message.rfind(m_base + ": no answer (WinHTTP error ", 0), 0u) << slow.message;

    Switch(R"({"drop":true})");
    EXPECT_EQ(SignIn().kind, EOutcome::Unreachable);
}

TEST_F(SignInService, SuiteTheClientDoesNotSpeak)
{
    Switch(R"({"suite":2})");
    const auto outcome = SignIn();
    EXPECT_EQ(outcome.kind, EOutcome::Failed);
    EXPECT_EQ(outcome.message, "the suite's second step");
}

TEST_F(SignInService, TokensRotate)
{
    const auto signedIn = SignIn();
    ASSERT_EQ(signedIn.kind, EOutcome::SignedIn) << signedIn.message;

    const auto refreshed = Auth::Refresh(m_urls, signedIn.refresh);
    ASSERT_EQ(refreshed.kind, EOutcome::SignedIn) << refreshed.message;
    EXPECT_EQ(refreshed.login, "Rowan");
    EXPECT_NE(refreshed.refresh, signedIn.refresh);
    EXPECT_EQ(Auth::Refresh(m_urls, signedIn.refresh).kind, EOutcome::Unauthorised); // used once

    const auto exchanged = Auth::NewExchange(m_urls, refreshed.refresh);
    ASSERT_EQ(exchanged.kind, EOutcome::SignedIn) << exchanged.message;
    EXPECT_NE(exchanged.refresh, refreshed.refresh);
    EXPECT_NE(exchanged.code, kZero);
    EXPECT_EQ(exchanged.login, "");
    EXPECT_EQ(Auth::NewExchange(m_urls, refreshed.refresh).kind, EOutcome::Unauthorised);

    // The game's servers take the one-time code once.
    const std::string redeem = R"({"code":")" + Auth::EncodeBase64Url(exchanged.code) + R"("})";
    EXPECT_EQ(Control("POST", "/v1/exchange/redeem", redeem), R"({"login":"Rowan"})");
    EXPECT_EQ(Control("POST", "/v1/exchange/redeem", redeem), R"({"error":"unauthorised"})");

    EXPECT_EQ(Auth::SignOut(m_urls, exchanged.refresh).kind, EOutcome::SignedOut);
    EXPECT_EQ(Auth::SignOut(m_urls, exchanged.refresh).kind, EOutcome::Unauthorised);
    EXPECT_EQ(Auth::Refresh(m_urls, exchanged.refresh).kind, EOutcome::Unauthorised);
    EXPECT_EQ(Control("POST", "/control/same?path=/v1/signout",
                      R"({"refresh":")" + Auth::EncodeBase64Url(exchanged.refresh) + R"("})"),
              R"({"same":true})");
    // The control port shows no secret.
    EXPECT_EQ(Control("GET", "/control/last?path=/v1/signout"), R"({"refresh":")" + std::string(43, '*') + R"("})");
    EXPECT_EQ(Control("GET", "/control/switches").empty(), false);
    const auto public_control = Net::Request(m_base, "GET", "/control/switches", {}, 16384);
    ASSERT_TRUE(public_control);
    EXPECT_EQ(public_control->status, 404u);
}

TEST_F(SignInService, QmidPrintsOutcomesNeverTokens)
{
    const char* build = std::getenv("QM_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    std::string exe = std::string("Z:") + build + "/auth/qmid.exe";
    std::replace(exe.begin(), exe.end(), '/', '\\');
    const std::string command = "echo correct horse battery staple| " + exe + " https://localhost:1," + m_base +
                                " Rowan login refresh stale exchange signout 2>&1";
    FILE* pipe = _popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    {
        output += buffer;
    }
    EXPECT_EQ(_pclose(pipe), 0) << output;
    const char* expected[] = {"login SignedIn ", " login=Rowan token=new: \n", "refresh SignedIn ",
                              "stale Unauthorised ", "exchange SignedIn ", "code=yes", "signout SignedOut "};
    for (const char* part : expected)
    {
        EXPECT_NE(output.find(part), std::string::npos) << part << " in\n" << output;
    }
    // No run of 43 base64url characters, the length of a token or a code.
    std::size_t run = 0;
    std::size_t longest = 0;
    for (const char c : output)
    {
        run = (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, 43u) << output;
}
