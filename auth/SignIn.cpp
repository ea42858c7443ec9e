#include "auth/SignIn.h"

#include "auth/Json.h"
#include "auth/Opaque.h"

#include <cryptopp/sha.h>
#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <utility>
#include <vector>

namespace Auth
{
namespace
{
constexpr std::string_view kNoService = "the release names no identity service";
constexpr std::string_view kFirstStep = "the suite's first step";
constexpr std::string_view kNoProof = "a proof of work the client does not give";
constexpr std::string_view kUnreadable = "an answer that does not read";
constexpr std::string_view kSecondStep = "the suite's second step";
constexpr std::string_view kBadToken = "a token that does not read";
constexpr std::string_view kBadLogin = "a login that does not read";
constexpr unsigned kMostProofs = 3;

// A string that held a secret; wiped when it goes.
struct SSecretText
{
    std::string text;
    ~SSecretText() { Secure::Wipe(text); }
};

// A decoded secret; wiped when it goes.
struct SSecretBytes
{
    std::optional<std::vector<std::uint8_t>> bytes;
    ~SSecretBytes()
    {
        if (bytes)
        {
            Secure::Wipe(*bytes);
        }
    }
    [[nodiscard]] bool HasSize(std::size_t size) const noexcept { return bytes && bytes->size() == size; }
};

// The transport's result; the answer body is wiped when it goes.
struct SCall
{
    std::expected<Net::SAnswer, Net::SFailure> result;
    ~SCall()
    {
        if (result)
        {
            Secure::Wipe(result->body);
        }
    }
    [[nodiscard]] Json::SValue Find(std::string_view key) const noexcept
    {
        const auto& body = result->body;
        return Json::FindValue(std::span<const char>(reinterpret_cast<const char*>(body.data()), body.size()), key);
    }
};

// A transport failure's outcome: the text as given, the class as the transport found it.
[[nodiscard]] SLoginOutcome Unreachable(std::string message, const Net::SFailure& failure)
{
    SLoginOutcome outcome(EOutcome::Unreachable, std::move(message));
    outcome.failureClass = failure.failureClass;
    return outcome;
}

[[nodiscard]] SCall Post(const PostFn& post, std::string_view baseUrl, std::string_view path, std::string_view body)
{
    return SCall{post(baseUrl, path,
                      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()))};
}

template <std::size_t N>
[[nodiscard]] bool CopyExact(const SSecretBytes& decoded, std::array<std::uint8_t, N>& out) noexcept
{
    if (!decoded.HasSize(N))
    {
        return false;
    }
    std::copy(decoded.bytes->begin(), decoded.bytes->end(), out.begin());
    return true;
}

[[nodiscard]] SSecretBytes Decode(const Json::SValue& value)
{
    return SSecretBytes{value ? DecodeBase64Url(value.text) : std::nullopt};
}

[[nodiscard]] unsigned LeadingZeroBits(const std::uint8_t* hash) noexcept
{
    unsigned bits = 0;
    for (std::size_t i = 0; i < 32; ++i)
    {
        if (hash[i] != 0)
        {
            return bits + static_cast<unsigned>(std::countl_zero(hash[i]));
        }
        bits += 8;
    }
    return bits;
}

// What the refresh-shaped calls accept as success.
enum class ECall
{
    Refresh,
    Exchange,
    SignOut,
};

[[nodiscard]] SLoginOutcome ReadSuccess(ECall call, const SCall& answer)
{
    const auto status = answer.result->status;
    if (call == ECall::SignOut)
    {
        return status == 204 ? SLoginOutcome(EOutcome::SignedOut) : ReadError(*answer.result);
    }
    if (status != 200)
    {
        return ReadError(*answer.result);
    }
    SLoginOutcome outcome(EOutcome::SignedIn);
    if (!CopyExact(Decode(answer.Find("refresh")), outcome.refresh))
    {
        return SLoginOutcome(EOutcome::Failed, std::string(kBadToken));
    }
    if (call == ECall::Exchange)
    {
        if (!CopyExact(Decode(answer.Find("code")), outcome.code))
        {
            return SLoginOutcome(EOutcome::Failed, std::string(kBadToken));
        }
        return outcome;
    }
    const auto login = answer.Find("login");
    if (!login || !IsWellFormedLogin(login.text))
    {
        return SLoginOutcome(EOutcome::Failed, std::string(kBadLogin));
    }
    outcome.login = std::string(login.text);
    return outcome;
}

[[nodiscard]] SLoginOutcome TokenCall(const PostFn& post, ServiceUrls urls, std::string_view path, ECall call,
                                      std::span<const std::uint8_t, 32> refresh)
{
    // Built in one block of its final size: a growing string would free a block that held
    // the token without wiping it.
    constexpr std::string_view kOpen = R"({"refresh":")";
    constexpr std::string_view kClose = R"("})";
    SSecretText token{EncodeBase64Url(refresh)};
    SSecretText body;
    body.text.reserve(kOpen.size() + token.text.size() + kClose.size());
    body.text.append(kOpen).append(token.text).append(kClose);
    SLoginOutcome outcome(EOutcome::Unreachable, std::string(kNoService));
    for (const auto& url : urls)
    {
        const auto answer = Post(post, url, path, body.text);
        if (!answer.result)
        {
            outcome = Unreachable(fmt::format("{}: {}", url, answer.result.error().text), answer.result.error());
            continue;
        }
        return ReadSuccess(call, answer);
    }
    return outcome;
}
}

