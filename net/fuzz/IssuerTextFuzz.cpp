// The issuer name comes from a certificate the launcher refused: anything at all.
#include "net/HttpRules.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const std::string kept = Net::IssuerText(name);
    // What is kept is a prefix of at most 20 bytes, and cutting again changes nothing.
    if (kept.size() > 20 || name.substr(0, kept.size()) != kept || Net::IssuerText(kept) != kept)
    {
        std::abort();
    }
    return 0;
}
