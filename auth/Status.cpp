#include "auth/Status.h"

#include "auth/Json.h"

#include <fmt/format.h>

#include <algorithm>

namespace Auth
{
namespace
{
constexpr std::uint32_t kLauncherBuild = 1;

[[nodiscard]] bool IsReleaseHex(std::string_view text) noexcept
{
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A release's identity and, only when the identity is taken, its number.
void ReadRelease(std::span<const char> body, std::string_view key, std::string_view number_key,
                 std::string& identity, std::uint64_t& number)
{
    const auto value = Json::FindValue(body, key);
    if (!value || !IsReleaseHex(value.text))
    {
        return;
    }
    identity = std::string(value.text);
    if (const auto parsed = Json::ParseU64(Json::FindValue(body, number_key)))
    {
        number = *parsed;
    }
}
}

std::string StatusPath(std::string_view releaseHex)
{
    return fmt::format("/v1/status?release={}&build={}", releaseHex, kLauncherBuild);
}

void ReadStatusAnswer(std::span<const char> body, SServiceStatus& status)
{
    const auto world = Json::FindValue(body, "world");
    if (world && world.text == "up")
    {
        status.world = EWorld::Up;
    }
    else if (world && world.text == "down")
    {
        status.world = EWorld::Down;
    }
    const auto release = Json::FindValue(body, "release");
    if (release && release.text == "old")
    {
        status.old = 1;
    }
    ReadRelease(body, "current", "number", status.current, status.currentNumber);
    ReadRelease(body, "next", "next_number", status.next, status.nextNumber);
}

SServiceStatus PollStatus(const GetFn& get, ServiceUrls urls, std::string_view releaseHex)
{
    const std::string path = StatusPath(releaseHex);
    SServiceStatus status;
    for (const auto& url : urls)
    {
        const auto answer = get(url, path);
        if (!answer)
        {
            if (status.error.empty())
            {
                status.error = fmt::format("{}: {}", url, answer.error().text);
                status.errorClass = answer.error().failureClass;
            }
            continue;
        }
        status.world = EWorld::Unknown;
        status.error.clear();
        status.errorClass = Net::EFailureClass::Unrecognised;
        if (answer->status == 200)
        {
            const auto& body = answer->body;
            ReadStatusAnswer(std::span<const char>(reinterpret_cast<const char*>(body.data()), body.size()), status);
        }
        break;
    }
    return status;
}

#ifdef _WIN32
SServiceStatus PollStatus(ServiceUrls urls, std::string_view releaseHex)
{
    return PollStatus(
        [](std::string_view baseUrl, std::string_view path) {
            return Net::Request(baseUrl, "GET", path, {}, 65536);
        },
        urls, releaseHex);
}
#endif
}
