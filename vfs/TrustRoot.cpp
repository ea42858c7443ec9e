#include "vfs/Index.h"

// From the build: QM_TRUST_ROOT_BYTES is the CMake value QM_TRUST_ROOT as byte literals,
// QM_DEVELOPMENT_ROOT_BYTES the development root's public key, QM_RELEASE_BUILD 1 in a build
// that ships.
namespace Vfs
{
namespace
{
constexpr std::array<std::uint8_t, 32> kTrustRoot{QM_TRUST_ROOT_BYTES};
constexpr std::array<std::uint8_t, 32> kDevelopmentRoot{QM_DEVELOPMENT_ROOT_BYTES};
constexpr bool kDevelopmentBuild = kTrustRoot == kDevelopmentRoot;
static_assert(!(QM_RELEASE_BUILD && kDevelopmentBuild),
    "a shipping build cannot trust the development root, whose private key is in the repository");
}

std::span<const std::uint8_t, 32> TrustRoot() noexcept
{
    return kTrustRoot;
}

bool IsDevelopmentBuild() noexcept
{
    return kDevelopmentBuild;
}

std::string MarkDevelopmentBuild(std::string_view label)
{
    std::string marked(label);
    if (kDevelopmentBuild)
    {
        marked += marked.empty() ? "development build" : " (development build)";
    }
    return marked;
}
}
