#include "base/Secure.h"

namespace Secure
{

void Wipe(void* buffer, std::size_t length) noexcept
{
    if (buffer == nullptr || length == 0)
    {
        return;
    }
    // Stores through a volatile pointer are observable behaviour and cannot be elided.
    volatile auto* bytes = static_cast<volatile unsigned char*>(buffer);
    for (std::size_t i = 0; i < length; ++i)
    {
        bytes[i] = 0;
    }
    // Keeps the compiler from treating the buffer as dead before the stores.
#if defined(__GNUC__)
    __asm__ __volatile__("" : : "r"(buffer) : "memory");
#endif
}
}
