// Wiping secrets (passwords, keys, tokens, answers that carry them) before their memory is
// freed or reused. Free of <windows.h>; every module that holds a secret links it.
#pragma once

#include <cstddef>

// Sets the bytes to zero in a way the optimiser may not remove. Null or zero length: nothing.
void SecureWipe(void* buffer, std::size_t length) noexcept;

// Wipes a container's bytes (its capacity is not touched).
template <typename Container>
void SecureWipe(Container& container) noexcept
{
    SecureWipe(container.data(), container.size() * sizeof(*container.data()));
}
