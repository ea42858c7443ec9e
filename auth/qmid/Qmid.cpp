// qmid: the sign-in protocol from a console, on the launcher's own code, for diagnosis,
// integration tests and benchmarks. Tokens stay in memory and are never printed.
//
//   qmid [--remember] URL[,URL...] LOGIN STEP...   the password is the first line of standard input
//
//   login        sign in with failover over the URLs
//   refresh      rotate the refresh token
//   exchange     rotate it and get a one-time code
//   signout      end the sign-in
//   stale        refresh with the token that the last rotation replaced (must be refused)
//   status[:HEX] poll the service's status for the release HEX (default 64 zeros)
//   ksf          time the key stretching alone (Argon2id, 64 MiB, 3 passes, 4 lanes)
//   work:BITS    time the proof of work for BITS bits over fresh nonces, with the hash rate
//
// With --remember the steps run on the launcher's identity worker, with the sign-in stored in
// the Credential Manager under "Quillmere/identity/" and the first URL, as the launcher keeps
// it; one more step reads it back:
//
//   resume       refresh the stored sign-in of an earlier run (no password needed)
//
// One line per step: "STEP KIND MS ms[ login=L][ token=new|same][ code=yes]: MESSAGE" ("token"
// only without --remember: the worker shows tokens to nobody); a status step prints
// "status WORLD MS ms old=O current=HEX number=N next=HEX next_number=N: ERROR".
// Exit status 0 when every step ran, 2 for a usage error.
#include "auth/Json.h"
#include "auth/OpaqueCore.h"
#include "auth/Identity.h"
#include "auth/SignIn.h"
#include "auth/Status.h"

#include <fmt/format.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

std::string_view KindName(Auth::EOutcome kind)
{
    switch (kind)
    {
    case Auth::EOutcome::Unauthorised: return "Unauthorised";
    case Auth::EOutcome::LoginRules: return "LoginRules";
    case Auth::EOutcome::Limited: return "Limited";
    case Auth::EOutcome::Unreachable: return "Unreachable";
    case Auth::EOutcome::Failed: return "Failed";
    case Auth::EOutcome::SignedIn: return "SignedIn";
    case Auth::EOutcome::SignedOut: return "SignedOut";
    case Auth::EOutcome::Banned: return "Banned";
    case Auth::EOutcome::Closed: return "Closed";
    case Auth::EOutcome::Unconfirmed: return "Unconfirmed";
    }
    return "?";
}

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> SplitUrls(const std::string& list)
{
    std::vector<std::string> urls;
    std::size_t from = 0;
    while (from <= list.size())
    {
        const auto comma = list.find(',', from);
        const auto end = comma == std::string::npos ? list.size() : comma;
        if (end > from)
        {
            urls.push_back(list.substr(from, end - from));
        }
        from = end + 1;
    }
    return urls;
}

// The tokens of this run; wiped at the end.
struct SSession
{
    std::array<std::uint8_t, 32> refresh{};
    std::array<std::uint8_t, 32> replaced{};
    bool signedIn = false;
    ~SSession()
    {
        Secure::Wipe(refresh);
        Secure::Wipe(replaced);
    }
};

void Report(std::string_view step, const Auth::SLoginOutcome& outcome, double ms, SSession& session)
{
    std::string extra;
    if (!outcome.login.empty())
    {
        extra += fmt::format(" login={}", outcome.login);
    }
    if (outcome.kind == Auth::EOutcome::SignedIn)
    {
        extra += outcome.refresh == session.refresh ? " token=same" : " token=new";
        session.replaced = session.refresh;
        session.refresh = outcome.refresh;
        session.signedIn = true;
        if (outcome.code != std::array<std::uint8_t, 32>{})
        {
            extra += " code=yes";
        }
    }
    if (outcome.kind == Auth::EOutcome::Limited)
    {
        extra += fmt::format(" retry={}", outcome.retrySeconds);
    }
    fmt::print("{} {} {:.0f} ms{}: {}\n", step, KindName(outcome.kind), ms, extra, outcome.message);
    std::fflush(stdout);
}

void TimeKsf()
{
    std::array<std::uint8_t, 64> input{};
    std::array<std::uint8_t, 64> output{};
    const std::array<std::uint8_t, 16> salt{};
    for (std::size_t i = 0; i < input.size(); ++i)
    {
        input[i] = static_cast<std::uint8_t>(i);
    }
    const auto start = Clock::now();
    const bool ok = Auth::Opaque::Argon2id(input, Auth::Opaque::SArgon2Params{.salt = salt}, output);
    fmt::print("ksf {} {:.0f} ms: {}\n", ok ? "ok" : "failed", MillisecondsSince(start),
               Auth::EncodeBase64Url(std::span<const std::uint8_t>(output.data(), 8)));
}

