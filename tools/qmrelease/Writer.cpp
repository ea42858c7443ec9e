#include "tools/qmrelease/Writer.h"

#include "base/Secure.h"

#include <cryptopp/osrng.h>
#include <cryptopp/xed25519.h>

#include <algorithm>
#include <cstring>

namespace QmRelease
{
using namespace Vfs::IndexFormat;

namespace
{
[[nodiscard]] std::size_t Align16(std::size_t v) noexcept
{
    return (v + 15) / 16 * 16;
}

void Put(Bytes& b, std::size_t at, std::span<const std::uint8_t> bytes)
{
    if (b.size() < at + bytes.size())
    {
        b.resize(at + bytes.size());
    }
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

void Append(Bytes& b, std::string_view text)
{
    b.insert(b.end(), text.begin(), text.end());
}

void AppendU16(Bytes& b, std::uint16_t v)
{
    PutU16(b, b.size(), v);
}

void AppendU32(Bytes& b, std::uint32_t v)
{
    PutU32(b, b.size(), v);
}

// A 16-byte head: the count, then zeros.
[[nodiscard]] Bytes Head(std::size_t count)
{
    Bytes b(16, 0);
    PutU32(b, 0, static_cast<std::uint32_t>(count));
    return b;
}
}

SKeyPair::~SKeyPair()
{
    Secure::Wipe(seed);
}

SKeyPair KeyFromSeed(std::span<const std::uint8_t, 32> seed)
{
    SKeyPair pair;
    std::copy(seed.begin(), seed.end(), pair.seed.begin());
    const CryptoPP::ed25519Signer signer(pair.seed.data());
    const auto& key = static_cast<const CryptoPP::ed25519PrivateKey&>(signer.GetPrivateKey());
    std::copy_n(key.GetPublicKeyBytePtr(), 32, pair.publicKey.begin());
    return pair;
}

SKeyPair MakeKeyPair()
{
    CryptoPP::AutoSeededRandomPool random;
    std::array<std::uint8_t, 32> seed{};
    random.GenerateBlock(seed.data(), seed.size());
    SKeyPair pair = KeyFromSeed(seed);
    Secure::Wipe(seed);
    return pair;
}

std::array<std::uint8_t, 64> Sign(const SKeyPair& key, std::span<const std::uint8_t> message)
{
    const CryptoPP::ed25519Signer signer(key.publicKey.data(), key.seed.data());
    std::array<std::uint8_t, 64> signature{};
    signer.SignMessage(CryptoPP::NullRNG(), // Ed25519 signing is deterministic
 message.data(), message.size(), signature.data());
    return signature;
}

std::array<std::uint8_t, 112> MakeCertificate(const SKeyPair& root, std::uint32_t generation,
    std::span<const std::uint8_t, 32> certifiedKey)
{
    std::array<std::uint8_t, 112> cert{};
    for (std::size_t i = 0; i < 4; ++i)
    {
        cert[i] = static_cast<std::uint8_t>(generation >> (8 * i));
    }
    std::copy(certifiedKey.begin(), certifiedKey.end(), cert.begin() + 16);
    const auto signature = Sign(root, Vfs::CertificateMessage(generation, certifiedKey));
    std::copy(signature.begin(), signature.end(), cert.begin() + 48);
    return cert;
}

Bytes LayOut(const SLayout& layout)
{
    const std::size_t count = layout.sections.size();
    Bytes file(kHeaderSize + kTableEntrySize * count, 0);
    std::memcpy(file.data(), layout.magic.data(), std::min<std::size_t>(layout.magic.size(), 8));
    PutU16(file, 8, layout.major);
    PutU16(file, 10, layout.minor);
    PutU32(file, 12, layout.headerSize);
    PutU64(file, 16, layout.release);
    PutU32(file, 24, layout.reservedWord);
    PutU32(file, 28, layout.count.value_or(static_cast<std::uint32_t>(count)));
    std::copy(layout.reserved.begin(), layout.reserved.end(), file.begin() + 48);

    std::size_t next = Align16(file.size());
    for (std::size_t i = 0; i < count; ++i)
    {
        const SSection& s = layout.sections[i];
        const std::size_t offset = s.offset.value_or(static_cast<std::uint32_t>(next));
        const std::size_t entry = kTableOffset + kTableEntrySize * i;
        PutU32(file, entry, s.tag);
        PutU16(file, entry + 4, s.version);
        PutU16(file, entry + 6, s.reserved);
        PutU32(file, entry + 8, static_cast<std::uint32_t>(offset));
        PutU32(file, entry + 12, s.length.value_or(static_cast<std::uint32_t>(s.bytes.size())));
        if (file.size() < offset)
        {
            file.resize(offset);
        }
        Put(file, offset, s.bytes);
        next = std::max(next, Align16(offset + s.bytes.size()));
    }
    file.resize(next);
    PutU64(file, 32, layout.bodyOffset.value_or(file.size()));
    PutU64(file, 40, layout.bodyLength.value_or(layout.body.size()));
    file.insert(file.end(), layout.body.begin(), layout.body.end());
    return file;
}

void AppendSignature(Bytes& file, const SKeyPair& key)
{
    const auto signature = Sign(key, file);
    file.insert(file.end(), signature.begin(), signature.end());
}

Bytes IdntSection(const std::vector<std::string>& urls)
{
    Bytes b;
    AppendU32(b, static_cast<std::uint32_t>(urls.size()));
    for (const std::string& url : urls)
    {
        AppendU16(b, static_cast<std::uint16_t>(url.size()));
        AppendU16(b, 0);
        Append(b, url);
    }
    return b;
}

Bytes GameSection(std::string_view host)
{
    Bytes b;
    AppendU16(b, static_cast<std::uint16_t>(host.size()));
    AppendU16(b, 0);
    Append(b, host);
    return b;
}

Bytes ContSection(const std::vector<Vfs::SContainer>& containers)
{
    Bytes b = Head(containers.size());
    for (const Vfs::SContainer& c : containers)
    {
        Bytes r(48, 0);
        r[0] = static_cast<std::uint8_t>(c.kind);
        PutU64(r, 8, c.size);
        std::copy(c.identity.begin(), c.identity.end(), r.begin() + 16);
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

Bytes StrsSection(std::uint32_t word, std::string_view name)
{
    Bytes b;
    AppendU32(b, word);
    AppendU16(b, static_cast<std::uint16_t>(name.size()));
    AppendU16(b, 0);
    Append(b, name);
    return b;
}

Bytes PiecSection(const std::vector<Vfs::SPieceHash>& hashes)
{
    Bytes b(hashes.size() * 16);
    if (!hashes.empty())
    {
        std::memcpy(b.data(), hashes.data(), b.size());
    }
    return b;
}

Bytes FileSection(const std::vector<Vfs::SFile>& files)
{
    Bytes b = Head(files.size());
    for (const Vfs::SFile& f : files)
    {
        Bytes r(48, 0);
        PutU16(r, 0, static_cast<std::uint16_t>(f.path.size()));
        PutU16(r, 2, f.flags);
        PutU64(r, 8, f.size);
        std::copy(f.hash.begin(), f.hash.end(), r.begin() + 16);
        Append(r, f.path);
        r.resize(48 + Align16(f.path.size()), 0);
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

Bytes MoveSection(const std::vector<Vfs::SMoveRun>& moves)
{
    Bytes b = Head(moves.size());
    for (const Vfs::SMoveRun& m : moves)
    {
        Bytes r(64, 0);
        std::copy(m.source.begin(), m.source.end(), r.begin());
        PutU64(r, 32, m.sourceOffset);
        PutU64(r, 40, m.destinationOffset);
        PutU64(r, 48, m.length);
        PutU16(r, 56, m.destination);
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

Bytes CdnuSection(std::string_view url)
{
    return GameSection(url);
}

SLayout Sections(const SReleaseContent& content)
{
    SLayout layout;
    layout.release = content.release;
    layout.body = content.body;
    auto& s = layout.sections;
    if (content.certificate)
    {
        s.push_back({kCert.tag, kCert.version, 0, Bytes(content.certificate->begin(), content.certificate->end())});
    }
    std::vector<Vfs::SFile> files = content.files;
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    s.push_back({kIdnt.tag, kIdnt.version, 0, IdntSection(content.identityUrls)});
    s.push_back({kNois.tag, kNois.version, 0, Bytes(content.gameKey.begin(), content.gameKey.end())});
    s.push_back({kCont.tag, kCont.version, 0, ContSection(content.containers)});
    s.push_back({kStrs.tag, kStrs.version, 0, StrsSection(content.word, content.name)});
    s.push_back({kGame.tag, kGame.version, 0, GameSection(content.gameHost)});
    s.push_back({kPiec.tag, kPiec.version, 0, PiecSection(content.pieceHashes)});
    s.push_back({kFile.tag, kFile.version, 0, FileSection(files)});
    s.push_back({kMove.tag, kMove.version, 0, MoveSection(content.moves)});
    if (!content.cdnUrl.empty())
    {
        s.push_back({kCdnu.tag, kCdnu.version, 0, CdnuSection(content.cdnUrl)});
    }
    return layout;
}

Bytes WriteIndex(const SReleaseContent& content, const SKeyPair& signer)
{
    Bytes file = LayOut(Sections(content));
    AppendSignature(file, signer);
    return file;
}

void PutU16(Bytes& b, std::size_t at, std::uint16_t v)
{
    const std::array<std::uint8_t, 2> le{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    Put(b, at, le);
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v)
{
    PutU16(b, at, static_cast<std::uint16_t>(v));
    PutU16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

void PutU64(Bytes& b, std::size_t at, std::uint64_t v)
{
    PutU32(b, at, static_cast<std::uint32_t>(v));
    PutU32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

std::optional<Bytes> FromHex(std::string_view text)
{
    if (text.size() % 2 != 0)
    {
        return std::nullopt;
    }
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Bytes out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
    {
        const int hi = digit(text[2 * i]);
        const int lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
        {
            return std::nullopt;
        }
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return out;
}
}
