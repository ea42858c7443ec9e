#include "vfs/Index.h"

#include "base/Text.h"
#include "vfs/IndexFormat.h"

#include <blake3.h>
#include <cryptopp/xed25519.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <istream>
#include <optional>
#include <streambuf>
#include <unordered_map>
#include <utility>

namespace Vfs
{
namespace
{
using namespace IndexFormat;

constexpr std::uint32_t kMaxSections = 16;
constexpr std::uint32_t kMaxContainers = 4096;
constexpr std::uint32_t kMaxFiles = 4096;
constexpr std::uint32_t kMaxUrls = 16;
constexpr std::size_t kMaxUrlLength = 512;
constexpr std::size_t kMaxPathLength = 260;
constexpr std::size_t kMaxHostLength = 253;
constexpr std::string_view kHeaderLabel = "the header";
constexpr std::size_t kMaxSegmentLength = 255;
constexpr std::string_view kPackPrefix = "Client/pack/";
constexpr std::string_view kLauncherExe = "Quillmere.exe";

// Files the launcher writes in its own folder, and its executable with the names a
// self-update sets it aside under: no game file may take them, or lie below them.
constexpr std::string_view kLauncherFiles[] = {"patch.journal", "patch.journal.tmp", "patch.state",
    "patch.state.tmp", "Quillmere.cfg", "Quillmere.cfg.tmp", kLauncherExe, "Quillmere.exe.old", "Quillmere.exe.bad"};
// The folders that hold the pack folder cannot be game files either.
constexpr std::string_view kPackFolders[] = {"Client", "Client/pack"};

// Names Windows gives to devices in every folder, with or without an extension.
constexpr std::string_view kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "COM0", "COM1", "COM2",
    "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "LPT0", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",
    "LPT7", "LPT8", "LPT9"};

[[nodiscard]] constexpr char FoldCase(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal as Windows compares file names of ASCII characters.
[[nodiscard]] bool SameNameOnWindows(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

// One path segment that Windows keeps as it is (the byte rule of IsIndexPath already holds).
[[nodiscard]] bool IsWindowsName(std::string_view segment) noexcept
{
    if (segment.empty() || segment.size() > kMaxSegmentLength || segment.back() == '.' ||
        segment.find_first_of("<>\"|?*") != std::string_view::npos)
    {
        return false;
    }
    const std::string_view stem = segment.substr(0, segment.find('.'));
    return std::none_of(std::begin(kDeviceNames), std::end(kDeviceNames),
        [&](std::string_view device) { return SameNameOnWindows(stem, device); });
}

using Bytes = std::span<const std::uint8_t>;

[[nodiscard]] std::uint16_t U16(Bytes b, std::size_t at) noexcept
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

[[nodiscard]] std::uint32_t U32(Bytes b, std::size_t at) noexcept
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

[[nodiscard]] std::uint64_t U64(Bytes b, std::size_t at) noexcept
{
    return static_cast<std::uint64_t>(U32(b, at)) | static_cast<std::uint64_t>(U32(b, at + 4)) << 32;
}

[[nodiscard]] bool AllZero(Bytes b) noexcept
{
    return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; });
}

[[nodiscard]] bool IsPrintable(Bytes b) noexcept
{
    return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v >= 0x21 && v <= 0x7E; });
}

[[nodiscard]] bool StartsWith(Bytes b, std::string_view prefix) noexcept
{
    return b.size() >= prefix.size() && std::memcmp(b.data(), prefix.data(), prefix.size()) == 0;
}

