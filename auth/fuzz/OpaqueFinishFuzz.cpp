// The finish step on any KE2 and password, from a fixed client state (identity key
// stretching, so each input is quick). Bytes: KE2 (320, zero-padded), then the password.
#include "auth/OpaqueCore.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

namespace
{
bool Fixed(void*, std::uint8_t* out, std::size_t length) noexcept
{
    for (std::size_t i = 0; i < length; ++i)
    {
        out[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return true;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace Auth::Opaque;
    static const std::array<std::uint8_t, 192> state = [] {
        std::array<std::uint8_t, 192> made{};
        std::array<std::uint8_t, 96> ke1{};
        const std::uint8_t password[] = {'p', 'w'};
        if (ClientStart(SRandom{&Fixed, nullptr}, password, made, ke1) != kOk)
        {
            std::abort();
        }
        return made;
    }();
    std::array<std::uint8_t, 320> ke2{};
    std::copy_n(data, std::min(size, ke2.size()), ke2.begin());
    const Bytes password = size > ke2.size() ? Bytes(data + ke2.size(), size - ke2.size()) : Bytes();
    std::array<std::uint8_t, 64> ke3{};
    std::array<std::uint8_t, 64> key{};
    const std::array<std::uint8_t, 3> context = {'f', 'u', 'z'};
    const auto code = ClientFinish(SSuite{.context = context, .ksf = EKsf::Identity}, state, password, ke2, ke3, key);
    if (code < kOk || code > kInternal || code == kBadArguments || code == kPasswordRefused || code == kSuiteNotSupported)
    {
        std::abort();
    }
    return 0;
}
