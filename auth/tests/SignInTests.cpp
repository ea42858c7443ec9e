#include "auth/SignIn.h"

#include "auth/Json.h"

#include <gtest/gtest.h>

#include <deque>

using Auth::EOutcome;
using Net::SAnswer;

namespace
{
using Reply = std::expected<SAnswer, Net::SFailure>;
using TokenFn = Auth::SLoginOutcome (*)(const Auth::PostFn&, Auth::ServiceUrls, std::span<const std::uint8_t, 32>);

SAnswer Answer(std::uint32_t status, std::string_view body = {})
{
    return SAnswer{status, std::vector<std::uint8_t>(body.begin(), body.end())};
}

// A service that answers from a script and records every call.
struct SScript
{
    struct SCall
    {
        std::string url, path, body;
    };
    std::vector<SCall> calls;
    std::deque<Reply> replies;

    SScript& Then(Reply reply)
    {
        replies.push_back(std::move(reply));
        return *this;
    }
    Auth::PostFn Fn()
    {
        return [this](std::string_view url, std::string_view path, std::span<const std::uint8_t> body) -> Reply {
            calls.push_back({std::string(url), std::string(path), std::string(body.begin(), body.end())});
            if (replies.empty())
            {
                return std::unexpected(std::string("the script has no more answers"));
            }
            auto reply = std::move(replies.front());
            replies.pop_front();
            return reply;
        };
    }
};

const std::array<std::uint8_t, 32> kToken = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                              17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const std::string kTokenText = Auth::EncodeBase64Url(kToken);
const std::string kOneUrl[] = {"https://id.example/"};

std::string Work(std::string_view nonce, std::string_view bits = {})
{
    return std::string(R"({"error":"work","nonce":")") + std::string(nonce) + "\"" +
           (bits.empty() ? "" : ",\"bits\":" + std::string(bits)) + "}";
}

std::string NonceText(std::uint8_t fill, std::size_t size = 16)
{
    return Auth::EncodeBase64Url(std::vector<std::uint8_t>(size, fill));
}

std::string Ke2Answer(const std::vector<std::uint8_t>& ke2, std::string_view rest = R"(,"state":"st8","suite":1)")
{
    return R"({"ke2":")" + Auth::EncodeBase64Url(ke2) + "\"" + std::string(rest) + "}";
}
}

TEST(SignInErrors, EveryRowOfTheTable)
{
    struct SCase
    {
        std::uint32_t status;
        std::string_view body;
        EOutcome kind;
        std::string_view message;
        std::uint32_t retry = 0;
    };
    const SCase cases[] = {
        {401, "", EOutcome::Unauthorised, ""},
        {401, R"({"error":"banned"})", EOutcome::Unauthorised, ""},
        {429, R"({"error":"limited","retry":30})", EOutcome::Limited, "", 30},
        {429, R"({"error":"limited"})", EOutcome::Limited, "", 0},
        {429, R"({"error":"busy"})", EOutcome::Failed, "HTTP 429 busy"},
        {400, R"({"error":"login"})", EOutcome::LoginRules, ""},
        {400, R"({"error":"Login"})", EOutcome::Failed, "HTTP 400 Login"},
        {403, R"({"error":"banned","until":"2031-04-05T06:07:08Z"})", EOutcome::Banned, "2031-04-05T06:07:08Z"},
        {403, R"({"error":"banned"})", EOutcome::Banned, ""},
        {403, R"({"error":"closed"})", EOutcome::Closed, ""},
        {403, R"({"error":"unconfirmed"})", EOutcome::Unconfirmed, ""},
        {403, R"({"error":"limited"})", EOutcome::Failed, "HTTP 403 limited"},
        {500, "", EOutcome::Failed, "HTTP 500 "},
        {200, R"({"error":"x"})", EOutcome::Failed, "HTTP 200 x"},
    };
    for (const auto& c : cases)
    {
        const auto outcome = Auth::ReadError(Answer(c.status, c.body));
        EXPECT_EQ(outcome.kind, c.kind) << c.status << " " << c.body;
        EXPECT_EQ(outcome.message, c.message) << c.status << " " << c.body;
        EXPECT_EQ(outcome.retrySeconds, c.retry) << c.status << " " << c.body;
    }
}