[[nodiscard]] std::string AsString(Bytes b)
{
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

template <std::size_t N>
[[nodiscard]] std::array<std::uint8_t, N> Take(Bytes b, std::size_t at) noexcept
{
    std::array<std::uint8_t, N> out{};
    std::memcpy(out.data(), b.data() + at, N);
    return out;
}

// A read-only stream over bytes in memory.
class CSpanBuffer final : public std::streambuf
{
public:
    explicit CSpanBuffer(Bytes bytes)
    {
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        setg(begin, begin, begin + bytes.size());
    }
};

// Where a wanted section was found, if it was.
struct SSection
{
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool found = false;
};

struct SWanted
{
    std::uint32_t tag;
    std::uint16_t version;
    bool optional;
    SSection section{};
};

// One pass over the section table up to limit; fills the wanted entries it finds.
[[nodiscard]] bool PassTable(Bytes file, std::string_view label, std::uint64_t limit, std::span<SWanted> wanted,
    std::string& error)
{
    const std::uint32_t count = U32(file, 28);
    const std::uint64_t tableEnd = kTableOffset + 16 * static_cast<std::uint64_t>(count);
    if (count > kMaxSections || tableEnd > limit)
    {
        error = fmt::format("{}: a table of {} sections does not fit", label, count);
        return false;
    }
    std::uint64_t end = tableEnd;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        const std::size_t at = kTableOffset + 16 * static_cast<std::size_t>(i);
        const std::uint32_t tag = U32(file, at);
        const std::uint16_t version = U16(file, at + 4);
        const std::uint64_t offset = U32(file, at + 8);
        const std::uint64_t length = U32(file, at + 12);
        if (offset % 16 != 0 || offset < end || offset + length > limit || U16(file, at + 6) != 0)
        {
            error = fmt::format("{}: section {} ({}) lies out of place", label, i, TagName(tag));
            return false;
        }
        end = offset + length;
        for (SWanted& w : wanted)
        {
            if (w.tag != tag)
            {
                continue;
            }
            if (w.section.found || w.version != version)
            {
                error = fmt::format("{}: {} is held twice or is version {}", label, TagName(tag), version);
                return false;
            }
            w.section = {offset, length, true};
        }
    }
    for (const SWanted& w : wanted)
    {
        if (!w.section.found && !w.optional)
        {
            error = fmt::format("{}: no {} section", label, TagName(w.tag));
            return false;
        }
    }
    return true;
}

[[nodiscard]] Bytes SectionBytes(Bytes file, const SSection& s) noexcept
{
    return file.subspan(static_cast<std::size_t>(s.offset), static_cast<std::size_t>(s.length));
}

[[nodiscard]] bool ReadIdnt(Bytes s, SIndex& index, std::string& error)
{
    const std::uint32_t count = s.size() >= 4 ? U32(s, 0) : 0;
    if (count == 0 || count > kMaxUrls)
    {
        error = "IDNT: no URL, or more than the reader takes";
        return false;
    }
    index.identityUrls.reserve(count);
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        if (s.size() - at < 4 || s.size() - at - 4 < U16(s, at))
        {
            error = fmt::format("IDNT: URL {} passes the section's end", i);
            return false;
        }
        const std::size_t n = U16(s, at);
        const Bytes url = s.subspan(at + 4, n);
        if (U16(s, at + 2) != 0 || !(StartsWith(url, "https://") || StartsWith(url, "http://")) ||
            n > kMaxUrlLength || !IsPrintable(url))
        {
            error = fmt::format("IDNT: URL {} is not one", i);
            return false;
        }
        index.identityUrls.push_back(AsString(url));
        at += 4 + n;
    }
    if (at != s.size())
    {
        error = "IDNT: bytes after the last URL";
        return false;
    }
    return true;
}

