// The identity worker's Windows parameters: HTTPS, the Credential Manager and the installed
// index.
#include "auth/Identity.h"

#include "vfs/Index.h"

namespace Auth
{
namespace
{
constexpr std::uint64_t kSignInAnswerLimit = 16384;
constexpr std::uint64_t kStatusAnswerLimit = 65536;
}

SIdentityParams LauncherIdentityParams(SIdentityReports reports)
{
    SIdentityParams params;
    params.post = [](std::string_view baseUrl, std::string_view path, std::span<const std::uint8_t> body) {
        return Net::Request(baseUrl, "POST", path, body, kSignInAnswerLimit);
    };
    params.get = [](std::string_view baseUrl, std::string_view path) {
        return Net::Request(baseUrl, "GET", path, {}, kStatusAnswerLimit);
    };
    params.store = MakeCredentialManager();
    params.load = [] { return LoadIdentityConfig({}, Vfs::TrustRoot()); };
    params.reports = std::move(reports);
    return params;
}
}
