// The OPAQUE client core from a command line, for checks against third-party servers
// (serenity.mjs beside it). Empty context, the product's Argon2id, no identities.
//   opaque_peer start PASSWORD                   -> "STATE KE1" in hex
//   opaque_peer finish STATE PASSWORD KE2        -> "CODE KE3 SESSION-KEY" (hex; CODE 0 is success)
#include "auth/OpaqueCore.h"

#include <sodium.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
std::string Hex(const std::uint8_t* bytes, std::size_t size)
{
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

bool FromHex(const char* hex, std::uint8_t* out, std::size_t size)
{
    std::size_t length = 0;
    return std::strlen(hex) == size * 2 &&
           sodium_hex2bin(out, size, hex, size * 2, nullptr, &length, nullptr) == 0 && length == size;
}
}

int main(int argc, char** argv)
{
    using namespace Auth::Opaque;
    if (argc == 3 && std::strcmp(argv[1], "start") == 0)
    {
        std::array<std::uint8_t, 192> state{};
        std::array<std::uint8_t, 96> ke1{};
        const Bytes password(reinterpret_cast<const std::uint8_t*>(argv[2]), std::strlen(argv[2]));
        const auto code = ClientStart(SystemRandom(), password, state, ke1);
        std::printf("%s %s\n", Hex(state.data(), state.size()).c_str(), Hex(ke1.data(), ke1.size()).c_str());
        return code == kOk ? 0 : 1;
    }
    if (argc == 5 && std::strcmp(argv[1], "finish") == 0)
    {
        std::array<std::uint8_t, 192> state{};
        std::array<std::uint8_t, 320> ke2{};
        std::array<std::uint8_t, 64> ke3{};
        std::array<std::uint8_t, 64> key{};
        if (!FromHex(argv[2], state.data(), state.size()) || !FromHex(argv[4], ke2.data(), ke2.size()))
        {
            std::fputs("opaque_peer: bad hex\n", stderr);
            return 2;
        }
        const Bytes password(reinterpret_cast<const std::uint8_t*>(argv[3]), std::strlen(argv[3]));
        const auto code = ClientFinish(SSuite{.context = {}, .ksf = EKsf::Argon2id}, state, password, ke2, ke3, key);
        std::printf("%d %s %s\n", code, Hex(ke3.data(), ke3.size()).c_str(), Hex(key.data(), key.size()).c_str());
        return 0;
    }
    std::fputs("usage: opaque_peer start PASSWORD | finish STATE PASSWORD KE2\n", stderr);
    return 2;
}