TEST(SignInWork, SolutionsAreTheFirstCounterThatPays)
{
    std::array<std::uint8_t, 16> nonce{};
    for (std::size_t i = 0; i < nonce.size(); ++i)
    {
        nonce[i] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(Auth::SolveWork(nonce, 0), "AAAAAAAAAAA");
    EXPECT_EQ(Auth::SolveWork(nonce, 8), "lgAAAAAAAAA");  // counter 150
    EXPECT_EQ(Auth::SolveWork(nonce, 16), "uC4BAAAAAAA"); // counter 77,496
}

TEST(SignInLogin, RulesAreCheckedBeforeAnythingIsSent)
{
    SScript script;
    for (std::string_view login : {"a", "abcdefghijklmnopqrstuvwxyz12345", "row-an", "Rowan ", "", "R\xc3\xb6wan"})
    {
        EXPECT_EQ(Auth::Login(script.Fn(), kOneUrl, login, "password").kind, EOutcome::LoginRules) << login;
    }
    for (std::string_view password : {"", "caf\xc3\xa9"})
    {
        EXPECT_EQ(Auth::Login(script.Fn(), kOneUrl, "Rowan", password).kind, EOutcome::LoginRules);
    }
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(Auth::IsWellFormedLogin("ab"));
    EXPECT_TRUE(Auth::IsWellFormedLogin("abcdefghijklmnopqrstuvwxyz1234"));
}

TEST(SignInLogin, FirstStepBodyAndProofsOfWork)
{
    SScript script;
    script.Then(Answer(429, Work(NonceText(1), "4")))
        .Then(Answer(429, Work(NonceText(2))))
        .Then(Answer(429, Work(NonceText(3), "1")))
        .Then(Answer(429, Work(NonceText(4), "1")));
    const auto outcome = Auth::Login(script.Fn(), kOneUrl, "Rowan", "pw");
    EXPECT_EQ(outcome.kind, EOutcome::Failed);
    EXPECT_EQ(outcome.message, "a proof of work the client does not give");
    ASSERT_EQ(script.calls.size(), 4u); // three proofs given, the fourth demand refused

    const std::string zeros(43, 'A');
    const std::string head = R"({"login":"Rowan","ke1":")";
    const std::string tail = R"(","purpose":4,"release":")" + zeros + R"(","session":")" + zeros + R"("})";
    const std::string& body = script.calls[0].body;
    ASSERT_EQ(body.size(), head.size() + 128 + tail.size()) << body;
    EXPECT_EQ(body.substr(0, head.size()), head);
    EXPECT_EQ(body.substr(head.size() + 128), tail);
    EXPECT_EQ(Auth::DecodeBase64Url(body.substr(head.size(), 128)).value_or(std::vector<std::uint8_t>{}).size(), 96u);
    EXPECT_EQ(script.calls[0].url, kOneUrl[0]);
    EXPECT_EQ(script.calls[0].path, "/v1/login/start");

    // Each later call is the same body with only the latest proof before the closing brace.
    const std::string opening = script.calls[0].body.substr(0, script.calls[0].body.size() - 1);
    const auto nonce1 = Auth::DecodeBase64Url(NonceText(1)).value();
    EXPECT_EQ(script.calls[1].body,
              opening + R"(,"pow":{"nonce":")" + NonceText(1) + R"(","solution":")" +
                  Auth::SolveWork(std::span<const std::uint8_t, 16>(nonce1.data(), 16), 4) + R"("}})");
    // No "bits": zero bits, counter 0.
    EXPECT_EQ(script.calls[2].body, opening + R"(,"pow":{"nonce":")" + NonceText(2) + R"(","solution":"AAAAAAAAAAA"}})");
    EXPECT_EQ(script.calls[3].body.find(NonceText(2)), std::string::npos);
}

TEST(SignInLogin, UnpayableDemandsAreRefusedAtOnce)
{
    for (const auto& demand : {Work(NonceText(1, 15), "1"), Work(NonceText(1), "33"), Work("AAA=", "1"),
                               std::string(R"({"error":"work"})")})
    {
        SScript script;
        script.Then(Answer(429, demand));
        const auto outcome = Auth::Login(script.Fn(), kOneUrl, "Rowan", "pw");
        EXPECT_EQ(outcome.message, "a proof of work the client does not give") << demand;
        EXPECT_EQ(script.calls.size(), 1u);
    }
    // Any other 429 is an error answer; "limited" without "retry" waits 0 seconds.
    SScript script;
    script.Then(Answer(429, R"({"error":"limited"})"));
    const auto limited = Auth::Login(script.Fn(), kOneUrl, "Rowan", "pw");
    EXPECT_EQ(limited.kind, EOutcome::Limited);
    EXPECT_EQ(limited.retrySeconds, 0u);
}

