// Feeds arbitrary bodies to the key scanner. The first byte picks one of the keys the
// sign-in answers use; every found value must be a view inside the body, and the number
// parsers must agree with each other.
#include "auth/Json.h"

#include <array>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::array<std::string_view, 6> kKeys{"state", "login", "retry", "token", "n", ""};
    if (size == 0)
    {
        return 0;
    }
    const std::string_view key = kKeys[data[0] % kKeys.size()];
    const std::span<const char> body(reinterpret_cast<const char*>(data + 1), size - 1);

    const auto value = Auth::Json::FindValue(body, key);
    if (!value)
    {
        return 0;
    }
    if (value.text.data() < body.data() || value.text.data() + value.text.size() > body.data() + body.size())
    {
        std::abort();
    }
    const auto wide = Auth::Json::ParseU64(value);
    const auto narrow = Auth::Json::ParseU32(value);
    if (narrow != 0 && (!wide || *wide != narrow))
    {
        std::abort();
    }
    return 0;
}