[[nodiscard]] bool IsHostName(Bytes host) noexcept
{
    if (host.empty() || host.size() > kMaxHostLength || host.front() == '.' || host.back() == '.')
    {
        return false;
    }
    for (std::size_t i = 0; i < host.size(); ++i)
    {
        const std::uint8_t c = host[i];
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && c != '-' && c != '.')
        {
            return false;
        }
        if (c == '.' && i > 0 && host[i - 1] == '.')
        {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool ReadGame(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() < 4 || U16(s, 2) != 0 || s.size() != static_cast<std::size_t>(U16(s, 0)) + 4)
    {
        error = "GAME: not one host";
        return false;
    }
    const Bytes host = s.subspan(4);
    if (!IsHostName(host))
    {
        error = "GAME: its host is no DNS name or IPv4 address";
        return false;
    }
    index.gameHost = AsString(host);
    return true;
}

[[nodiscard]] bool ReadCont(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() < 16 || !AllZero(s.subspan(4, 12)) || U32(s, 0) > kMaxContainers || (s.size() - 16) % 48 != 0 ||
        (s.size() - 16) / 48 != U32(s, 0))
    {
        error = "CONT: its count does not match its records";
        return false;
    }
    const std::uint32_t count = U32(s, 0);
    index.containers.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
    {
        const Bytes r = s.subspan(16 + 48 * static_cast<std::size_t>(i), 48);
        const std::uint64_t size = U64(r, 8);
        if (!AllZero(r.subspan(1, 7)) || r[0] > 3 || size < kContainerHeaderSize || size > kMaxContainerSize)
        {
            error = fmt::format("CONT: container {} is not well formed", i);
            return false;
        }
        SContainer c{static_cast<EContainerKind>(r[0]), size, Take<32>(r, 16)};
        for (const SContainer& earlier : index.containers)
        {
            if (std::memcmp(earlier.identity.data(), c.identity.data(), 8) == 0)
            {
                error = fmt::format("CONT: {} is named twice", ContainerName(c));
                return false;
            }
        }
        index.containers.push_back(c);
    }
    return true;
}

[[nodiscard]] bool ReadStrs(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() < 8 || U16(s, 6) != 0 || s.size() != static_cast<std::size_t>(U16(s, 4)) + 8)
    {
        error = "STRS: its sizes do not match";
        return false;
    }
    std::string name = AsString(s.subspan(8));
    if (name.empty() || !Text::IsUtf8(name))
    {
        error = "STRS: the release has no name, or one that is not UTF-8";
        return false;
    }
    index.releaseWord = U32(s, 0);
    index.releaseName = std::move(name);
    return true;
}

[[nodiscard]] bool ReadPiec(Bytes s, SIndex& index, std::string& error)
{
    // At most 4,096 containers of at most 256 pieces: the total fits 32 bits.
    std::uint64_t total = 0;
    index.pieceBases.reserve(index.containers.size());
    for (const SContainer& c : index.containers)
    {
        index.pieceBases.push_back(static_cast<std::uint32_t>(total));
        total += PieceCount(c.size);
    }
    if (s.size() != 16 * total)
    {
        error = fmt::format("PIEC: {} bytes, where the containers have {} pieces", s.size(), total);
        return false;
    }
    index.pieceHashes.resize(static_cast<std::size_t>(total));
    if (total != 0)
    {
        std::memcpy(index.pieceHashes.data(), s.data(), s.size());
    }
    return true;
}

// The files of an index as Windows sees them: two paths equal but for case are one file,
// and a file cannot also be a folder of another file's path.
class CWindowsPaths
{
public:
    // The number of an earlier file that the path meets, or nothing after taking it in.
    [[nodiscard]] std::optional<std::uint32_t> Add(std::string_view path, std::uint32_t number)
    {
        const std::string key = WindowsPathKey(path);
        if (const auto file = m_files.find(key); file != m_files.end())
        {
            return file->second;
        }
        if (const auto folder = m_folders.find(key); folder != m_folders.end())
        {
            return folder->second;
        }
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
        {
            std::string folder = key.substr(0, slash);
            if (const auto file = m_files.find(folder); file != m_files.end())
            {
                return file->second;
            }
            m_folders.emplace(std::move(folder), number);
        }
        m_files.emplace(key, number);
        return std::nullopt;
    }

private:
    std::unordered_map<std::string, std::uint32_t> m_files;
    std::unordered_map<std::string, std::uint32_t> m_folders; // the first file each one holds
};

