#include "vfs/Index.h"

// QM_TRUST_ROOT_BYTES comes from the build: the CMake value QM_TRUST_ROOT as byte literals.
namespace Vfs
{
namespace
{
constexpr std::array<std::uint8_t, 32> kTrustRoot{QM_TRUST_ROOT_BYTES};
}

std::span<const std::uint8_t, 32> TrustRoot() noexcept
{
    return kTrustRoot;
}
}