TEST(SignInLogin, FirstAnswersThatDoNotRead)
{
    std::vector<std::uint8_t> ke2(320);
    struct SCase
    {
        std::string body;
        std::string_view message;
        EOutcome kind;
    };
    const SCase cases[] = {
        {Ke2Answer(std::vector<std::uint8_t>(319)), "an answer that does not read", EOutcome::Failed},
        {Ke2Answer(ke2, R"(,"suite":1)"), "an answer that does not read", EOutcome::Failed},
        {Ke2Answer(ke2, R"(,"state":"s","suite":0)"), "an answer that does not read", EOutcome::Failed},
        {Ke2Answer(ke2, R"(,"state":"s")"), "an answer that does not read", EOutcome::Failed},
        {R"({"ke2":"not base64!","state":"s","suite":1})", "an answer that does not read", EOutcome::Failed},
        {Ke2Answer(ke2, R"(,"state":"s","suite":2)"), "the suite's second step", EOutcome::Failed},
        // An evaluated element of zeroes is the identity: the reply does not authenticate.
        {Ke2Answer(ke2), "", EOutcome::Unauthorised},
    };
    for (const auto& c : cases)
    {
        SScript script;
        script.Then(Answer(200, c.body));
        const auto outcome = Auth::Login(script.Fn(), kOneUrl, "Rowan", "pw");
        EXPECT_EQ(outcome.kind, c.kind) << c.body;
        EXPECT_EQ(outcome.message, c.message) << c.body;
        EXPECT_EQ(script.calls.size(), 1u);
    }
    // A KE2 whose evaluated element is not a canonical encoding is malformed.
    std::fill(ke2.begin(), ke2.begin() + 32, std::uint8_t{0xff});
    SScript script;
    script.Then(Answer(200, Ke2Answer(ke2)));
    EXPECT_EQ(Auth::Login(script.Fn(), kOneUrl, "Rowan", "pw").message, "the suite's second step");
}

TEST(SignInLogin, FailoverOnlyOnTransportFailures)
{
    const std::string urls[] = {"https://a.example", "https://b.example", "https://c.example"};
    {
        SScript script;
        script.Then(std::unexpected(std::string("no answer (WinHTTP error 12029)")))
            .Then(std::unexpected(std::string("no answer (WinHTTP error 12002)")))
            .Then(Answer(401));
        EXPECT_EQ(Auth::Login(script.Fn(), urls, "Rowan", "pw").kind, EOutcome::Unauthorised);
        ASSERT_EQ(script.calls.size(), 3u);
        EXPECT_EQ(script.calls[2].url, urls[2]);
    }
    {
        SScript script;
        script.Then(std::unexpected(std::string("e1"))).Then(std::unexpected(std::string("e2"))).Then(
            std::unexpected(std::string("the answer is too long")));
        const auto outcome = Auth::Login(script.Fn(), urls, "Rowan", "pw");
        EXPECT_EQ(outcome.kind, EOutcome::Unreachable);
        EXPECT_EQ(outcome.message, "https://c.example: the answer is too long");
        EXPECT_EQ(outcome.failureClass, Net::EFailureClass::Unrecognised);
    }
    {
        SScript script; // the class of the last URL's failure goes with its text
        script.Then(std::unexpected(std::string("e1")))
            .Then(std::unexpected(std::string("e2")))
            .Then(std::unexpected(Net::SFailure("issuer not trusted", Net::EFailureClass::Intercepted)));
        const auto outcome = Auth::Login(script.Fn(), urls, "Rowan", "pw");
        EXPECT_EQ(outcome.message, "https://c.example: issuer not trusted");
        EXPECT_EQ(outcome.failureClass, Net::EFailureClass::Intercepted);
    }
    {
        SScript script; // an answer of any status ends the sign-in
        script.Then(Answer(503));
        const auto outcome = Auth::Login(script.Fn(), urls, "Rowan", "pw");
        EXPECT_EQ(outcome.message, "HTTP 503 ");
        EXPECT_EQ(script.calls.size(), 1u);
    }
    SScript script;
    const auto none = Auth::Login(script.Fn(), {}, "Rowan", "pw");
    EXPECT_EQ(none.kind, EOutcome::Unreachable);
    EXPECT_EQ(none.message, "the release names no identity service");
    for (TokenFn call : {TokenFn(&Auth::Refresh), TokenFn(&Auth::NewExchange), TokenFn(&Auth::SignOut)})
    {
        const auto outcome = call(script.Fn(), {}, kToken);
        EXPECT_EQ(outcome.kind, EOutcome::Unreachable);
        EXPECT_EQ(outcome.message, "the release names no identity service");
    }
    EXPECT_TRUE(script.calls.empty());
}

