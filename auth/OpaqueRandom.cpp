// The random source of the sign-in: the system's preferred generator.
#include "auth/OpaqueCore.h"

#ifdef _WIN32
#include <windows.h>

#include <bcrypt.h>

// RtlGenRandom, exported by advapi32 under this name.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);
#else
#include <sodium.h>
#endif

#include <algorithm>

namespace Auth::Opaque
{
namespace
{
bool FillFromSystem(void*, std::uint8_t* out, std::size_t length) noexcept
{
#ifdef _WIN32
    // In pieces a ULONG can count; RtlGenRandom stands in for a piece BCrypt refuses.
    while (length > 0)
    {
        const auto piece = static_cast<ULONG>(std::min<std::size_t>(length, 0xFFFFFFFFu));
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG)) &&
            !SystemFunction036(out, piece))
        {
            return false;
        }
        out += piece;
        length -= piece;
    }
    return true;
#else
    if (sodium_init() < 0)
    {
        return false;
    }
    randombytes_buf(out, length);
    return true;
#endif
}
}

SRandom SystemRandom() noexcept
{
    return SRandom{&FillFromSystem, nullptr};
}
}