SLoginOutcome::SLoginOutcome(EOutcome kind_, std::string message_) noexcept
    : SOutcomeNotice{kind_, 0, std::move(message_), {}}
{
}

SLoginOutcome::SLoginOutcome(SLoginOutcome&& other) noexcept
    : SOutcomeNotice(std::move(other)), refresh(other.refresh), code(other.code)
{
    Secure::Wipe(other.refresh);
    Secure::Wipe(other.code);
}

SLoginOutcome& SLoginOutcome::operator=(SLoginOutcome&& other) noexcept
{
    if (this != &other)
    {
        SOutcomeNotice::operator=(std::move(other));
        refresh = other.refresh;
        code = other.code;
        Secure::Wipe(other.refresh);
        Secure::Wipe(other.code);
    }
    return *this;
}

SLoginOutcome::~SLoginOutcome()
{
    Secure::Wipe(refresh);
    Secure::Wipe(code);
}

bool IsWellFormedLogin(std::string_view login) noexcept
{
    return login.size() >= 2 && login.size() <= 30 && std::all_of(login.begin(), login.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
           });
}

std::string SolveWork(std::span<const std::uint8_t, 16> nonce, std::uint32_t bits)
{
    std::array<std::uint8_t, 24> message{};
    std::copy(nonce.begin(), nonce.end(), message.begin());
    std::array<std::uint8_t, CryptoPP::SHA256::DIGESTSIZE> hash{};
    CryptoPP::SHA256 sha;
    for (std::uint64_t counter = 0;; ++counter)
    {
        for (std::size_t i = 0; i < 8; ++i)
        {
            message[16 + i] = static_cast<std::uint8_t>(counter >> (8 * i));
        }
        sha.CalculateDigest(hash.data(), message.data(), message.size());
        if (LeadingZeroBits(hash.data()) >= bits)
        {
            return EncodeBase64Url(std::span<const std::uint8_t>(message.data() + 16, 8));
        }
    }
}

