// The status document's reader: any body gives a record whose releases are 64 lowercase hex
// digits or empty, with no number beside an empty identity.
#include "auth/Status.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace
{
void CheckRelease(const std::string& identity, std::uint64_t number)
{
    const bool hex = identity.size() == 64 && std::all_of(identity.begin(), identity.end(), [](char c) {
                         return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                     });
    if ((!identity.empty() && !hex) || (identity.empty() && number != 0))
    {
        std::abort();
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Auth::SServiceStatus status;
    status.world = Auth::EWorld::Unknown;
    Auth::ReadStatusAnswer(std::span<const char>(reinterpret_cast<const char*>(data), size), status);
    if (static_cast<unsigned>(status.world) > 2 || status.old > 1)
    {
        std::abort();
    }
    CheckRelease(status.current, status.currentNumber);
    CheckRelease(status.next, status.nextNumber);
    return 0;
}