void TimeWork(std::uint32_t bits)
{
    std::uint64_t hashes = 0;
    const auto start = Clock::now();
    int rounds = 0;
    for (; rounds < 64 && (rounds < 4 || MillisecondsSince(start) < 3000); ++rounds)
    {
        std::array<std::uint8_t, 16> nonce{};
        nonce[0] = static_cast<std::uint8_t>(rounds);
        nonce[1] = static_cast<std::uint8_t>(rounds >> 8);
        const auto solution = Auth::DecodeBase64Url(Auth::SolveWork(nonce, bits)).value_or(std::vector<std::uint8_t>(8));
        std::uint64_t counter = 0;
        for (std::size_t i = 0; i < 8; ++i)
        {
            counter |= static_cast<std::uint64_t>(solution[i]) << (8 * i);
        }
        hashes += counter + 1;
    }
    const double ms = MillisecondsSince(start);
    fmt::print("work:{} ok {:.0f} ms: {} proofs, {} hashes, {:.2f} MH/s\n", bits, ms, rounds, hashes,
               static_cast<double>(hashes) / ms / 1000.0);
}

std::string_view WorldName(Auth::EWorld world)
{
    switch (world)
    {
    case Auth::EWorld::Unknown: return "Unknown";
    case Auth::EWorld::Up: return "Up";
    case Auth::EWorld::Down: return "Down";
    case Auth::EWorld::Unreachable: return "Unreachable";
    }
    return "?";
}

void ReportStatus(const Auth::SServiceStatus& status, double ms)
{
    fmt::print("status {} {:.0f} ms old={} current={} number={} next={} next_number={}: {}\n", WorldName(status.world),
               ms, status.old, status.current, status.currentNumber, status.next, status.nextNumber, status.error);
    std::fflush(stdout);
}

// The identity worker of the launcher on the command line's URLs, with the stored sign-in in
// the Credential Manager. Each step queues one request and waits for its report.
class CWorker
{
public:
    CWorker(std::vector<std::string> urls, std::string release)
    {
        Auth::SIdentityParams params = Auth::LauncherIdentityParams({});
        params.load = [urls = std::move(urls), release = std::move(release)]() {
            Auth::SIdentityConfig config;
            config.serviceUrls = urls;
            config.releaseIdentity = release;
            config.credentialTarget = Auth::CredentialTarget(urls.empty() ? std::string() : urls.front());
            return std::expected<Auth::SIdentityConfig, std::string>(std::move(config));
        };
        params.reports.outcome = [this](std::uint8_t, std::unique_ptr<Auth::SLoginOutcome> outcome) {
            Deliver(SReport{std::move(outcome), nullptr});
        };
        params.reports.status = [this](std::unique_ptr<Auth::SServiceStatus> status) {
            Deliver(SReport{nullptr, std::move(status)});
        };
        m_identity = std::make_unique<Auth::CIdentity>(std::move(params));
        (void)m_identity->StartIdentity(); // the configuration above cannot fail
    }
    ~CWorker() { m_identity->StopIdentity(); }

    Auth::CIdentity& operator*() { return *m_identity; }

    struct SReport
    {
        std::unique_ptr<Auth::SLoginOutcome> outcome;
        std::unique_ptr<Auth::SServiceStatus> status;
    };
    SReport Next()
    {
        std::unique_lock lock(m_lock);
        m_arrived.wait(lock, [this] { return !m_reports.empty(); });
        SReport report = std::move(m_reports.front());
        m_reports.pop_front();
        return report;
    }

private:
    void Deliver(SReport report)
    {
        const std::lock_guard lock(m_lock);
        m_reports.push_back(std::move(report));
        m_arrived.notify_one();
    }

    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<SReport> m_reports;
    std::unique_ptr<Auth::CIdentity> m_identity;
};

void ReportStored(std::string_view step, const Auth::SLoginOutcome& outcome, double ms, bool code)
{
    std::string extra;
    if (!outcome.login.empty())
    {
        extra += fmt::format(" login={}", outcome.login);
    }
    if (code)
    {
        extra += " code=yes";
    }
    if (outcome.kind == Auth::EOutcome::Limited)
    {
        extra += fmt::format(" retry={}", outcome.retrySeconds);
    }
    fmt::print("{} {} {:.0f} ms{}: {}\n", step, KindName(outcome.kind), ms, extra, outcome.message);
    std::fflush(stdout);
}

