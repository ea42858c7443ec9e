// The identity worker: one thread that serves a first-in first-out queue of identity
// requests (sign-in, sign-out, refresh, status poll, reload of the service configuration, and
// the game client's one-time codes), owns the identity configuration read from the installed
// release index and the stored sign-in, and reports every result through its callbacks. The
// window turns those into posted messages; the game hand-off blocks on ExchangeForGame.
//
//   Auth::CIdentity identity(Auth::LauncherIdentityParams(reports));
//   if (auto started = identity.StartIdentity(); !started) { ... started.error() ... }
//   identity.Queue(Auth::ERequest::Resume);
//   ...
//   identity.StopIdentity(); // fails queued requests, joins the thread
#pragma once

#include "auth/ExchangeSpacing.h"
#include "auth/Request.h"
#include "auth/SignIn.h"
#include "auth/Status.h"
#include "auth/StoredSignIn.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Auth
{
// The installed release's view of the identity service.
struct SIdentityConfig
{
    std::vector<std::string> serviceUrls; // in the index's order, never empty
    std::string releaseName;
    std::string releaseIdentity; // 64 lowercase hex digits
    std::string cdnUrl;          // empty when the index names none
    std::string credentialTarget;
};

// The installed index, relative to the launcher's folder.
inline constexpr std::string_view kInstalledIndexPath = "Client/pack/release.quillmereindex";

// Reads and verifies the installed index below `folder` (empty: the working directory).
[[nodiscard]] std::expected<SIdentityConfig, std::string> LoadIdentityConfig(
    const std::filesystem::path& folder, std::span<const std::uint8_t, 32> trust_root);

// How the worker reports. Called on the worker thread. Each payload is the receiver's to
// keep (release it) or to let go, which frees it and wipes what it holds.
struct SIdentityReports
{
    // After Resume, SignIn, SignOut, GameExchange (without login, token or code), Refresh and
    // any unknown kind.
    std::function<void(std::uint8_t kind, std::unique_ptr<SLoginOutcome>)> outcome;
    std::function<void(std::unique_ptr<SServiceStatus>)> status;
    // After ReloadService: whether the configuration was read again.
    std::function<void(bool reloaded)> reloaded;
};

struct SIdentityParams
{
    PostFn post;                             // the sign-in calls
    GetFn get;                               // the status poll
    std::unique_ptr<ICredentialStore> store; // the stored sign-in's entry
    std::function<std::expected<SIdentityConfig, std::string>()> load;
    SIdentityReports reports;
};

#ifdef _WIN32
// The launcher's parameters: HTTPS, the Credential Manager and the installed index in the
// working directory under the built-in trust root.
[[nodiscard]] SIdentityParams LauncherIdentityParams(SIdentityReports reports);
#endif

class CIdentity
{
public:
    explicit CIdentity(SIdentityParams params);
    CIdentity(const CIdentity&) = delete;
    CIdentity& operator=(const CIdentity&) = delete;
    ~CIdentity(); // StopIdentity

    // Loads the configuration, reads the stored sign-in and starts the worker. On failure no
    // worker runs: queued requests wait for StopIdentity and ExchangeForGame fails at once.
    [[nodiscard]] std::expected<void, std::string> StartIdentity();

    // Fails every queued request (a waiting ExchangeForGame wakes with Failed), wipes their
    // passwords, lets the worker finish the request in hand, and drops the in-memory sign-in;
    // the stored entry stays. Idempotent.
    void StopIdentity();

    // Any kind but SignIn, which needs its login and password.
    void Queue(ERequest kind);
    // The raw kind, as a window message may carry it; unknown kinds are answered Failed.
    void QueueKind(std::uint8_t kind);
    void SignIn(std::string login, std::string password);

    // For the game hand-off thread: a fresh one-time code, blocking until the worker has
    // served the request. Failed at once when the worker is stopping or not running; Limited
    // at once, with the seconds to wait, while another exchange is in flight or the last one
    // is too recent (auth/ExchangeSpacing.h).
    [[nodiscard]] SLoginOutcome ExchangeForGame();

    // Copies, under the configuration lock.
    [[nodiscard]] std::vector<std::string> ServiceUrls() const;
    [[nodiscard]] std::string FirstServiceUrl() const;
    [[nodiscard]] std::string ReleaseName() const;
    [[nodiscard]] std::string ReleaseIdentity() const;
    [[nodiscard]] std::string CdnUrl() const;
    [[nodiscard]] std::string CurrentLogin() const;

private:
    // A queue entry. The password is wiped as soon as it has been used or dropped, and a
    // promise that nobody fulfilled is failed when the entry goes.
    struct SRequest
    {
        std::uint8_t kind = 0;
        std::string login;
        std::string password;
        std::optional<std::promise<SLoginOutcome>> promise;

        SRequest() = default;
        SRequest(std::uint8_t kind_, std::string login_ = {}, std::string password_ = {});
        SRequest(SRequest&& other) noexcept;
        SRequest& operator=(SRequest&& other) noexcept;
        ~SRequest();
        void WipePassword() noexcept;
        void Fulfil(SLoginOutcome outcome) noexcept;
    };

    void Enqueue(SRequest request);
    void Run(std::stop_token stop);
    void Serve(SRequest& request);
    [[nodiscard]] SLoginOutcome WithToken(SLoginOutcome (*call)(const PostFn&, Auth::ServiceUrls,
                                                                std::span<const std::uint8_t, 32>));
    void Report(std::uint8_t kind, SLoginOutcome outcome);
    void Reload();
    void PublishLogin();

    SIdentityParams m_params;
    CStoredSignIn m_signIn;

    mutable std::mutex m_configLock; // m_config (written by the worker alone once it runs), m_login
    SIdentityConfig m_config;
    std::string m_login;

    std::mutex m_queueLock; // m_queue, m_running, m_stopping, m_exchangeSpacing
    std::condition_variable_any m_wake;
    std::deque<SRequest> m_queue;
    CExchangeSpacing m_exchangeSpacing;
    bool m_running = false;
    bool m_stopping = false;
    std::jthread m_worker;
};
}
