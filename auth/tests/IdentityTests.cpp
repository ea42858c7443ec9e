// The identity worker, the stored sign-in and the status poll's rules, with a scripted service
// behind the transport functions and a credential store in memory. The same code runs against
// the reference service and the Credential Manager in the integration tests.
#include "auth/Identity.h"

#include "tools/qmrelease/Writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <future>
#include <thread>

using Auth::EOutcome;
using Auth::ERequest;
using Auth::SLoginOutcome;

namespace
{
namespace fs = std::filesystem;

std::string Text(std::span<const std::uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}
}

namespace
{
using Answer_t = std::expected<Net::SAnswer, Net::SFailure>;

Answer_t Reply(std::uint32_t status, std::string_view body = {})
{
    return Net::SAnswer{status, Bytes(body)};
}

std::string Hex(char digit, std::size_t count = 64)
{
    return std::string(count, digit);
}

// --- the status poll -------------------------------------------------------------------------

Auth::SServiceStatus Poll(std::vector<Answer_t> answers, std::vector<std::string>* asked = nullptr)
{
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < answers.size(); ++i)
    {
        urls.push_back("https://id" + std::to_string(i));
    }
    std::size_t next = 0;
    return Auth::PollStatus(
        [&](std::string_view base, std::string_view path) {
            if (asked != nullptr)
            {
                asked->push_back(std::string(base) + std::string(path));
            }
            return answers.at(next++);
        },
        urls, Hex('a'));
}

Auth::SServiceStatus PollBody(std::string_view body)
{
    return Poll({Reply(200, body)});
}
}

TEST(StatusPoll, FailsOverOnTransportErrorsAndStopsAtTheFirstAnswer)
{
    std::vector<std::string> asked;
    const auto status = Poll({std::unexpected(std::string("no answer (WinHTTP error 12029)")), Reply(503, "{}"),
                              Reply(200, R"({"world":"up"})")},
                             &asked);
    EXPECT_EQ(status.world, Auth::EWorld::Unknown);
    EXPECT_EQ(status.error, "");
    EXPECT_EQ(status.old, 0);
    EXPECT_EQ(status.current, "");
    EXPECT_EQ(asked, (std::vector<std::string>{"https://id0/v1/status?release=" + Hex('a') + "&build=1",
                                               "https://id1/v1/status?release=" + Hex('a') + "&build=1"}));

    const auto none = Poll({std::unexpected(Net::SFailure("first", Net::EFailureClass::ClockWrong)),
                            std::unexpected(std::string("second"))});
    EXPECT_EQ(none.world, Auth::EWorld::Unreachable);
    EXPECT_EQ(none.error, "https://id0: first");
    EXPECT_EQ(none.errorClass, Net::EFailureClass::ClockWrong);
    EXPECT_EQ(Poll({}).error, "");
}

TEST(StatusPoll, FieldRules)
{
    const auto full = PollBody(R"({"world":"down","release":"old","current":")" + Hex('b') +
                               R"(","number":7,"next":")" + Hex('c') + R"(","next_number":18446744073709551615})");
    EXPECT_EQ(full.world, Auth::EWorld::Down);
    EXPECT_EQ(full.old, 1);
    EXPECT_EQ(full.current, Hex('b'));
    EXPECT_EQ(full.currentNumber, 7u);
    EXPECT_EQ(full.next, Hex('c'));
    EXPECT_EQ(full.nextNumber, 18446744073709551615u);

    // An identity that is not 64 lowercase digits is ignored together with its number.
    for (const auto& bad : {Hex('B'), Hex('b', 63), Hex('b', 65), Hex('g')})
    {
        const auto status = PollBody(R"({"world":"UP","current":")" + bad + R"(","number":7})");
        EXPECT_EQ(status.world, Auth::EWorld::Unknown);
        EXPECT_EQ(status.current, "") << bad;
        EXPECT_EQ(status.currentNumber, 0u) << bad;
    }
    // A number past 2^64 - 1 leaves 0; the identity stays.
    const auto big = PollBody(R"({"world":"up","release":"current","current":")" + Hex('d') +
                              R"(","number":18446744073709551616})");
    EXPECT_EQ(big.world, Auth::EWorld::Up);
    EXPECT_EQ(big.old, 0);
    EXPECT_EQ(big.current, Hex('d'));
    EXPECT_EQ(big.currentNumber, 0u);
}

// --- the stored sign-in ----------------------------------------------------------------------

