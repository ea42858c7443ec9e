// Round trips of base64url: bytes survive encode then decode, and any text that decodes
// re-encodes to itself (there is exactly one accepted text per byte string).
#include "auth/Json.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const auto back = Auth::DecodeBase64Url(Auth::EncodeBase64Url(bytes));
    if (!back || !std::equal(back->begin(), back->end(), bytes.begin(), bytes.end()))
    {
        std::abort();
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = Auth::DecodeBase64Url(text); decoded && Auth::EncodeBase64Url(*decoded) != text)
    {
        std::abort();
    }
    return 0;
}
