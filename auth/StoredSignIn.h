// The stored sign-in: the login and the 32-byte refresh token kept in memory and in one
// generic credential of the user's credential store, so that the next start resumes the
// sign-in with a refresh call instead of asking for the password. The password is never
// stored. Owned by the identity worker, which alone changes it once it runs.
//
// The entry's target is "Quillmere/identity/" followed by the first identity service URL:
// a release that names another first URL starts without a stored sign-in and leaves the old
// entry alone.
#pragma once

#include "auth/Json.h"
#include "auth/SignIn.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Auth
{
inline constexpr std::string_view kCredentialPrefix = "Quillmere/identity/";

// An entry as the store holds it; the blob is wiped when the entry goes.
struct SStoredEntry
{
    std::string userName;
    std::vector<std::uint8_t> blob;

    SStoredEntry() = default;
    SStoredEntry(SStoredEntry&&) noexcept = default;
    SStoredEntry& operator=(SStoredEntry&&) noexcept = default;
    ~SStoredEntry() { Secure::Wipe(blob); }
};

// Where entries live: the Credential Manager on Windows. Failures are silent by design: an
// unreadable entry means nobody is signed in, and the next sign-in writes it again.
class ICredentialStore
{
public:
    virtual ~ICredentialStore() = default;
    [[nodiscard]] virtual std::optional<SStoredEntry> Read(std::string_view target) = 0;
    virtual void Write(std::string_view target, std::string_view user_name, std::span<const std::uint8_t> blob) = 0;
    virtual void Delete(std::string_view target) = 0;
};

#ifdef _WIN32
// Generic credentials, persisted on the local machine, with the blob zeroed before CredFree.
[[nodiscard]] std::unique_ptr<ICredentialStore> MakeCredentialManager();
#endif

[[nodiscard]] std::string CredentialTarget(std::string_view first_service_url);

class CStoredSignIn
{
public:
    explicit CStoredSignIn(ICredentialStore& store) noexcept : m_store(store) {}
    CStoredSignIn(const CStoredSignIn&) = delete;
    CStoredSignIn& operator=(const CStoredSignIn&) = delete;
    ~CStoredSignIn() { Drop(); }

    void SetTarget(std::string target) { m_target = std::move(target); }
    [[nodiscard]] const std::string& Target() const noexcept { return m_target; }

    // Takes login and token from the entry; true (and signed in) when its blob is exactly
    // 32 bytes and its user name is not empty. An entry of another shape is left in place.
    bool ReadStoredSignIn();
    void WriteStoredSignIn();
    // Wipes the token, clears the flag and deletes the entry.
    void ForgetStoredSignIn();

    // After a sign-in, refresh or exchange. SignedIn takes the outcome's token (wiping it
    // there) and names the login in the outcome; Unauthorised forgets; anything else keeps.
    void ApplyOutcome(SLoginOutcome& outcome);

    // At shut-down: the token is wiped and the flag cleared; the entry stays.
    void Drop() noexcept;

    [[nodiscard]] bool SignedIn() const noexcept { return m_signedIn; }
    [[nodiscard]] std::span<const std::uint8_t, 32> Token() const noexcept { return m_token; }
    // The login when signed in, otherwise empty.
    [[nodiscard]] std::string CurrentLogin() const { return m_signedIn ? m_login : std::string(); }

private:
    ICredentialStore& m_store;
    std::string m_target;
    bool m_signedIn = false;
    std::string m_login;
    std::array<std::uint8_t, 32> m_token{};
};
}
