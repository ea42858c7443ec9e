#include "auth/Identity.h"

#include "vfs/Index.h"

#include <fmt/format.h>

#include <chrono>

#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

namespace Auth
{
namespace
{
constexpr std::string_view kNoService = "the release names no identity service";

// Zeroes every byte the string's buffer holds, the unused capacity included: a moved-from
// short string keeps its old characters in place.
void WipeCapacity(std::string& text) noexcept
{
    Secure::Wipe(text.data(), text.capacity());
    text.clear();
}
}

std::expected<SIdentityConfig, std::string> LoadIdentityConfig(const std::filesystem::path& folder,
                                                               std::span<const std::uint8_t, 32> trust_root)
{
    const auto relative = std::filesystem::path(std::u8string(kInstalledIndexPath.begin(), kInstalledIndexPath.end()));
    std::ifstream file(folder.empty() ? relative : folder / relative, std::ios::binary);
    std::string bytes;
    if (file)
    {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    if (!file || bytes.empty())
    {
        return std::unexpected(fmt::format("{} does not read", kInstalledIndexPath));
    }
    auto read = Vfs::ReadIndex(bytes, trust_root);
    if (!read)
    {
        return std::unexpected(std::move(read.error()));
    }
    Vfs::SIndex& index = *read;
    if (index.identityUrls.empty())
    {
        return std::unexpected(std::string(kNoService));
    }
    SIdentityConfig config;
    config.credentialTarget = CredentialTarget(index.identityUrls.front());
    config.serviceUrls = std::move(index.identityUrls);
    config.releaseName = std::move(index.releaseName);
    config.releaseIdentity = index.IdentityHex();
    config.cdnUrl = std::move(index.cdnUrl);
    return config;
}

// --- queue entries -------------------------------------------------------------------------

CIdentity::SRequest::SRequest(std::uint8_t kind_, std::string login_, std::string password_)
    : kind(kind_), login(std::move(login_)), password(std::move(password_))
{
    WipeCapacity(password_);
}

CIdentity::SRequest::SRequest(SRequest&& other) noexcept
    : kind(other.kind), login(std::move(other.login)), password(std::move(other.password)),
      promise(std::move(other.promise))
{
    WipeCapacity(other.password);
    other.promise.reset();
}

CIdentity::SRequest& CIdentity::SRequest::operator=(SRequest&& other) noexcept
{
    if (this != &other)
    {
        WipePassword();
        Fulfil(SLoginOutcome(EOutcome::Failed));
        kind = other.kind;
        login = std::move(other.login);
        password = std::move(other.password);
        WipeCapacity(other.password);
        promise = std::move(other.promise);
        other.promise.reset();
    }
    return *this;
}

CIdentity::SRequest::~SRequest()
{
    WipePassword();
    Fulfil(SLoginOutcome(EOutcome::Failed));
}

void CIdentity::SRequest::WipePassword() noexcept
{
    WipeCapacity(password);
}

void CIdentity::SRequest::Fulfil(SLoginOutcome outcome) noexcept
{
    if (promise)
    {
        try
        {
            promise->set_value(std::move(outcome));
        }
        catch (const std::future_error&)
        {
            // Already satisfied: nothing waits for a second value.
        }
        promise.reset();
    }
}

// --- the worker ----------------------------------------------------------------------------

CIdentity::CIdentity(SIdentityParams params) : m_params(std::move(params)), m_signIn(*m_params.store)
{
}

CIdentity::~CIdentity()
{
    StopIdentity();
}

std::expected<void, std::string> CIdentity::StartIdentity()
{
    {
        const std::lock_guard lock(m_queueLock);
        if (m_running || m_stopping)
        {
            return std::unexpected(std::string("the identity worker has already started"));
        }
    }
    auto config = m_params.load();
    if (!config)
    {
        return std::unexpected(std::move(config.error()));
    }
    m_signIn.SetTarget(config->credentialTarget);
    {
        const std::lock_guard lock(m_configLock);
        m_config = std::move(*config);
    }
    (void)m_signIn.ReadStoredSignIn();
    PublishLogin();

    const std::lock_guard lock(m_queueLock);
    try
    {
        m_worker = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    catch (const std::system_error& error)
    {
        return std::unexpected(fmt::format("the identity worker does not start ({})", error.what()));
    }
    m_running = true;
    return {};
}

void CIdentity::StopIdentity()
{
    std::deque<SRequest> dropped;
    {
        const std::lock_guard lock(m_queueLock);
        m_stopping = true;
        dropped.swap(m_queue);
    }
    m_wake.notify_one();
    dropped.clear(); // fails their promises and wipes their passwords
    if (m_worker.joinable())
    {
        m_worker.request_stop();
        m_worker.join();
    }
    m_signIn.Drop();
    PublishLogin();
}

void CIdentity::Queue(ERequest kind)
{
    QueueKind(static_cast<std::uint8_t>(kind));
}

void CIdentity::QueueKind(std::uint8_t kind)
{
    Enqueue(SRequest(kind));
}

void CIdentity::SignIn(std::string login, std::string password)
{
    Enqueue(SRequest(static_cast<std::uint8_t>(ERequest::SignIn), std::move(login), std::move(password)));
    WipeCapacity(password);
}

SLoginOutcome CIdentity::ExchangeForGame()
{
    SRequest request(static_cast<std::uint8_t>(ERequest::GameExchange));
    std::future<SLoginOutcome> answer = request.promise.emplace().get_future();
    {
        const std::lock_guard lock(m_queueLock);
        if (m_stopping || !m_running)
        {
            request.promise.reset();
            return SLoginOutcome(EOutcome::Failed);
        }
        // Too soon: the client hears what a limited exchange tells it, without any traffic.
        if (const std::uint32_t wait = m_exchangeSpacing.Begin(std::chrono::steady_clock::now()); wait != 0)
        {
            request.promise.reset();
            SLoginOutcome held(EOutcome::Limited);
            held.retrySeconds = wait;
            return held;
        }
        m_queue.push_back(std::move(request));
    }
    m_wake.notify_one();
    SLoginOutcome outcome = answer.get();
    const std::lock_guard lock(m_queueLock);
    m_exchangeSpacing.Finish(std::chrono::steady_clock::now(), outcome);
    return outcome;
}

void CIdentity::Enqueue(SRequest request)
{
    {
        const std::lock_guard lock(m_queueLock);
        m_queue.push_back(std::move(request));
    }
    m_wake.notify_one();
}

void CIdentity::Run(std::stop_token stop)
{
    for (;;)
    {
        SRequest request;
        {
            std::unique_lock lock(m_queueLock);
            m_wake.wait(lock, stop, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping || stop.stop_requested())
            {
                return; // StopIdentity fails what is still queued
            }
            request = std::move(m_queue.front());
            m_queue.pop_front();
        }
        Serve(request);
    }
}

void CIdentity::Serve(SRequest& request)
{
    // The worker is the configuration's only writer, so it reads it without the lock.
    const auto& urls = m_config.serviceUrls;
    switch (static_cast<ERequest>(request.kind))
    {
    case ERequest::Resume:
    case ERequest::Refresh:
        Report(request.kind, WithToken(&Refresh));
        return;
    case ERequest::SignIn: {
        SLoginOutcome outcome = Login(m_params.post, urls, request.login, request.password);
        request.WipePassword();
        m_signIn.ApplyOutcome(outcome);
        PublishLogin();
        Report(request.kind, std::move(outcome));
        return;
    }
    case ERequest::SignOut:
        if (m_signIn.SignedIn())
        {
            (void)Auth::SignOut(m_params.post, urls, m_signIn.Token());
        }
        m_signIn.ForgetStoredSignIn();
        PublishLogin();
        Report(request.kind, SLoginOutcome(EOutcome::SignedOut));
        return;
    case ERequest::GameExchange: {
        SLoginOutcome outcome = WithToken(&NewExchange);
        SLoginOutcome shown(outcome.kind, outcome.message); // no login, token or code
        shown.retrySeconds = outcome.retrySeconds;
        shown.failureClass = outcome.failureClass;
        Report(request.kind, std::move(shown));
        request.Fulfil(std::move(outcome));
        return;
    }
    case ERequest::PollStatus:
        if (m_params.reports.status)
        {
            m_params.reports.status(
                std::make_unique<SServiceStatus>(PollStatus(m_params.get, urls, m_config.releaseIdentity)));
        }
        return;
    case ERequest::ReloadService:
        Reload();
        return;
    }
    Report(request.kind, SLoginOutcome(EOutcome::Failed));
}

SLoginOutcome CIdentity::WithToken(SLoginOutcome (*call)(const PostFn&, Auth::ServiceUrls,
                                                        std::span<const std::uint8_t, 32>))
{
    if (!m_signIn.SignedIn())
    {
        return SLoginOutcome(EOutcome::SignedOut);
    }
    SLoginOutcome outcome = call(m_params.post, m_config.serviceUrls, m_signIn.Token());
    m_signIn.ApplyOutcome(outcome);
    PublishLogin();
    return outcome;
}

void CIdentity::Report(std::uint8_t kind, SLoginOutcome outcome)
{
    if (m_params.reports.outcome)
    {
        m_params.reports.outcome(kind, std::make_unique<SLoginOutcome>(std::move(outcome)));
    }
}

void CIdentity::Reload()
{
    auto config = m_params.load();
    const bool reloaded = config.has_value();
    if (reloaded)
    {
        m_signIn.SetTarget(config->credentialTarget);
        const std::lock_guard lock(m_configLock);
        m_config = std::move(*config);
    }
    if (m_params.reports.reloaded)
    {
        m_params.reports.reloaded(reloaded);
    }
}

void CIdentity::PublishLogin()
{
    std::string login = m_signIn.CurrentLogin();
    const std::lock_guard lock(m_configLock);
    m_login = std::move(login);
}

// --- accessors -----------------------------------------------------------------------------

std::vector<std::string> CIdentity::ServiceUrls() const
{
    const std::lock_guard lock(m_configLock);
    return m_config.serviceUrls;
}

std::string CIdentity::FirstServiceUrl() const
{
    const std::lock_guard lock(m_configLock);
    return m_config.serviceUrls.empty() ? std::string() : m_config.serviceUrls.front();
}

std::string CIdentity::ReleaseName() const
{
    const std::lock_guard lock(m_configLock);
    return m_config.releaseName;
}

std::string CIdentity::ReleaseIdentity() const
{
    const std::lock_guard lock(m_configLock);
    return m_config.releaseIdentity;
}

std::string CIdentity::CdnUrl() const
{
    const std::lock_guard lock(m_configLock);
    return m_config.cdnUrl;
}

std::string CIdentity::CurrentLogin() const
{
    const std::lock_guard lock(m_configLock);
    return m_login;
}
}
