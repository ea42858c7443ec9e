// The signed release index: its reading, its trust chain and the ratchets on a new one.
//
// Every reader of an index goes through ReadIndex, which verifies the signature (directly
// by the trust root, or by a working key the root certified) before anything but the
// certificate's table entry is interpreted, and then checks every section in a fixed order.
// The first broken rule ends the read with one English message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Vfs
{
using SIdentity = std::array<std::uint8_t, 32>;
using SPieceHash = std::array<std::uint8_t, 16>;

inline constexpr std::uint64_t kPieceSize = 1048576;
inline constexpr std::uint64_t kMaxContainerSize = 268435456;
inline constexpr std::size_t kContainerHeaderSize = 64;

// Flag bit 0 of a file record: the entry is the launcher's own executable.
inline constexpr std::uint16_t kLauncherFlag = 1;

// A container's kind: the first byte of its record, also hashed into its identity.
enum class EContainerKind : std::uint8_t
{
    Boot = 0,
    Session = 1,
    Place = 2,
    Embargo = 3,
};

struct SContainer
{
    EContainerKind kind = EContainerKind::Boot;
    std::uint64_t size = 0; // bytes, header included
    SIdentity identity{};
};

struct SFile
{
    std::string path; // relative to the launcher's folder, "/" separated
    std::uint16_t flags = 0;
    std::uint64_t size = 0;
    SIdentity hash{}; // BLAKE3-256 of the whole file
};

// The bytes [sourceOffset, sourceOffset + length) of the container whose identity is
// source are the bytes [destinationOffset, destinationOffset + length) of container
// `destination` of this release. A record's reserved bytes are zero, so these fields are
// the whole record.
struct SMoveRun
{
    SIdentity source{};
    std::uint64_t sourceOffset = 0;
    std::uint64_t destinationOffset = 0;
    std::uint64_t length = 0;
    std::uint16_t destination = 0;
};

// A parsed, verified index. Read-only once built, so download workers share it freely;
// moved whole from owner to owner.
struct SIndex
{
    std::array<std::uint8_t, 64> header{}; // as read
    SIdentity identity{}; // BLAKE3-256 of the signed bytes
    std::vector<std::string> identityUrls;
    std::string gameHost;
    std::array<std::uint8_t, 32> gameKey{}; // "NOIS"
    std::vector<SContainer> containers;
    std::vector<SPieceHash> pieceHashes;
    std::vector<std::uint32_t> pieceBases; // one per container
    std::vector<SFile> files;
    std::vector<SMoveRun> moves;
    std::string cdnUrl; // empty without "CDNU"
    std::uint32_t keyGeneration = 0; // 0 without a certificate
    std::uint32_t releaseWord = 0;
    std::string releaseName;
    std::vector<std::uint8_t> body;
    std::vector<std::uint8_t> head;

    SIndex() = default;
    SIndex(SIndex&&) noexcept = default;
    SIndex& operator=(SIndex&&) noexcept = default;
    SIndex(const SIndex&) = default;
    SIndex& operator=(const SIndex&) = default;

    [[nodiscard]] std::uint16_t MajorVersion() const noexcept;
    [[nodiscard]] std::uint16_t MinorVersion() const noexcept;
    [[nodiscard]] std::uint64_t ReleaseNumber() const noexcept;
    [[nodiscard]] std::uint32_t SectionCount() const noexcept;
    [[nodiscard]] std::uint64_t BodyOffset() const noexcept;
    [[nodiscard]] std::uint64_t BodyLength() const noexcept;
    // The release's name towards the service and the CDN: 64 lowercase hex digits.
    [[nodiscard]] std::string IdentityHex() const;
};

// The index, every member read, or one message telling why the file was refused.
[[nodiscard]] std::expected<SIndex, std::string> ReadIndex(std::span<const std::uint8_t> file,
    std::span<const std::uint8_t, 32> trustRoot);
[[nodiscard]] std::expected<SIndex, std::string> ReadIndex(std::string_view file,
    std::span<const std::uint8_t, 32> trustRoot);

// The values the launcher has taken so far (the larger of the patch state's and the
// installed index's).
struct STaken
{
    std::uint64_t release = 0;
    std::uint32_t generation = 0;
    std::string_view gameHost; // the installed index's; empty: not compared
};

// The checks on a newly fetched index that ReadIndex accepted, in order: it is the release
// the service named (identity in hex and number), it is for the installed release's game
// (its host, compared without case), it does not go back on the release number, and it is
// not signed under a replaced key generation.
[[nodiscard]] std::expected<void, std::string> CheckNewIndex(const SIndex& index, std::string_view release,
    std::uint64_t number, STaken taken);

// A container's file name: kind word ("unknown" for a byte above 3), "_", the first 8 identity bytes
// in hex, ".quillmerepack".
[[nodiscard]] std::string ContainerName(const SContainer& container);

// A tag as messages show it: letters and digits as themselves, any other byte as "?".
[[nodiscard]] std::string TagName(std::uint32_t tag);

// The rule for a path from an index before it becomes a file on disk: 1 to 260 bytes of
// 0x21..0x7E without "\" and ":", no leading or trailing "/", no "//", no "." or ".."
// segment, and not inside "Client/pack/" (in any case, as Windows compares names).
[[nodiscard]] bool IsIndexPath(std::string_view path) noexcept;

// What keeps a path that passes IsIndexPath from being a game file on Windows.
enum class EPathFault : std::uint8_t
{
    None,
    // A segment Windows would rename or cannot hold: one ending in "." , a reserved device
    // name (CON, NUL, COM1, ... with or without an extension), one of < > " | ? *, or more
    // than 255 bytes.
    NoWindowsName,
    // A place the launcher keeps for itself: its journal, settings and state files, its own
    // executable and the names an update sets it aside under (unless `launcher`, the record
    // carries the launcher flag), and the folders that hold the pack folder.
    LauncherPlace,
};
[[nodiscard]] EPathFault WindowsPathFault(std::string_view path, bool launcher) noexcept;

// The path as Windows compares it: paths of an index are ASCII, so ASCII letters without case.
// Two paths name one file when their keys are equal.
[[nodiscard]] std::string WindowsPathKey(std::string_view path);

// Pieces of a container of the given size: ceil(size / 1 MiB).
[[nodiscard]] constexpr std::uint64_t PieceCount(std::uint64_t size) noexcept
{
    return size / kPieceSize + (size % kPieceSize != 0 ? 1 : 0);
}

// Pure Ed25519 (RFC 8032) through Crypto++; an undecodable key or signature is "not valid".
[[nodiscard]] bool VerifyEd25519(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t> message,
    std::span<const std::uint8_t> signature) noexcept;

// The 56 bytes a release certificate's signature covers.
[[nodiscard]] std::array<std::uint8_t, 56> CertificateMessage(std::uint32_t generation,
    std::span<const std::uint8_t, 32> key) noexcept;

// BLAKE3 in its plain mode: the 32-byte hash, and the 16-byte piece hash.
[[nodiscard]] SIdentity Hash256(std::span<const std::uint8_t> bytes) noexcept;
[[nodiscard]] SPieceHash PieceHash(std::span<const std::uint8_t> bytes) noexcept;

// Lowercase, two digits per byte.
[[nodiscard]] std::string ToHex(std::span<const std::uint8_t> bytes);

// The trust root this launcher was built with (the CMake value QM_TRUST_ROOT).
[[nodiscard]] std::span<const std::uint8_t, 32> TrustRoot() noexcept;

// A development build trusts the development root, whose private key is in the repository
// (tests and the demo sign with it); a build that ships (QM_RELEASE) cannot be one.
[[nodiscard]] bool IsDevelopmentBuild() noexcept;
// The window's version label: the installed release's name, followed in a development build
// by "(development build)" so that nobody hands one to players unknowingly.
[[nodiscard]] std::string MarkDevelopmentBuild(std::string_view label);
}
