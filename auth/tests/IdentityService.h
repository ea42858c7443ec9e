// Where a Windows test finds the reference identity service that the ctest fixture started,
// and its control endpoints (switches that make it misbehave, the requests it received).
#pragma once

#include "auth/Json.h"
#include "net/Http.h"
#include "tools/testservers/TestServers.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace IdentityService
{
inline std::string BaseUrl()
{
    const auto port = TestServers::ReadPort("identity", "");
    return port.empty() ? std::string() : "https://localhost:" + port;
}

inline std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The port of the control endpoints, which the public one does not serve.
inline std::string ControlUrl()
{
    const auto port = TestServers::ReadPort("identity", "control");
    return port.empty() ? std::string() : "https://localhost:" + port;
}

// A call to the service (the control port for /control/ paths); the answer's body as text.
inline std::string Control(std::string_view method, std::string_view path, std::string_view body = {})
{
    const auto answer = Net::Request(
        path.starts_with("/control/") ? ControlUrl() : BaseUrl(), method, path,
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()), 1 << 20);
    EXPECT_TRUE(answer.has_value()) << path << ": " << (answer ? "" : answer.error().text);
    return answer ? Text(answer->body) : std::string();
}

inline void Switch(std::string_view switches)
{
    Control("POST", "/control/switches", switches);
}

// How many requests to `path` the service has received.
inline std::uint32_t Count(std::string_view path)
{
    const auto text = Control("GET", "/control/count?path=" + std::string(path));
    return Auth::Json::ParseU32(Auth::Json::FindValue(std::span<const char>(text.data(), text.size()), "count"));
}
}