namespace
{
// The credential store as a map, counting what it was asked to do.
class MemoryStore final : public Auth::ICredentialStore
{
public:
    std::optional<Auth::SStoredEntry> Read(std::string_view target) override
    {
        const auto found = entries.find(std::string(target));
        if (found == entries.end())
        {
            return std::nullopt;
        }
        Auth::SStoredEntry entry;
        entry.userName = found->second.first;
        entry.blob = found->second.second;
        return entry;
    }
    void Write(std::string_view target, std::string_view user, std::span<const std::uint8_t> blob) override
    {
        ++writes;
        entries[std::string(target)] = {std::string(user), std::vector<std::uint8_t>(blob.begin(), blob.end())};
    }
    void Delete(std::string_view target) override
    {
        ++deletes;
        entries.erase(std::string(target));
    }

    std::map<std::string, std::pair<std::string, std::vector<std::uint8_t>>> entries;
    int writes = 0;
    int deletes = 0;
};

const std::string kTarget = "Quillmere/identity/https://id0";

SLoginOutcome Outcome(EOutcome kind, std::uint8_t token = 0, std::string login = {})
{
    SLoginOutcome outcome(kind);
    outcome.refresh.fill(token);
    outcome.login = std::move(login);
    return outcome;
}
}

TEST(CStoredSignIn, OnlyAWellShapedEntryIsTakenAndNoneIsDeletedForItsShape)
{
    MemoryStore store;
    Auth::CStoredSignIn stored(store);
    stored.SetTarget(kTarget);
    EXPECT_FALSE(stored.ReadStoredSignIn());

    for (const std::size_t size : {31u, 33u, 0u})
    {
        store.entries[kTarget] = {"Rowan", std::vector<std::uint8_t>(size, 7)};
        EXPECT_FALSE(stored.ReadStoredSignIn()) << size;
    }
    store.entries[kTarget] = {"", std::vector<std::uint8_t>(32, 7)};
    EXPECT_FALSE(stored.ReadStoredSignIn());
    EXPECT_EQ(stored.CurrentLogin(), "");
    EXPECT_EQ(store.deletes, 0);
    EXPECT_EQ(store.entries.size(), 1u);

    store.entries[kTarget] = {"Rowan", std::vector<std::uint8_t>(32, 7)};
    EXPECT_TRUE(stored.ReadStoredSignIn());
    EXPECT_EQ(stored.CurrentLogin(), "Rowan");
    EXPECT_EQ(stored.Token()[31], 7);
}

TEST(CStoredSignIn, ApplyOutcome)
{
    MemoryStore store;
    Auth::CStoredSignIn stored(store);
    stored.SetTarget(kTarget);

    auto signedIn = Outcome(EOutcome::SignedIn, 1, "Rowan");
    stored.ApplyOutcome(signedIn);
    EXPECT_EQ(signedIn.refresh, (std::array<std::uint8_t, 32>{})); // the token went to the store alone
    EXPECT_EQ(store.entries[kTarget], (std::pair{std::string("Rowan"), std::vector<std::uint8_t>(32, 1)}));

    // An exchange names no login: the stored one is kept and named in the outcome.
    auto exchanged = Outcome(EOutcome::SignedIn, 2);
    stored.ApplyOutcome(exchanged);
    EXPECT_EQ(exchanged.login, "Rowan");
    EXPECT_EQ(store.entries[kTarget], (std::pair{std::string("Rowan"), std::vector<std::uint8_t>(32, 2)}));

    for (const auto kind : {EOutcome::Limited, EOutcome::Unreachable, EOutcome::Failed, EOutcome::Banned})
    {
        auto kept = Outcome(kind);
        stored.ApplyOutcome(kept);
        EXPECT_TRUE(stored.SignedIn());
        EXPECT_EQ(store.entries.count(kTarget), 1u);
    }

    auto refused = Outcome(EOutcome::Unauthorised);
    stored.ApplyOutcome(refused);
    EXPECT_FALSE(stored.SignedIn());
    EXPECT_EQ(stored.CurrentLogin(), "");
    EXPECT_EQ(store.entries.count(kTarget), 0u);
    EXPECT_EQ(stored.Token()[0], 0);
}

// --- the worker --------------------------------------------------------------------------------

