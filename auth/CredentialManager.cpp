// The stored sign-in's entry in the Windows Credential Manager.
#include "auth/StoredSignIn.h"

#include "base/Handle.h"
#include "base/Secure.h"
#include "base/Text.h"

#include <windows.h>
#include <wincred.h>

namespace Auth
{
namespace
{
// A credential returned by CredReadW; its blob is zeroed before CredFree on every path.
struct SCredentialTraits
{
    using Value = PCREDENTIALW;
    static constexpr Value None() noexcept { return nullptr; }
    static bool Valid(Value credential) noexcept { return credential != nullptr; }
    static void Close(Value credential) noexcept
    {
        Secure::Wipe(credential->CredentialBlob, credential->CredentialBlobSize);
        CredFree(credential);
    }
};
using UniqueCredential = UniqueResource<SCredentialTraits>;

class CCredentialManager final : public ICredentialStore
{
public:
    std::optional<SStoredEntry> Read(std::string_view target) override
    {
        const std::wstring name = Text::Utf8ToWide(target);
        UniqueCredential credential;
        if (name.empty() || !CredReadW(name.c_str(), CRED_TYPE_GENERIC, 0, credential.put()))
        {
            return std::nullopt;
        }
        SStoredEntry entry;
        if (credential->UserName != nullptr)
        {
            entry.userName = Text::WideToUtf8(credential->UserName);
        }
        if (credential->CredentialBlob != nullptr)
        {
            entry.blob.assign(credential->CredentialBlob, credential->CredentialBlob + credential->CredentialBlobSize);
        }
        return entry;
    }

    void Write(std::string_view target, std::string_view user_name, std::span<const std::uint8_t> blob) override
    {
        std::wstring name = Text::Utf8ToWide(target);
        std::wstring user = Text::Utf8ToWide(user_name);
        CREDENTIALW credential{};
        credential.Flags = 0;
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = name.data();
        credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
        credential.CredentialBlob = const_cast<std::uint8_t*>(blob.data());
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        credential.UserName = user.data();
        (void)CredWriteW(&credential, 0);
    }

    void Delete(std::string_view target) override
    {
        const std::wstring name = Text::Utf8ToWide(target);
        (void)CredDeleteW(name.c_str(), CRED_TYPE_GENERIC, 0);
    }
};
}

std::unique_ptr<ICredentialStore> MakeCredentialManager()
{
    return std::make_unique<CCredentialManager>();
}
}