TEST(SignInTokens, RefreshExchangeAndSignOut)
{
    const std::array<std::uint8_t, 32> next{9};
    const std::string nextText = Auth::EncodeBase64Url(next);
    const std::string body = R"({"refresh":")" + kTokenText + R"("})";

    SScript script;
    script.Then(Answer(200, R"({"refresh":")" + nextText + R"(","login":"Rowan"})"));
    const auto refreshed = Auth::Refresh(script.Fn(), kOneUrl, kToken);
    EXPECT_EQ(refreshed.kind, EOutcome::SignedIn);
    EXPECT_EQ(refreshed.refresh, next);
    EXPECT_EQ(refreshed.login, "Rowan");
    EXPECT_EQ(script.calls.at(0).path, "/v1/refresh");
    EXPECT_EQ(script.calls.at(0).body, body);

    script.Then(Answer(200, R"({"refresh":")" + nextText + R"(","code":")" + kTokenText + R"("})"));
    const auto exchanged = Auth::NewExchange(script.Fn(), kOneUrl, kToken);
    EXPECT_EQ(exchanged.kind, EOutcome::SignedIn);
    EXPECT_EQ(exchanged.code, kToken);
    EXPECT_EQ(exchanged.login, "");
    EXPECT_EQ(script.calls.at(1).path, "/v1/exchange/new");
    EXPECT_EQ(script.calls.at(1).body, body);

    script.Then(Answer(204));
    EXPECT_EQ(Auth::SignOut(script.Fn(), kOneUrl, kToken).kind, EOutcome::SignedOut);
    EXPECT_EQ(script.calls.at(2).path, "/v1/signout");
    EXPECT_EQ(script.calls.at(2).body, body);

    // Success statuses are exact, and the tokens and logins must read.
    struct SCase
    {
        TokenFn call;
        std::string answer;
        std::uint32_t status;
        std::string_view message;
    };
    const SCase cases[] = {
        {&Auth::SignOut, "", 200, "HTTP 200 "},
        {&Auth::SignOut, R"({"error":"gone"})", 200, "HTTP 200 gone"},
        {&Auth::Refresh, R"({"refresh":"AAAA","login":"Rowan"})", 200, "a token that does not read"},
        {&Auth::Refresh, R"({"refresh":")" + nextText + R"(","login":"R"})", 200, "a login that does not read"},
        {&Auth::Refresh, R"({"refresh":")" + nextText + R"("})", 200, "a login that does not read"},
        {&Auth::NewExchange, R"({"refresh":")" + nextText + R"("})", 200, "a token that does not read"},
        {&Auth::NewExchange, R"({"code":")" + nextText + R"("})", 200, "a token that does not read"},
        {&Auth::Refresh, R"({"refresh":")" + nextText + R"(","login":"Rowan"})", 201, "HTTP 201 "},
    };
    for (const auto& c : cases)
    {
        SScript one;
        one.Then(Answer(c.status, c.answer));
        const auto outcome = c.call(one.Fn(), Auth::ServiceUrls(kOneUrl), kToken);
        EXPECT_EQ(outcome.kind, EOutcome::Failed) << c.answer;
        EXPECT_EQ(outcome.message, c.message) << c.answer;
        EXPECT_EQ(outcome.refresh, (std::array<std::uint8_t, 32>{})) << c.answer;
    }

    // Failover: transport failures move on, naming the URL; an answer stops.
    const std::string urls[] = {"https://a.example", "https://b.example"};
    SScript failing;
    failing.Then(std::unexpected(std::string("no answer (WinHTTP error 12029)"))).Then(Answer(401));
    EXPECT_EQ(Auth::Refresh(failing.Fn(), urls, kToken).kind, EOutcome::Unauthorised);
    SScript down;
    down.Then(std::unexpected(std::string("e1")))
        .Then(std::unexpected(Net::SFailure("e2", Net::EFailureClass::ClockWrong)));
    const auto signedOut = Auth::SignOut(down.Fn(), urls, kToken);
    EXPECT_EQ(signedOut.message, "https://b.example: e2");
    EXPECT_EQ(signedOut.failureClass, Net::EFailureClass::ClockWrong);
}

TEST(SignInOutcome, MovingWipesTheSecrets)
{
    Auth::SLoginOutcome outcome(EOutcome::SignedIn);
    outcome.refresh = kToken;
    outcome.code = kToken;
    outcome.login = "Rowan";
    Auth::SLoginOutcome moved(std::move(outcome));
    EXPECT_EQ(moved.refresh, kToken);
    EXPECT_EQ(moved.code, kToken);
    EXPECT_EQ(moved.login, "Rowan");
    EXPECT_EQ(outcome.refresh, (std::array<std::uint8_t, 32>{}));
    EXPECT_EQ(outcome.code, (std::array<std::uint8_t, 32>{}));

    Auth::SLoginOutcome assigned;
    EXPECT_EQ(assigned.kind, EOutcome::Failed);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.refresh, kToken);
    EXPECT_EQ(moved.refresh, (std::array<std::uint8_t, 32>{}));
    EXPECT_EQ(moved.code, (std::array<std::uint8_t, 32>{}));
}
