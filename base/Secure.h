// Wiping secrets (passwords, keys, tokens, answers that carry them) before their memory is
// freed or reused. Free of <windows.h>; every module that holds a secret links it.
#pragma once

#include <cstddef>

namespace Secure
{
// Sets the bytes to zero in a way the optimiser may not remove. Null or zero length: nothing.
void Wipe(void* buffer, std::size_t length) noexcept;

// Wipes a container's bytes (its capacity is not touched).
template <typename Container>
void Wipe(Container& container) noexcept
{
    Wipe(container.data(), container.size() * sizeof(*container.data()));
}
}