[[nodiscard]] bool ReadFile(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() < 16 || U32(s, 0) > kMaxFiles || !AllZero(s.subspan(4, 12)))
    {
        error = "FILE: its count is not well formed";
        return false;
    }
    const std::uint32_t count = U32(s, 0);
    // Each record takes at least 64 bytes (48 and a padded path of at least one byte).
    index.files.reserve(std::min<std::size_t>(count, (s.size() - 16) / 64));
    CWindowsPaths paths;
    std::size_t at = 16;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        if (s.size() - at < 48)
        {
            error = fmt::format("FILE: file {} passes the section's end", i);
            return false;
        }
        const Bytes r = s.subspan(at, 48);
        const std::uint16_t flags = U16(r, 2);
        if (U32(r, 4) != 0 || flags > 3)
        {
            error = fmt::format("FILE: file {} is not well formed", i);
            return false;
        }
        const std::size_t pathLength = U16(r, 0);
        const std::size_t padded = (pathLength + 15) / 16 * 16;
        if (s.size() - at - 48 < padded)
        {
            error = fmt::format("FILE: file {} passes the section's end", i);
            return false;
        }
        const std::string path = AsString(s.subspan(at + 48, pathLength));
        if (!IsIndexPath(path))
        {
            error = fmt::format("FILE: file {}'s path is not well formed, or not in order", i);
            return false;
        }
        if (!AllZero(s.subspan(at + 48 + pathLength, padded - pathLength)))
        {
            error = fmt::format("FILE: file {} is not well formed", i);
            return false;
        }
        if (!index.files.empty() && !(index.files.back().path < path))
        {
            error = fmt::format("FILE: file {}'s path is not well formed, or not in order", i);
            return false;
        }
        switch (WindowsPathFault(path, (flags & kLauncherFlag) != 0))
        {
        case EPathFault::NoWindowsName:
            error = fmt::format("FILE: file {}'s path cannot be a file on Windows", i);
            return false;
        case EPathFault::LauncherPlace:
            error = fmt::format("FILE: file {}'s path is the launcher's own", i);
            return false;
        case EPathFault::None:
            break;
        }
        if (const auto other = paths.Add(path, i))
        {
            error = fmt::format("FILE: file {} and file {} are one path on Windows", i, *other);
            return false;
        }
        index.files.push_back(SFile{path, flags, U64(r, 8), Take<32>(r, 16)});
        at += 48 + padded;
    }
    if (at != s.size())
    {
        error = "FILE: bytes after the last file";
        return false;
    }
    return true;
}

[[nodiscard]] bool ReadMove(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() < 16 || !AllZero(s.subspan(4, 12)) || (s.size() - 16) % 64 != 0 || (s.size() - 16) / 64 != U32(s, 0))
    {
        error = "MOVE: its count does not match its records";
        return false;
    }
    const std::uint32_t count = U32(s, 0);
    index.moves.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
    {
        const Bytes r = s.subspan(16 + 64 * static_cast<std::size_t>(i), 64);
        SMoveRun run{Take<32>(r, 0), U64(r, 32), U64(r, 40), U64(r, 48), U16(r, 56)};
        const bool fits = run.destination < index.containers.size() && AllZero(r.subspan(58, 6)) && run.length != 0 &&
                          run.sourceOffset % 16 == 0 && run.sourceOffset >= kContainerHeaderSize &&
                          run.destinationOffset % 16 == 0 && run.destinationOffset >= kContainerHeaderSize &&
                          run.destinationOffset <= index.containers[run.destination].size &&
                          run.length <= index.containers[run.destination].size - run.destinationOffset;
        if (!fits)
        {
            error = fmt::format("MOVE: run {} is not well formed", i);
            return false;
        }
        index.moves.push_back(run);
    }
    return true;
}

