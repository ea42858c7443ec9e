// The release builder: a release description becomes a CDN tree of containers, loose files
// and one signed index; move runs let a player's launcher copy what an earlier release
// already shipped instead of downloading it.
//
// Release description: one statement per line, "#" starts a comment line, paths are
// relative to the description's folder.
//   release 2                        release number (required)
//   name Spring 1.2                  release name, the rest of the line (required)
//   word 0                           release word (default 0)
//   identity https://id.example.com  identity service URL (1 to 16 lines)
//   game play.example.com            game host (required)
//   cdn https://cdn.example.com/live CDN base URL (optional)
//   nois <64 hex digits>             the game's public key (required)
//   body data/body.bin               index body (default 32 zero bytes)
//   container session data/a.bin     a container of that kind (boot, session, place,
//                                    embargo); the file is its content after the header
//   file Client/x.dll build/x.dll    a loose file at that release path
//   file Quillmere.exe build/Q.exe launcher    the launcher's own file
#pragma once

#include "tools/qmrelease/Writer.h"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace QmRelease
{
struct SDescription
{
    SReleaseContent content; // everything but containers, pieces, files and moves
    struct SContainerSource
    {
        Vfs::EContainerKind kind = Vfs::EContainerKind::Boot;
        std::filesystem::path content;
    };
    struct SFileSource
    {
        std::string path;
        std::filesystem::path source;
        bool launcher = false;
    };
    std::vector<SContainerSource> containers;
    std::vector<SFileSource> files;
};

[[nodiscard]] std::expected<SDescription, std::string> ParseDescription(std::string_view text,
    const std::filesystem::path& folder);

// A file mapped read-only (empty files map to an empty span).
class CMapped
{
public:
    CMapped() = default;
    explicit CMapped(const std::filesystem::path& path);
    CMapped(CMapped&& other) noexcept;
    CMapped& operator=(CMapped&& other) noexcept;
    CMapped(const CMapped&) = delete;
    CMapped& operator=(const CMapped&) = delete;
    ~CMapped();
    [[nodiscard]] bool Ok() const noexcept { return m_ok; }
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept { return {m_data, m_size}; }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_ok = false;
};

// A container of an earlier release that new containers may copy from.
struct SSource
{
    Vfs::SIdentity identity{};
    std::span<const std::uint8_t> bytes; // the whole container file, header included
};

// Move runs that rebuild as much of the new container (header included, which no run
// touches) as the sources hold: blocks of 4 KiB found at any 16-byte-aligned shift with a
// rolling hash, grown in both directions while the bytes agree.
[[nodiscard]] std::vector<Vfs::SMoveRun> FindMoves(std::span<const std::uint8_t> container, std::uint16_t destination,
    std::span<const SSource> sources);

// The container's identity: BLAKE3 in key-derivation mode, context
// "quillmere/vfs/2/chunk-id", over the kind byte and the content.
[[nodiscard]] Vfs::SIdentity ContainerIdentity(Vfs::EContainerKind kind, std::span<const std::uint8_t> content);

struct SBuildOptions
{
    SKeyPair signer; // the root, or the working key the certificate names
    std::optional<std::array<std::uint8_t, 112>> certificate;
    std::optional<std::filesystem::path> previous; // the previous release's index in a CDN tree
    std::array<std::uint8_t, 32> root{}; // to read the previous index
};

struct SBuilt
{
    Bytes index;
    Vfs::SIndex read; // the index as the launcher reads it
    std::uint64_t movedBytes = 0;
};

// Writes c/{identity}.quillmerepack with its tree file t/{identity}.quillmeretree (the group
// values of its pieces), f/{hash} and i/{identity}.quillmereindex into out.
[[nodiscard]] std::expected<SBuilt, std::string> Build(const SDescription& description,
    const std::filesystem::path& out, const SBuildOptions& options);

// What a launcher holding the old release fetches to reach the new one, with its
// patcher's rules: a container kept by identity costs nothing, a new one is assembled from
// its move runs (and what they leave open from their main source at the same offset); a
// piece that then fails its hash costs its differing 16 KiB groups and its tree values
// where runs cover a group of it and the tree file beside the new index leads to its hash,
// else the whole piece; changed loose files are fetched whole; the index itself always is.
struct SFetch
{
    std::uint64_t containerBytes = 0;
    std::uint64_t fileBytes = 0;
    std::uint64_t indexBytes = 0;
    std::uint64_t copiedBytes = 0; // piece bytes that verified after the move runs
    std::uint64_t keptContainers = 0;
    std::uint64_t newContainers = 0;
    [[nodiscard]] std::uint64_t Total() const noexcept { return containerBytes + fileBytes + indexBytes; }
};

// Both indexes in CDN trees (containers under ../c beside i/).
[[nodiscard]] std::expected<SFetch, std::string> MeasureFetch(const std::filesystem::path& oldIndex,
    const std::filesystem::path& newIndex, std::span<const std::uint8_t, 32> root);

// Key files: "#" comment lines and one line of 64 hex digits, the Ed25519 seed.
[[nodiscard]] std::expected<SKeyPair, std::string> ReadKeyFile(const std::filesystem::path& path);
[[nodiscard]] bool WriteKeyFile(const std::filesystem::path& path, const SKeyPair& key, std::string_view comment);
[[nodiscard]] std::expected<Bytes, std::string> ReadBytes(const std::filesystem::path& path);
[[nodiscard]] bool WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
}