SLoginOutcome ReadError(const Net::SAnswer& answer)
{
    const auto body = std::span<const char>(reinterpret_cast<const char*>(answer.body.data()), answer.body.size());
    const auto error = Json::FindValue(body, "error");
    const std::string_view text = error ? error.text : std::string_view();
    switch (answer.status)
    {
    case 401:
        return SLoginOutcome(EOutcome::Unauthorised);
    case 429:
        if (text == "limited")
        {
            SLoginOutcome outcome(EOutcome::Limited);
            outcome.retrySeconds = Json::ParseU32(Json::FindValue(body, "retry"));
            return outcome;
        }
        break;
    case 400:
        if (text == "login")
        {
            return SLoginOutcome(EOutcome::LoginRules);
        }
        break;
    case 403:
        if (text == "banned")
        {
            const auto until = Json::FindValue(body, "until");
            return SLoginOutcome(EOutcome::Banned, until ? std::string(until.text) : std::string());
        }
        if (text == "closed")
        {
            return SLoginOutcome(EOutcome::Closed);
        }
        if (text == "unconfirmed")
        {
            return SLoginOutcome(EOutcome::Unconfirmed);
        }
        break;
    default:
        break;
    }
    return SLoginOutcome(EOutcome::Failed, fmt::format("HTTP {} {}", answer.status, text));
}

SLoginOutcome Login(const PostFn& post, ServiceUrls urls, std::string_view login, std::string_view password)
{
    if (!IsWellFormedLogin(login))
    {
        return SLoginOutcome(EOutcome::LoginRules);
    }
    const std::array<std::uint8_t, 32> zero{};
    SLoginOutcome outcome(EOutcome::Unreachable, std::string(kNoService));
    for (const auto& url : urls)
    {
        outcome = LoginAt(post, url, login, password, 4, zero, zero);
        if (outcome.kind != EOutcome::Unreachable)
        {
            break;
        }
        outcome.message = fmt::format("{}: {}", url, outcome.message);
    }
    return outcome;
}

SLoginOutcome LoginAt(const PostFn& post, std::string_view baseUrl, std::string_view login,
                      std::string_view password, std::uint8_t purpose, std::span<const std::uint8_t, 32> release,
                      std::span<const std::uint8_t, 32> session)
{
    // The login goes into the bodies unescaped: only a well-formed one may.
    if (!IsWellFormedLogin(login))
    {
        return SLoginOutcome(EOutcome::LoginRules);
    }
    SLoginStart start = LoginStart(password);
    if (!start.ok)
    {
        return start.failure == ELoginFailure::PasswordRefused ? SLoginOutcome(EOutcome::LoginRules)
                                                               : SLoginOutcome(EOutcome::Failed, std::string(kFirstStep));
    }

    // First step, paying up to three proofs of work; each proof answers the latest demand only.
    const std::string opening = fmt::format(R"({{"login":"{}","ke1":"{}","purpose":{},"release":"{}","session":"{}")",
                                            login, EncodeBase64Url(start.ke1), purpose, EncodeBase64Url(release),
                                            EncodeBase64Url(session));
    std::string proof;
    unsigned proofsGiven = 0;
    std::optional<SCall> first;
    for (;;)
    {
        first.emplace(Post(post, baseUrl, "/v1/login/start", opening + proof + "}"));
        if (!first->result)
        {
            return Unreachable(first->result.error().text, first->result.error());
        }
        const auto status = first->result->status;
        const auto error = first->Find("error");
        if (status == 429 && error && error.text == "work")
        {
            const auto nonceText = first->Find("nonce");
            const auto nonce = nonceText ? DecodeBase64Url(nonceText.text) : std::nullopt;
            const auto bits = Json::ParseU32(first->Find("bits"));
            if (!nonce || nonce->size() != 16 || bits > 32 || proofsGiven == kMostProofs)
            {
                return SLoginOutcome(EOutcome::Failed, std::string(kNoProof));
            }
            proof = fmt::format(",\"pow\":{{\"nonce\":\"{}\",\"solution\":\"{}\"}}", nonceText.text,
                                SolveWork(std::span<const std::uint8_t, 16>(nonce->data(), 16), bits));
            ++proofsGiven;
            continue;
        }
        if (status != 200)
        {
            return ReadError(*first->result);
        }
        break;
    }

    SSecretBytes ke2 = Decode(first->Find("ke2"));
    const auto state = first->Find("state");
    const auto suite = Json::ParseU32(first->Find("suite"));
    if (!ke2.HasSize(kKe2Size) || !state || suite == 0)
    {
        return SLoginOutcome(EOutcome::Failed, std::string(kUnreadable));
    }

    std::array<std::uint8_t, kLoginContextSize> context{};
    context[0] = purpose;
    std::copy(release.begin(), release.end(), context.begin() + 1);
    std::copy(session.begin(), session.end(), context.begin() + 33);
    const SLoginFinish finish = LoginFinish(start, password, std::span<const std::uint8_t, kKe2Size>(ke2.bytes->data(), kKe2Size),
                                            context, static_cast<std::int32_t>(std::min<std::uint32_t>(suite, INT32_MAX)));
    if (!finish.ok)
    {
        return finish.failure == ELoginFailure::InvalidLogin ? SLoginOutcome(EOutcome::Unauthorised)
                                                             : SLoginOutcome(EOutcome::Failed, std::string(kSecondStep));
    }

    // Second step. A transport failure here is final: the exchange has started at this URL.
    const std::string body =
        fmt::format(R"({{"login":"{}","state":"{}","ke3":"{}"}})", login, state.text, EncodeBase64Url(finish.ke3));
    const auto second = Post(post, baseUrl, "/v1/login/finish", body);
    if (!second.result)
    {
        return SLoginOutcome(EOutcome::Failed, second.result.error().text);
    }
    if (second.result->status != 200)
    {
        return ReadError(*second.result);
    }
    SLoginOutcome outcome(EOutcome::SignedIn);
    if (!CopyExact(Decode(second.Find("refresh")), outcome.refresh))
    {
        return SLoginOutcome(EOutcome::Failed, std::string(kBadToken));
    }
    const auto spelled = second.Find("login");
    if (!spelled || !IsWellFormedLogin(spelled.text))
    {
        return SLoginOutcome(EOutcome::Failed, std::string(kBadLogin));
    }
    outcome.login = std::string(spelled.text);
    return outcome;
}