[[nodiscard]] bool ReadCdnu(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() < 4 || U16(s, 2) != 0 || s.size() != static_cast<std::size_t>(U16(s, 0)) + 4)
    {
        error = "CDNU: its sizes do not match";
        return false;
    }
    const Bytes url = s.subspan(4);
    if (url.size() < 8 || url.size() > kMaxUrlLength || !StartsWith(url, "https://") || !IsPrintable(url))
    {
        error = "CDNU: not an https:// URL";
        return false;
    }
    index.cdnUrl = AsString(url);
    return true;
}

[[nodiscard]] bool ReadNois(Bytes s, SIndex& index, std::string& error)
{
    if (s.size() != 32)
    {
        error = "NOIS: not one public key";
        return false;
    }
    index.gameKey = Take<32>(s, 0);
    return true;
}
}

std::uint16_t SIndex::MajorVersion() const noexcept
{
    return U16(header, 8);
}

std::uint16_t SIndex::MinorVersion() const noexcept
{
    return U16(header, 10);
}

std::uint64_t SIndex::ReleaseNumber() const noexcept
{
    return U64(header, 16);
}

std::uint32_t SIndex::SectionCount() const noexcept
{
    return U32(header, 28);
}

std::uint64_t SIndex::BodyOffset() const noexcept
{
    return U64(header, 32);
}

std::uint64_t SIndex::BodyLength() const noexcept
{
    return U64(header, 40);
}

std::string SIndex::IdentityHex() const
{
    return ToHex(identity);
}

namespace
{
// Fills index completely and returns true, or returns false with one message in error
// (index may then hold members of the steps before the failure).
[[nodiscard]] bool ReadInto(Bytes file, std::span<const std::uint8_t, 32> trustRoot, SIndex& index,
    std::string& error)
{
    index = SIndex{};

    if (file.size() < kMinFileSize || file.size() > kMaxFileSize)
    {
        error = fmt::format("the file is {} bytes", file.size());
        return false;
    }
    const std::uint64_t signedLength = file.size() - kSignatureSize;
    const Bytes signedBytes = file.first(static_cast<std::size_t>(signedLength));
    const Bytes signature = file.subspan(static_cast<std::size_t>(signedLength));

    // Only the certificate's place is read before the signature is checked.
    SWanted certificate[] = {{kCert.tag, kCert.version, true}};
    if (!PassTable(file, kHeaderLabel, signedLength, certificate, error))
    {
        return false;
    }

    std::array<std::uint8_t, 32> indexKey{};
    std::copy(trustRoot.begin(), trustRoot.end(), indexKey.begin());
    if (certificate[0].section.found)
    {
        const Bytes cert = SectionBytes(file, certificate[0].section);
        if (cert.size() != kCertificateSize || U32(cert, 0) == 0 || !AllZero(cert.subspan(4, 12)))
        {
            error = "CERT: not one certificate";
            return false;
        }
        const std::uint32_t generation = U32(cert, 0);
        const auto certifiedKey = Take<32>(cert, 16);
        const auto message = CertificateMessage(generation, certifiedKey);
        if (!VerifyEd25519(trustRoot, message, cert.subspan(48, 64)))
        {
            error = "the certificate does not verify by the trust root";
            return false;
        }
        indexKey = certifiedKey;
        index.keyGeneration = generation;
    }
    if (!VerifyEd25519(indexKey, signedBytes, signature))
    {
        error = index.keyGeneration != 0 ? "the signature does not verify by the certified key"
                                         : "the signature does not verify by the trust root";
        return false;
    }

    std::copy_n(file.begin(), index.header.size(), index.header.begin());
    if (!StartsWith(file, kMagic) || index.MajorVersion() != kMajor || U32(file, 12) != kHeaderSize ||
        !AllZero(file.subspan(48, 16)))
    {
        error = fmt::format("not an index of major {} (major {})", kMajor, index.MajorVersion());
        return false;
    }

    const std::uint64_t bodyOffset = index.BodyOffset();
    const std::uint64_t tableEnd = kTableOffset + kTableEntrySize * index.SectionCount();
    if (bodyOffset % 16 != 0 || bodyOffset < tableEnd || bodyOffset > signedLength ||
        index.BodyLength() != signedLength - bodyOffset || index.BodyLength() < 32)
    {
        error = "the body lies out of place";
        return false;
    }

    if (index.MinorVersion() < kMinor)
    {
        error = fmt::format("an index of minor {}, where this reader takes {}: build the release again",
            index.MinorVersion(), kMinor);
        return false;
    }

    SWanted sections[] = {{kIdnt.tag, kIdnt.version, false}, {kNois.tag, kNois.version, false},
        {kCont.tag, kCont.version, false}, {kStrs.tag, kStrs.version, false}, {kGame.tag, kGame.version, false},
        {kPiec.tag, kPiec.version, false}, {kFile.tag, kFile.version, false}, {kMove.tag, kMove.version, false},
        {kCdnu.tag, kCdnu.version, true}};
    if (!PassTable(file, kHeaderLabel, bodyOffset, sections, error))
    {
        return false;
    }
    const auto section = [&](std::size_t i) { return SectionBytes(file, sections[i].section); };
    if (!ReadIdnt(section(0), index, error) || !ReadGame(section(4), index, error) ||
        !ReadCont(section(2), index, error) || !ReadStrs(section(3), index, error) ||
        !ReadPiec(section(5), index, error) || !ReadFile(section(6), index, error) ||
        !ReadMove(section(7), index, error) || (sections[8].section.found && !ReadCdnu(section(8), index, error)) ||
        !ReadNois(section(1), index, error))
    {
        return false;
    }

    index.identity = Hash256(signedBytes);
    const auto body = signedBytes.subspan(static_cast<std::size_t>(bodyOffset));
    index.body.assign(body.begin(), body.end());
    const auto head = signedBytes.first(static_cast<std::size_t>(bodyOffset));
    index.head.assign(head.begin(), head.end());
    return true;
}

}