namespace
{
const QmRelease::SKeyPair& Root()
{
    static const QmRelease::SKeyPair root = QmRelease::KeyFromSeed(std::array<std::uint8_t, 32>{7, 1, 3});
    return root;
}

// A launcher folder whose installed index the test writes.
class LauncherFolder
{
public:
    LauncherFolder()
        : m_path(fs::temp_directory_path() /
                 ("qm-identity-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
    {
        fs::create_directories(m_path / "Client/pack");
    }
    ~LauncherFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    void Install(std::vector<std::string> urls, std::string cdn, bool withIdnt = true)
    {
        QmRelease::SReleaseContent content;
        content.identityUrls = urls.empty() ? std::vector<std::string>{"https://unused"} : std::move(urls);
        content.cdnUrl = std::move(cdn);
        content.name = "Spring";
        content.gameHost = "play.example.com";
        auto layout = QmRelease::Sections(content);
        if (!withIdnt)
        {
            std::erase_if(layout.sections, [](const auto& s) { return s.tag == QmRelease::MakeTag("IDNT"); });
        }
        auto file = QmRelease::LayOut(layout);
        QmRelease::AppendSignature(file, Root());
        std::ofstream(m_path / "Client/pack/release.quillmereindex", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    [[nodiscard]] auto Load() const { return Auth::LoadIdentityConfig(m_path, Root().publicKey); }
    [[nodiscard]] const fs::path& path() const noexcept { return m_path; }

private:
    fs::path m_path;
};

// What the worker reported, in order.
struct SReports
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<int, SLoginOutcome>> outcomes;
    std::vector<bool> reloads;
    std::vector<Auth::SServiceStatus> statuses;

    void WaitFor(std::size_t count)
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(20), [&] {
            return outcomes.size() + reloads.size() + statuses.size() >= count;
        }));
    }
};

// A scripted service: every call is recorded, answered from `answers` by path (or 500), and
// held while `gate` is closed.
class IdentityWorker : public ::testing::Test
{
protected:
    void SetUp() override { m_folder.Install({"https://id0", "https://id1"}, "https://cdn0"); }

    std::unique_ptr<Auth::CIdentity> Make()
    {
        Auth::SIdentityParams params;
        params.post = [this](std::string_view base, std::string_view path, std::span<const std::uint8_t> body) {
            std::unique_lock guard(m_lock);
            m_calls.push_back(std::string(base) + std::string(path) + " " + Text(body));
            m_gateChanged.wait(guard, [this] { return m_gateOpen; });
            const auto found = m_answers.find(std::string(path));
            return found == m_answers.end() ? Reply(500) : Reply(found->second.first, found->second.second);
        };
        params.get = [](std::string_view, std::string_view) { return Reply(503); };
        params.store = std::make_unique<MemoryStoreRef>(m_store);
        params.load = [this] { return m_folder.Load(); };
        params.reports.outcome = [this](std::uint8_t kind, std::unique_ptr<SLoginOutcome> outcome) {
            const std::lock_guard guard(m_reports.lock);
            m_reports.outcomes.emplace_back(kind, std::move(*outcome));
            m_reports.changed.notify_all();
        };
        params.reports.reloaded = [this](bool reloaded) {
            const std::lock_guard guard(m_reports.lock);
            m_reports.reloads.push_back(reloaded);
            m_reports.changed.notify_all();
        };
        params.reports.status = [this](std::unique_ptr<Auth::SServiceStatus> status) {
            const std::lock_guard guard(m_reports.lock);
            m_reports.statuses.push_back(std::move(*status));
            m_reports.changed.notify_all();
        };
        return std::make_unique<Auth::CIdentity>(std::move(params));
    }

    void Answer(std::string path, std::uint32_t status, std::string body)
    {
        const std::lock_guard guard(m_lock);
        m_answers[std::move(path)] = {status, std::move(body)};
    }
    void Gate(bool open)
    {
        const std::lock_guard guard(m_lock);
        m_gateOpen = open;
        m_gateChanged.notify_all();
    }
    std::vector<std::string> Calls()
    {
        const std::lock_guard guard(m_lock);
        return m_calls;
    }

    // Forwards to the test's store, which outlives every worker.
    class MemoryStoreRef final : public Auth::ICredentialStore
    {
    public:
        explicit MemoryStoreRef(MemoryStore& store) : m_store(store) {}
        std::optional<Auth::SStoredEntry> Read(std::string_view t) override { return m_store.Read(t); }
        void Write(std::string_view t, std::string_view u, std::span<const std::uint8_t> b) override
        {
            m_store.Write(t, u, b);
        }
        void Delete(std::string_view t) override { m_store.Delete(t); }

    private:
        MemoryStore& m_store;
    };

    LauncherFolder m_folder;
    MemoryStore m_store;
    SReports m_reports;
    std::mutex m_lock;
    std::condition_variable m_gateChanged;
    bool m_gateOpen = true;
    std::vector<std::string> m_calls;
    std::map<std::string, std::pair<std::uint32_t, std::string>> m_answers;
};

std::string Token(std::uint8_t fill)
{
    return Auth::EncodeBase64Url(std::vector<std::uint8_t>(32, fill));
}
const std::string kToken1 = Token(0x11);
const std::string kToken2 = Token(0x22);
}

