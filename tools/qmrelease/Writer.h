// Writing release indexes, signed: the publisher's side of the index format.
//
// Two levels. SLayout is the file as laid out section by section, with every header and
// table field open to override, so tests can build any malformed index and still sign it.
// SReleaseContent is what a release holds; Sections() turns it into the well-formed layout.
#pragma once

#include "vfs/Index.h"
#include "vfs/IndexFormat.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace QmRelease
{
using Bytes = std::vector<std::uint8_t>;

// An Ed25519 key pair; the private seed is wiped when the pair goes.
struct SKeyPair
{
    std::array<std::uint8_t, 32> seed{};
    std::array<std::uint8_t, 32> publicKey{};

    SKeyPair() = default;
    SKeyPair(const SKeyPair&) = default;
    SKeyPair& operator=(const SKeyPair&) = default;
    ~SKeyPair();
};

[[nodiscard]] SKeyPair MakeKeyPair();
[[nodiscard]] SKeyPair KeyFromSeed(std::span<const std::uint8_t, 32> seed);
[[nodiscard]] std::array<std::uint8_t, 64> Sign(const SKeyPair& key, std::span<const std::uint8_t> message);

// The 112-byte "CERT" section: generation, zeros, the certified key, the root's signature.
[[nodiscard]] std::array<std::uint8_t, 112> MakeCertificate(const SKeyPair& root, std::uint32_t generation,
    std::span<const std::uint8_t, 32> certifiedKey);

[[nodiscard]] constexpr std::uint32_t MakeTag(const char (&name)[5]) noexcept
{
    return Vfs::IndexFormat::Tag(name);
}

struct SSection
{
    std::uint32_t tag = 0;
    std::uint16_t version = 1;
    std::uint16_t reserved = 0;
    Bytes bytes;
    std::optional<std::uint32_t> offset; // table entry overrides; the bytes go where offset says
    std::optional<std::uint32_t> length;
};

struct SLayout
{
    std::string magic = std::string(Vfs::IndexFormat::kMagic);
    std::uint16_t major = Vfs::IndexFormat::kMajor;
    std::uint16_t minor = Vfs::IndexFormat::kMinor;
    std::uint32_t headerSize = Vfs::IndexFormat::kHeaderSize;
    std::uint64_t release = 1;
    std::uint32_t reservedWord = 0;
    std::array<std::uint8_t, 16> reserved{};
    std::vector<SSection> sections;
    Bytes body = Bytes(32, 0);
    std::optional<std::uint32_t> count; // header field overrides
    std::optional<std::uint64_t> bodyOffset;
    std::optional<std::uint64_t> bodyLength;
};

// The signed bytes: header, table, each section at the next 16-byte boundary in table
// order (or at its overridden offset), then the body at the next boundary.
[[nodiscard]] Bytes LayOut(const SLayout& layout);

// Appends the Ed25519 signature over everything before it.
void AppendSignature(Bytes& file, const SKeyPair& key);

// Section contents in their well-formed encodings.
[[nodiscard]] Bytes IdntSection(const std::vector<std::string>& urls);
[[nodiscard]] Bytes GameSection(std::string_view host);
[[nodiscard]] Bytes ContSection(const std::vector<Vfs::SContainer>& containers);
[[nodiscard]] Bytes StrsSection(std::uint32_t word, std::string_view name);
[[nodiscard]] Bytes PiecSection(const std::vector<Vfs::SPieceHash>& hashes);
[[nodiscard]] Bytes FileSection(const std::vector<Vfs::SFile>& files);
[[nodiscard]] Bytes MoveSection(const std::vector<Vfs::SMoveRun>& moves);
[[nodiscard]] Bytes CdnuSection(std::string_view url);

struct SReleaseContent
{
    std::uint64_t release = 1;
    std::uint32_t word = 0;
    std::string name = "1";
    std::vector<std::string> identityUrls;
    std::string gameHost;
    std::string cdnUrl; // no "CDNU" section when empty
    std::array<std::uint8_t, 32> gameKey{};
    std::vector<Vfs::SContainer> containers;
    std::vector<Vfs::SPieceHash> pieceHashes;
    std::vector<Vfs::SFile> files; // sorted by path by Sections()
    std::vector<Vfs::SMoveRun> moves;
    Bytes body = Bytes(32, 0);
    std::optional<std::array<std::uint8_t, 112>> certificate;
};

// The well-formed layout: "CERT" first when present, then IDNT NOIS CONT STRS GAME PIEC
// FILE MOVE and CDNU.
[[nodiscard]] SLayout Sections(const SReleaseContent& content);

// Lays out and signs (with the root, or with the working key the certificate names).
[[nodiscard]] Bytes WriteIndex(const SReleaseContent& content, const SKeyPair& signer);

// Little-endian helpers for tests and tools that patch bytes in place.
void PutU16(Bytes& b, std::size_t at, std::uint16_t v);
void PutU32(Bytes& b, std::size_t at, std::uint32_t v);
void PutU64(Bytes& b, std::size_t at, std::uint64_t v);

// Hex text of exactly 2n digits into n bytes.
[[nodiscard]] std::optional<Bytes> FromHex(std::string_view text);
}