std::expected<SIndex, std::string> ReadIndex(std::span<const std::uint8_t> file,
    std::span<const std::uint8_t, 32> trustRoot)
{
    SIndex index;
    std::string error;
    if (!ReadInto(file, trustRoot, index, error))
    {
        return std::unexpected(std::move(error));
    }
    return index;
}

std::expected<SIndex, std::string> ReadIndex(std::string_view file, std::span<const std::uint8_t, 32> trustRoot)
{
    return ReadIndex(Bytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()), trustRoot);
}

std::expected<void, std::string> CheckNewIndex(const SIndex& index, std::string_view release, std::uint64_t number,
    STaken taken)
{
    if (index.IdentityHex() != release || index.ReleaseNumber() != number)
    {
        return std::unexpected(std::string("the CDN's index is not the release the service named"));
    }
    if (!taken.gameHost.empty() && !SameNameOnWindows(index.gameHost, taken.gameHost))
    {
        return std::unexpected(fmt::format("the new index is for the game at {}, not for this launcher's game at {}",
            index.gameHost, taken.gameHost));
    }
    if (index.ReleaseNumber() < taken.release)
    {
        return std::unexpected(fmt::format("release {} is older than release {}, which this launcher has taken",
            index.ReleaseNumber(), taken.release));
    }
    if (index.keyGeneration < taken.generation)
    {
        return std::unexpected(fmt::format(
            "the new index is signed by the key of generation {}, which the root has replaced by generation {}",
            index.keyGeneration, taken.generation));
    }
    return {};
}