TEST_F(IdentityWorker, ConfigurationFromTheInstalledIndex)
{
    auto identity = Make();
    const auto started = identity->StartIdentity();
    ASSERT_TRUE(started) << started.error();
    EXPECT_EQ(identity->ServiceUrls(), (std::vector<std::string>{"https://id0", "https://id1"}));
    EXPECT_EQ(identity->FirstServiceUrl(), "https://id0");
    EXPECT_EQ(identity->ReleaseName(), "Spring");
    EXPECT_EQ(identity->CdnUrl(), "https://cdn0");
    EXPECT_EQ(identity->ReleaseIdentity().size(), 64u);

    // An update whose index names no identity service keeps the configuration.
    m_folder.Install({}, "https://cdn1", false);
    identity->Queue(ERequest::ReloadService);
    m_reports.WaitFor(1);
    EXPECT_EQ(m_reports.reloads, std::vector<bool>{false});
    EXPECT_EQ(identity->CdnUrl(), "https://cdn0");

    m_folder.Install({"https://id2"}, "https://cdn2");

    identity->Queue(ERequest::ReloadService);
    m_reports.WaitFor(2);
    EXPECT_EQ(m_reports.reloads.back(), true);
    EXPECT_EQ(identity->ServiceUrls(), std::vector<std::string>{"https://id2"});
    EXPECT_EQ(identity->CdnUrl(), "https://cdn2");
}

TEST(IdentityConfig, MissingOrServiceLessIndex)
{
    LauncherFolder folder;
    EXPECT_EQ(folder.Load().error(), "Client/pack/release.quillmereindex does not read");
    folder.Install({}, "", false); // the index reader refuses it before the loader could
    EXPECT_FALSE(folder.Load());
}

TEST_F(IdentityWorker, QueueOrderAndSignedOutRequestsWithoutTraffic)
{
    Answer("/v1/login/start", 401, "{}"); // the first sign-in is refused before its proof
    auto identity = Make();
    const auto started = identity->StartIdentity();
    ASSERT_TRUE(started) << started.error();
    Gate(false);
    identity->Queue(ERequest::Refresh);
    identity->SignIn("Rowan", "a password");
    identity->Queue(ERequest::GameExchange);
    identity->QueueKind(9);
    identity->Queue(ERequest::SignOut);
    identity->Queue(ERequest::PollStatus);
    Gate(true);
    m_reports.WaitFor(6);

    std::vector<std::pair<int, EOutcome>> seen;
    for (const auto& [kind, outcome] : m_reports.outcomes)
    {
        seen.emplace_back(kind, outcome.kind);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, EOutcome>>{{4, EOutcome::SignedOut},
                                                            {1, EOutcome::Unauthorised},
                                                            {3, EOutcome::SignedOut},
                                                            {9, EOutcome::Failed},
                                                            {2, EOutcome::SignedOut}}));
    EXPECT_EQ(m_reports.outcomes[3].second.message, "");
    ASSERT_EQ(m_reports.statuses.size(), 1u);
    EXPECT_EQ(m_reports.statuses[0].world, Auth::EWorld::Unknown);
    // Only the sign-in went out; the sign-out deleted the entry all the same.
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("https://id0/v1/login/start ", 0), 0u);
    EXPECT_EQ(m_store.deletes, 2); // the refused sign-in and the sign-out
}

TEST_F(IdentityWorker, ResumeExchangeAndSignOutOnTheStoredSignIn)
{
    m_store.entries["Quillmere/identity/https://id0"] = {"Rowan", std::vector<std::uint8_t>(32, 1)};
    Answer("/v1/refresh", 200, R"({"refresh":")" + kToken1 + R"(","login":"Rowan"})");
    Answer("/v1/exchange/new", 200, R"({"refresh":")" + kToken2 + R"(","code":")" + kToken1 + R"("})");
    Answer("/v1/signout", 204, "");
    auto identity = Make();
    const auto started = identity->StartIdentity();
    ASSERT_TRUE(started) << started.error();
    EXPECT_EQ(identity->CurrentLogin(), "Rowan");

    identity->Queue(ERequest::Resume);
    const SLoginOutcome exchanged = identity->ExchangeForGame();
    EXPECT_EQ(exchanged.kind, EOutcome::SignedIn);
    EXPECT_EQ(exchanged.code[0], 0x11);
    m_reports.WaitFor(2);
    {
        const std::lock_guard guard(m_reports.lock);
        const auto& shown = m_reports.outcomes[1].second;
        EXPECT_EQ(m_reports.outcomes[1].first, 3);
        EXPECT_EQ(shown.kind, EOutcome::SignedIn);
        EXPECT_EQ(shown.login, "");
        EXPECT_EQ(shown.code, (std::array<std::uint8_t, 32>{}));
        EXPECT_EQ(m_reports.outcomes[0].second.refresh, (std::array<std::uint8_t, 32>{}));
    }
    EXPECT_EQ(m_store.entries["Quillmere/identity/https://id0"].second[0], 0x22); // rotated in

    identity->Queue(ERequest::SignOut);
    m_reports.WaitFor(3);
    EXPECT_EQ(identity->CurrentLogin(), "");
    EXPECT_TRUE(m_store.entries.empty());
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], R"(https://id0/v1/refresh {"refresh":")" + Token(0x01) + R"("})");
    EXPECT_EQ(calls[1], R"(https://id0/v1/exchange/new {"refresh":")" + kToken1 + R"("})");
    EXPECT_EQ(calls[2], R"(https://id0/v1/signout {"refresh":")" + kToken2 + R"("})");
}

