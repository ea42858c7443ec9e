// The identity worker's Windows parameters: HTTPS, the Credential Manager, the installed
// index, and reports posted to the launcher window.
#include "auth/Identity.h"

#include "shell/Messages.h"
#include "vfs/Index.h"

#include <windows.h>

namespace Auth
{
namespace
{
constexpr std::uint64_t kSignInAnswerLimit = 16384;
constexpr std::uint64_t kStatusAnswerLimit = 65536;

// Hands the payload to the window; when the post fails it stays here and is freed.
template <typename T>
void Post(HWND window, unsigned message, WPARAM wparam, std::unique_ptr<T> payload)
{
    if (PostMessageW(window, message, wparam, reinterpret_cast<LPARAM>(payload.get())))
    {
        (void)payload.release();
    }
}
}

SIdentityParams LauncherIdentityParams(SIdentityReports reports)
{
    SIdentityParams params;
    params.post = [](std::string_view base_url, std::string_view path, std::span<const std::uint8_t> body) {
        return Http::Request(base_url, "POST", path, body, kSignInAnswerLimit);
    };
    params.get = [](std::string_view base_url, std::string_view path) {
        return Http::Request(base_url, "GET", path, {}, kStatusAnswerLimit);
    };
    params.store = MakeCredentialManager();
    params.load = [] { return LoadIdentityConfig({}, Vfs::TrustRoot()); };
    params.reports = std::move(reports);
    return params;
}

SIdentityReports WindowReports(void* window)
{
    const auto hwnd = static_cast<HWND>(window);
    SIdentityReports reports;
    reports.outcome = [hwnd](std::uint8_t kind, std::unique_ptr<SLoginOutcome> outcome) {
        Post(hwnd, Shell::kMsgIdentityOutcome, kind, std::move(outcome));
    };
    reports.status = [hwnd](std::unique_ptr<SServiceStatus> status) {
        Post(hwnd, Shell::kMsgServiceStatus, 0, std::move(status));
    };
    reports.reloaded = [hwnd](bool reloaded) {
        (void)PostMessageW(hwnd, Shell::kMsgReleaseReloaded, reloaded ? 1 : 0, 0);
    };
    return reports;
}
}