std::string ContainerName(const SContainer& container)
{
    std::string_view kind = "unknown";
    switch (container.kind)
    {
    case EContainerKind::Boot:
        kind = "boot";
        break;
    case EContainerKind::Session:
        kind = "session";
        break;
    case EContainerKind::Place:
        kind = "place";
        break;
    case EContainerKind::Embargo:
        kind = "embargo";
        break;
    }
    return fmt::format("{}_{}.quillmerepack", kind, ToHex(std::span(container.identity).first(8)));
}

std::string TagName(std::uint32_t tag)
{
    std::string name(4, '?');
    for (std::size_t i = 0; i < 4; ++i)
    {
        const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        {
            name[i] = c;
        }
    }
    return name;
}

bool IsIndexPath(std::string_view path) noexcept
{
    if (path.empty() || path.size() > kMaxPathLength || path.front() == '/' || path.back() == '/' ||
        SameNameOnWindows(path.substr(0, kPackPrefix.size()), kPackPrefix))
    {
        return false;
    }
    for (char c : path)
    {
        const auto v = static_cast<std::uint8_t>(c);
        if (v < 0x21 || v > 0x7E || c == '\\' || c == ':')
        {
            return false;
        }
    }
    std::size_t start = 0;
    while (start <= path.size())
    {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos)
        {
            slash = path.size();
        }
        const std::string_view segment = path.substr(start, slash - start);
        if (segment.empty() || segment == "." || segment == "..")
        {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

EPathFault WindowsPathFault(std::string_view path, bool launcher) noexcept
{
    const std::string_view first = path.substr(0, path.find('/'));
    for (std::string_view file : kLauncherFiles)
    {
        if (SameNameOnWindows(first, file) && !(launcher && file == kLauncherExe && first == path))
        {
            return EPathFault::LauncherPlace;
        }
    }
    for (std::string_view folder : kPackFolders)
    {
        if (SameNameOnWindows(path, folder))
        {
            return EPathFault::LauncherPlace;
        }
    }
    std::size_t start = 0;
    while (start < path.size())
    {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (!IsWindowsName(path.substr(start, slash - start)))
        {
            return EPathFault::NoWindowsName;
        }
        start = slash + 1;
    }
    return EPathFault::None;
}

std::string WindowsPathKey(std::string_view path)
{
    std::string key(path);
    std::transform(key.begin(), key.end(), key.begin(), [](char c) { return FoldCase(c); });
    return key;
}

bool VerifyEd25519(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t> message,
    std::span<const std::uint8_t> signature) noexcept
{
    if (signature.size() != 64)
    {
        return false;
    }
    try
    {
        // The stream form hashes the message where it lies; the message form first copies
        // it into an accumulator, which triples the time for a large index.
        CSpanBuffer buffer(message);
        std::istream stream(&buffer);
        const CryptoPP::ed25519Verifier verifier(key.data());
        return verifier.VerifyStream(stream, signature.data(), signature.size());
    }
    catch (...)
    {
        return false;
    }
}

std::array<std::uint8_t, 56> CertificateMessage(std::uint32_t generation, std::span<const std::uint8_t, 32> key) noexcept
{
    std::array<std::uint8_t, 56> message{};
    std::memcpy(message.data(), "QMVFSCRT", 8);
    for (std::size_t i = 0; i < 4; ++i)
    {
        message[8 + i] = static_cast<std::uint8_t>(generation >> (8 * i));
    }
    std::copy(key.begin(), key.end(), message.begin() + 24);
    return message;
}

SIdentity Hash256(std::span<const std::uint8_t> bytes) noexcept
{
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    blake3_hasher_update(&hasher, bytes.data(), bytes.size());
    SIdentity out{};
    blake3_hasher_finalize(&hasher, out.data(), out.size());
    return out;
}

SPieceHash PieceHash(std::span<const std::uint8_t> bytes) noexcept
{
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    blake3_hasher_update(&hasher, bytes.data(), bytes.size());
    SPieceHash out{};
    blake3_hasher_finalize(&hasher, out.data(), out.size());
    return out;
}

std::string ToHex(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes)
    {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}
}