TEST_F(IdentityWorker, StopFailsQueuedExchangesAndLaterOnes)
{
    m_store.entries["Quillmere/identity/https://id0"] = {"Rowan", std::vector<std::uint8_t>(32, 1)};
    auto identity = Make();
    EXPECT_EQ(identity->ExchangeForGame().kind, EOutcome::Failed); // not started
    const auto started = identity->StartIdentity();
    ASSERT_TRUE(started) << started.error();

    Gate(false);
    identity->Queue(ERequest::Refresh); // held in the service
    auto waiting = std::async(std::launch::async, [&] { return identity->ExchangeForGame(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto stopping = std::async(std::launch::async, [&] { identity->StopIdentity(); });
    const auto failed = waiting.get(); // woken before the worker finishes its refresh
    EXPECT_EQ(failed.kind, EOutcome::Failed);
    EXPECT_EQ(failed.message, "");
    Gate(true);
    stopping.get();

    EXPECT_EQ(identity->ExchangeForGame().kind, EOutcome::Failed);
    EXPECT_EQ(identity->CurrentLogin(), "");
    EXPECT_EQ(Calls().size(), 1u); // the exchange never went out
    EXPECT_EQ(m_store.entries.size(), 1u); // the entry stays for the next start
}

TEST(ExchangeSpacing, OneAtATimeAnIntervalApartAndALimitsRetryHonoured)
{
    using namespace std::chrono_literals;
    Auth::CExchangeSpacing spacing;
    const auto t0 = std::chrono::steady_clock::time_point() + 1h;
    ASSERT_EQ(spacing.Begin(t0), 0u);
    EXPECT_EQ(spacing.Begin(t0 + 1h), 5u); // the first is still in flight
    spacing.Finish(t0 + 2s, SLoginOutcome(EOutcome::Unreachable));
    EXPECT_EQ(spacing.Begin(t0 + 6s + 1ms), 1u); // rounded up, never 0
    ASSERT_EQ(spacing.Begin(t0 + 7s), 0u);
    SLoginOutcome limited(EOutcome::Limited);
    limited.retrySeconds = 0xFFFFFFFF; // the largest the reply carries
    spacing.Finish(t0 + 8s, limited);
    EXPECT_EQ(spacing.Begin(t0 + 9s), 0xFFFFFFFFu - 1);
}

// A client that asks while an exchange runs, and again and again after it, gets "wait" at
// once; only the first request reaches the service and rewrites the stored sign-in.
TEST_F(IdentityWorker, AClientAskingInALoopIsHeldBackWithoutTraffic)
{
    m_store.entries["Quillmere/identity/https://id0"] = {"Rowan", std::vector<std::uint8_t>(32, 1)};
    Answer("/v1/exchange/new", 200, R"({"refresh":")" + kToken2 + R"(","code":")" + kToken1 + R"("})");
    auto identity = Make();
    ASSERT_TRUE(identity->StartIdentity());
    Gate(false);
    auto first = std::async(std::launch::async, [&] { return identity->ExchangeForGame(); });
    while (Calls().empty())
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    auto opener = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Gate(true);
    });
    const SLoginOutcome during = identity->ExchangeForGame();
    EXPECT_EQ(during.kind, EOutcome::Limited);
    EXPECT_EQ(during.retrySeconds, 5u);
    EXPECT_EQ(first.get().kind, EOutcome::SignedIn);
    for (int i = 0; i < 10; ++i)
    {
        EXPECT_EQ(identity->ExchangeForGame().kind, EOutcome::Limited);
    }
    EXPECT_EQ(Calls().size(), 1u);
    EXPECT_EQ(m_store.writes, 1);
}
