// The release index's file layout as its reader (Index.h) and the release builder's writer
// both know it: the magic, the versions, the fixed sizes and the section tags with the
// version each section is written and read in. One place, so that the two cannot drift.
#pragma once

#include <cstdint>
#include <string_view>

namespace Vfs::IndexFormat
{
inline constexpr std::string_view kMagic = "QMVFSIDX";
inline constexpr std::uint16_t kMajor = 1;
inline constexpr std::uint16_t kMinor = 3; // the writer's, and the oldest the reader takes
inline constexpr std::uint32_t kHeaderSize = 64;
inline constexpr std::uint64_t kTableOffset = kHeaderSize; // the section table follows the header
inline constexpr std::uint64_t kTableEntrySize = 16;
inline constexpr std::uint64_t kSignatureSize = 64;    // Ed25519, after the signed bytes
inline constexpr std::uint64_t kCertificateSize = 112; // generation, zeros, key, root's signature
inline constexpr std::uint64_t kMinFileSize = 128;
inline constexpr std::uint64_t kMaxFileSize = 1'073'741'824;

// A section tag: its four ASCII letters as a little-endian 32-bit word.
[[nodiscard]] constexpr std::uint32_t Tag(const char (&name)[5]) noexcept
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[3])) << 24;
}

struct SSectionKind
{
    std::uint32_t tag = 0;
    std::uint16_t version = 1;
};

inline constexpr SSectionKind kCert{Tag("CERT"), 1};
inline constexpr SSectionKind kIdnt{Tag("IDNT"), 1};
inline constexpr SSectionKind kNois{Tag("NOIS"), 1};
inline constexpr SSectionKind kCont{Tag("CONT"), 2};
inline constexpr SSectionKind kStrs{Tag("STRS"), 1};
inline constexpr SSectionKind kGame{Tag("GAME"), 1};
inline constexpr SSectionKind kPiec{Tag("PIEC"), 1};
inline constexpr SSectionKind kFile{Tag("FILE"), 1};
inline constexpr SSectionKind kMove{Tag("MOVE"), 1};
inline constexpr SSectionKind kCdnu{Tag("CDNU"), 1};
}