SLoginOutcome Refresh(const PostFn& post, ServiceUrls urls, std::span<const std::uint8_t, 32> refresh)
{
    return TokenCall(post, urls, "/v1/refresh", ECall::Refresh, refresh);
}

SLoginOutcome NewExchange(const PostFn& post, ServiceUrls urls, std::span<const std::uint8_t, 32> refresh)
{
    return TokenCall(post, urls, "/v1/exchange/new", ECall::Exchange, refresh);
}

SLoginOutcome SignOut(const PostFn& post, ServiceUrls urls, std::span<const std::uint8_t, 32> refresh)
{
    return TokenCall(post, urls, "/v1/signout", ECall::SignOut, refresh);
}

#ifdef _WIN32
namespace
{
const PostFn& Https()
{
    static const PostFn post = [](std::string_view baseUrl, std::string_view path, std::span<const std::uint8_t> body) {
        return Net::Request(baseUrl, "POST", path, body, 16384);
    };
    return post;
}
}

SLoginOutcome Login(ServiceUrls urls, std::string_view login, std::string_view password)
{
    return Login(Https(), urls, login, password);
}

SLoginOutcome LoginAt(std::string_view baseUrl, std::string_view login, std::string_view password,
                      std::uint8_t purpose, std::span<const std::uint8_t, 32> release,
                      std::span<const std::uint8_t, 32> session)
{
    return LoginAt(Https(), baseUrl, login, password, purpose, release, session);
}

SLoginOutcome Refresh(ServiceUrls urls, std::span<const std::uint8_t, 32> refresh)
{
    return Refresh(Https(), urls, refresh);
}

SLoginOutcome NewExchange(ServiceUrls urls, std::span<const std::uint8_t, 32> refresh)
{
    return NewExchange(Https(), urls, refresh);
}

SLoginOutcome SignOut(ServiceUrls urls, std::span<const std::uint8_t, 32> refresh)
{
    return SignOut(Https(), urls, refresh);
}
#endif
}