std::string ReadPassword()
{
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r')
    {
        password.pop_back();
    }
    return password;
}

constexpr std::string_view kUsage =
    "usage: qmid [--remember] URL[,URL...] LOGIN STEP... (login refresh exchange signout stale resume status[:HEX]"
    " ksf work:BITS); the password is read from standard input\n";

// The steps on the identity worker; 2 for a step it does not take.
int RunStored(const std::vector<std::string>& urls, const std::string& login, std::span<char*> steps)
{
    std::string release(64, '0');
    for (const char* step : steps)
    {
        if (std::string_view(step).starts_with("status:"))
        {
            release = std::string(step + 7); // the worker's configuration names one release
        }
    }
    CWorker worker(urls, release);
    for (const std::string step : steps)
    {
        const auto start = Clock::now();
        if (step == "login")
        {
            std::string password = ReadPassword();
            (*worker).SignIn(login, std::move(password));
        }
        else if (step == "resume" || step == "refresh" || step == "signout")
        {
            (*worker).Queue(step == "resume"    ? Auth::ERequest::Resume
                            : step == "refresh" ? Auth::ERequest::Refresh
                                                : Auth::ERequest::SignOut);
        }
        else if (step == "exchange")
        {
            const Auth::SLoginOutcome outcome = (*worker).ExchangeForGame();
            (void)worker.Next(); // the window's copy, without the code
            ReportStored(step, outcome, MillisecondsSince(start), outcome.code != std::array<std::uint8_t, 32>{});
            continue;
        }
        else if (step == "status" || step.starts_with("status:"))
        {
            (*worker).Queue(Auth::ERequest::PollStatus);
        }
        else
        {
            std::fprintf(stderr, "qmid: step %s does not run with --remember\n", step.c_str());
            return 2;
        }
        const auto report = worker.Next();
        if (report.status)
        {
            ReportStatus(*report.status, MillisecondsSince(start));
        }
        else
        {
            ReportStored(step, *report.outcome, MillisecondsSince(start), false);
        }
    }
    return 0;
}
}

int main(int argc, char** argv)
{
    const bool remember = argc > 1 && std::string_view(argv[1]) == "--remember";
    if (remember)
    {
        --argc;
        ++argv;
    }
    if (argc < 4)
    {
        std::fputs(kUsage.data(), stderr);
        return 2;
    }
    const auto urls = SplitUrls(argv[1]);
    const std::string login = argv[2];
    if (remember)
    {
        return RunStored(urls, login, std::span<char*>(argv + 3, static_cast<std::size_t>(argc - 3)));
    }
    std::string password;
    bool passwordRead = false;
    SSession session;

    for (int i = 3; i < argc; ++i)
    {
        const std::string step = argv[i];
        const auto start = Clock::now();
        if (step == "login")
        {
            if (!passwordRead)
            {
                std::getline(std::cin, password);
                if (!password.empty() && password.back() == '\r')
                {
                    password.pop_back();
                }
                passwordRead = true;
            }
            auto outcome = Auth::Login(urls, login, password);
            Report(step, outcome, MillisecondsSince(start), session);
        }
        else if (step == "refresh" || step == "exchange" || step == "signout" || step == "stale")
        {
            const auto& token = step == "stale" ? session.replaced : session.refresh;
            auto outcome = step == "exchange" ? Auth::NewExchange(urls, token)
                           : step == "signout" ? Auth::SignOut(urls, token)
                                               : Auth::Refresh(urls, token);
            Report(step, outcome, MillisecondsSince(start), session);
        }
        else if (step == "status" || step.starts_with("status:"))
        {
            const auto status = Auth::PollStatus(urls, step.size() > 7 ? step.substr(7) : std::string(64, '0'));
            ReportStatus(status, MillisecondsSince(start));
        }
        else if (step == "ksf")
        {
            TimeKsf();
        }
        else if (step.rfind("work:", 0) == 0)
        {
            TimeWork(static_cast<std::uint32_t>(std::stoul(step.substr(5))));
        }
        else
        {
            std::fprintf(stderr, "qmid: unknown step %s\n", step.c_str());
            Secure::Wipe(password);
            return 2;
        }
    }
    Secure::Wipe(password);
    return 0;
}
