#include "tools/qmrelease/Release.h"

#include "patch/Plan.h"
#include "base/Secure.h"
#include "vfs/Container.h"
#include "vfs/PieceTree.h"

#include <blake3.h>
#include <fmt/format.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <utility>

namespace QmRelease
{
namespace fs = std::filesystem;

namespace
{
constexpr std::size_t kBlock = 4096;
constexpr std::size_t kUnitsPerBlock = kBlock / 16;
constexpr std::uint64_t kRollMul = 0x9E3779B97F4A7C15ull;

[[nodiscard]] std::uint64_t Unit(const std::uint8_t* p) noexcept
{
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    a *= 0xff51afd7ed558ccdull;
    b *= 0xc4ceb9fe1a85ec53ull;
    return a ^ (b >> 29 | b << 35);
}

[[nodiscard]] std::uint64_t BlockHash(const std::uint8_t* p) noexcept
{
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < kUnitsPerBlock; ++i)
    {
        h = h * kRollMul + Unit(p + 16 * i);
    }
    return h;
}

[[nodiscard]] std::uint64_t OutgoingFactor() noexcept
{
    std::uint64_t f = 1;
    for (std::size_t i = 1; i < kUnitsPerBlock; ++i)
    {
        f *= kRollMul;
    }
    return f;
}

[[nodiscard]] std::uint64_t AlignUp16(std::uint64_t v) noexcept
{
    return (v + 15) / 16 * 16;
}

[[nodiscard]] std::string Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
    {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

[[nodiscard]] std::optional<std::uint64_t> Number(const std::string& text, std::uint64_t limit)
{
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > limit)
    {
        return std::nullopt;
    }
    return v;
}

[[nodiscard]] fs::path ContainerPath(const fs::path& tree, const Vfs::SIdentity& identity)
{
    return tree / "c" / (Vfs::ToHex(identity) + ".quillmerepack");
}

[[nodiscard]] fs::path TreePath(const fs::path& tree, const Vfs::SIdentity& identity)
{
    return tree / "t" / (Vfs::ToHex(identity) + ".quillmeretree");
}

[[nodiscard]] std::expected<Vfs::SIndex, std::string> ReadIndexFile(const fs::path& path,
    std::span<const std::uint8_t, 32> root)
{
    auto bytes = ReadBytes(path);
    if (!bytes)
    {
        return std::unexpected(bytes.error());
    }
    auto index = Vfs::ReadIndex(*bytes, root);
    if (!index)
    {
        return std::unexpected(fmt::format("{}: {}", path.string(), index.error()));
    }
    return index;
}

// The old release's containers, mapped, from the CDN tree that holds its index.
struct SOldRelease
{
    Vfs::SIndex index;
    std::vector<CMapped> maps;
    std::vector<SSource> sources;
};

[[nodiscard]] std::expected<std::unique_ptr<SOldRelease>, std::string> OpenOld(const fs::path& indexPath,
    std::span<const std::uint8_t, 32> root)
{
    auto old = std::make_unique<SOldRelease>();
    auto index = ReadIndexFile(indexPath, root);
    if (!index)
    {
        return std::unexpected(index.error());
    }
    old->index = std::move(*index);
    const fs::path tree = indexPath.parent_path().parent_path();
    for (const Vfs::SContainer& c : old->index.containers)
    {
        CMapped map(ContainerPath(tree, c.identity));
        if (!map.Ok() || map.Bytes().size() != c.size)
        {
            return std::unexpected(fmt::format("{} is missing or not {} bytes", ContainerPath(tree, c.identity).string(), c.size));
        }
        old->maps.push_back(std::move(map));
    }
    for (std::size_t i = 0; i < old->maps.size(); ++i)
    {
        old->sources.push_back({old->index.containers[i].identity, old->maps[i].Bytes()});
    }
    return old;
}
}

CMapped::CMapped(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return;
    }
    struct stat st{};
    if (::fstat(fd, &st) == 0)
    {
        m_size = static_cast<std::size_t>(st.st_size);
        if (m_size == 0)
        {
            m_ok = true;
        }
        else
        {
            void* p = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            if (p != MAP_FAILED)
            {
                m_data = static_cast<const std::uint8_t*>(p);
                m_ok = true;
            }
        }
    }
    ::close(fd);
}

CMapped::CMapped(CMapped&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)), m_ok(std::exchange(other.m_ok, false))
{
}

CMapped& CMapped::operator=(CMapped&& other) noexcept
{
    if (this != &other)
    {
        this->~CMapped();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_ok = std::exchange(other.m_ok, false);
    }
    return *this;
}

CMapped::~CMapped()
{
    if (m_data != nullptr)
    {
        ::munmap(const_cast<std::uint8_t*>(m_data), m_size);
        m_data = nullptr;
    }
}

std::expected<SDescription, std::string> ParseDescription(std::string_view text, const fs::path& folder)
{
    SDescription d;
    bool haveRelease = false;
    bool haveName = false;
    bool haveNois = false;
    std::istringstream lines{std::string(text)};
    std::string line;
    int number = 0;
    while (std::getline(lines, line))
    {
        ++number;
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#')
        {
            continue;
        }
        const auto space = trimmed.find_first_of(" \t");
        const std::string key = trimmed.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : Trim(std::string_view(trimmed).substr(space));
        std::istringstream words(rest);
        std::vector<std::string> args;
        for (std::string w; words >> w;)
        {
            args.push_back(w);
        }
        const auto bad = [&](std::string_view why) {
            return std::unexpected(fmt::format("line {}: {}", number, why));
        };
        if (key == "release" && args.size() == 1)
        {
            const auto v = Number(args[0], UINT64_MAX);
            if (!v)
            {
                return bad("release takes a number");
            }
            d.content.release = *v;
            haveRelease = true;
        }
        else if (key == "name" && !rest.empty())
        {
            d.content.name = rest;
            haveName = true;
        }
        else if (key == "word" && args.size() == 1)
        {
            const auto v = Number(args[0], UINT32_MAX);
            if (!v)
            {
                return bad("word takes a 32-bit number");
            }
            d.content.word = static_cast<std::uint32_t>(*v);
        }
        else if (key == "identity" && args.size() == 1)
        {
            d.content.identityUrls.push_back(args[0]);
        }
        else if (key == "game" && args.size() == 1)
        {
            d.content.gameHost = args[0];
        }
        else if (key == "cdn" && args.size() == 1)
        {
            d.content.cdnUrl = args[0];
        }
        else if (key == "nois" && args.size() == 1)
        {
            const auto k = FromHex(args[0]);
            if (!k || k->size() != 32)
            {
                return bad("nois takes 64 hex digits");
            }
            std::copy(k->begin(), k->end(), d.content.gameKey.begin());
            haveNois = true;
        }
        else if (key == "body" && args.size() == 1)
        {
            auto body = ReadBytes(folder / args[0]);
            if (!body)
            {
                return bad(body.error());
            }
            d.content.body = std::move(*body);
        }
        else if (key == "container" && args.size() == 2)
        {
            static constexpr std::string_view kKinds[] = {"boot", "session", "place", "embargo"};
            const auto kind = std::find(std::begin(kKinds), std::end(kKinds), args[0]);
            if (kind == std::end(kKinds))
            {
                return bad("the kind is one of boot, session, place, embargo");
            }
            d.containers.push_back({static_cast<Vfs::EContainerKind>(kind - std::begin(kKinds)), folder / args[1]});
        }
        else if (key == "file" && (args.size() == 2 || (args.size() == 3 && args[2] == "launcher")))
        {
            if (!Vfs::IsIndexPath(args[0]) || Vfs::WindowsPathFault(args[0], args.size() == 3) != Vfs::EPathFault::None)
            {
                return bad(fmt::format("{} is not a path a release can hold", args[0]));
            }
            d.files.push_back({args[0], folder / args[1], args.size() == 3});
        }
        else
        {
            return bad(fmt::format("cannot read \"{}\"", trimmed));
        }
    }
    if (!haveRelease || !haveName || !haveNois || d.content.gameHost.empty() || d.content.identityUrls.empty())
    {
        return std::unexpected("the description needs release, name, identity, game and nois");
    }
    return d;
}

Vfs::SIdentity ContainerIdentity(Vfs::EContainerKind kind, std::span<const std::uint8_t> content)
{
    const auto kindByte = static_cast<std::uint8_t>(kind);
    blake3_hasher hasher;
    blake3_hasher_init_derive_key(&hasher, "quillmere/vfs/2/chunk-id");
    blake3_hasher_update(&hasher, &kindByte, 1);
    blake3_hasher_update(&hasher, content.data(), content.size());
    Vfs::SIdentity id{};
    blake3_hasher_finalize(&hasher, id.data(), id.size());
    return id;
}

std::vector<Vfs::SMoveRun> FindMoves(std::span<const std::uint8_t> container, std::uint16_t destination,
    std::span<const SSource> sources)
{
    constexpr std::uint64_t kHeader = Vfs::kContainerHeaderSize;
    struct SAt
    {
        std::uint32_t source;
        std::uint64_t offset;
    };
    // Every source block on the 4 KiB grid after the header; a bit filter keeps most
    // look-ups away from the map.
    std::unordered_map<std::uint64_t, SAt> blocks;
    auto filter = std::make_unique<std::bitset<1u << 22>>();
    for (std::uint32_t s = 0; s < sources.size(); ++s)
    {
        const auto bytes = sources[s].bytes;
        for (std::uint64_t at = kHeader; at + kBlock <= bytes.size(); at += kBlock)
        {
            const std::uint64_t h = BlockHash(bytes.data() + at);
            blocks.try_emplace(h, SAt{s, at});
            filter->set(h >> 42);
        }
    }

    std::vector<Vfs::SMoveRun> runs;
    const std::uint8_t* n = container.data();
    const std::uint64_t size = container.size();
    const std::uint64_t outgoing = OutgoingFactor();
    std::uint64_t covered = kHeader;
    std::uint64_t q = kHeader;
    bool fresh = true;
    std::uint64_t h = 0;
    while (q + kBlock <= size)
    {
        if (fresh)
        {
            h = BlockHash(n + q);
            fresh = false;
        }
        if (filter->test(h >> 42))
        {
            const auto found = blocks.find(h);
            if (found != blocks.end())
            {
                const auto src = sources[found->second.source].bytes;
                std::uint64_t p = found->second.offset;
                if (std::memcmp(src.data() + p, n + q, kBlock) == 0)
                {
                    std::uint64_t qs = q;
                    std::uint64_t ps = p;
                    while (qs >= covered + 16 && ps >= kHeader + 16 && std::memcmp(n + qs - 16, src.data() + ps - 16, 16) == 0)
                    {
                        qs -= 16;
                        ps -= 16;
                    }
                    std::uint64_t qe = q + kBlock;
                    std::uint64_t pe = p + kBlock;
                    while (qe + kBlock <= size && pe + kBlock <= src.size() && std::memcmp(n + qe, src.data() + pe, kBlock) == 0)
                    {
                        qe += kBlock;
                        pe += kBlock;
                    }
                    while (qe < size && pe < src.size() && n[qe] == src[pe])
                    {
                        ++qe;
                        ++pe;
                    }
                    runs.push_back({sources[found->second.source].identity, ps, qs, qe - qs, destination});
                    covered = qe;
                    q = AlignUp16(qe);
                    fresh = true;
                    continue;
                }
            }
        }
        if (q + kBlock + 16 > size)
        {
            break;
        }
        h = (h - Unit(n + q) * outgoing) * kRollMul + Unit(n + q + kBlock);
        q += 16;
    }
    return runs;
}

namespace
{
// "build: 512 of 1024 MiB, 850 MiB/s" on standard error while it is a terminal, at most four
// times a second; nothing otherwise.
class CProgressLine
{
public:
    CProgressLine(std::uint64_t total, std::uint64_t before) noexcept
        : m_total(total), m_before(before), m_tty(::isatty(2) == 1)
    {
    }
    ~CProgressLine()
    {
        if (m_tty && m_shown)
        {
            std::fputs("\r\033[K", stderr);
        }
    }
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    void Show(std::uint64_t done)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!m_tty || now - m_last < std::chrono::milliseconds(250))
        {
            return;
        }
        m_last = now;
        m_shown = true;
        static const auto start = std::chrono::steady_clock::now();
        const double seconds = std::max(1e-3, std::chrono::duration<double>(now - start).count());
        const std::uint64_t at = m_before + done;
        std::fprintf(stderr, "\rbuild: %llu of %llu MiB, %.0f MiB/s\033[K", static_cast<unsigned long long>(at >> 20),
            static_cast<unsigned long long>(m_total >> 20), static_cast<double>(at >> 20) / seconds);
    }

private:
    std::uint64_t m_total;
    std::uint64_t m_before;
    bool m_tty;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last{};
};

struct SHashedContainer
{
    Vfs::SIdentity identity{};
    std::vector<Vfs::SPieceHash> pieces;
    Bytes tree;
};

// One piece's hash and tree values into their places.
void HashPieceInto(std::span<const std::uint8_t> piece, std::uint64_t p, SHashedContainer& hashed)
{
    std::vector<std::uint8_t> values;
    hashed.pieces[p] = Vfs::HashPieceWithGroups(piece, values);
    std::copy(values.begin(), values.end(), hashed.tree.begin() + static_cast<std::ptrdiff_t>(Vfs::TreeOffset(p)));
}

// A container's identity, piece hashes and tree values in one read of its content, on every
// core: one thread derives the identity while the others hash pieces 1 and on, then joins
// them; piece 0, which holds the header and so the identity, comes last.
SHashedContainer HashContainer(Vfs::EContainerKind kind, std::span<const std::uint8_t> body, CProgressLine& progress)
{
    const std::uint64_t size = Vfs::kContainerHeaderSize + body.size();
    SHashedContainer hashed;
    hashed.pieces.resize(static_cast<std::size_t>(Vfs::PieceCount(size)));
    hashed.tree.resize(static_cast<std::size_t>(Vfs::TreeSize(size)));
    std::atomic<std::uint64_t> next{1};
    std::atomic<std::uint64_t> done{0};
    const auto pieces = [&] {
        for (std::uint64_t p = next++; p < hashed.pieces.size(); p = next++)
        {
            const std::uint64_t at = p * Vfs::kPieceSize - Vfs::kContainerHeaderSize;
            HashPieceInto(body.subspan(at, std::min(Vfs::kPieceSize, body.size() - at)), p, hashed);
            done += Vfs::kPieceSize;
        }
    };
    std::vector<std::jthread> workers;
    workers.emplace_back([&] {
        hashed.identity = ContainerIdentity(kind, body);
        pieces();
    });
    for (unsigned i = 1; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
    {
        workers.emplace_back(pieces);
    }
    while (done.load() + Vfs::kPieceSize < size && next.load() < hashed.pieces.size())
    {
        progress.Show(done.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    workers.clear();
    const auto header = Vfs::ContainerHeader({kind, size, hashed.identity});
    Bytes first(header.begin(), header.end());
    first.insert(first.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(
                                                             body.size(), Vfs::kPieceSize - Vfs::kContainerHeaderSize)));
    HashPieceInto(first, 0, hashed);
    progress.Show(size);
    return hashed;
}

// Copies `length` bytes of the file into `dest` from offset 64, by the kernel's own copy
// where the file systems allow it, else by reads and writes.
[[nodiscard]] bool CopyBody(const fs::path& source, int dest, std::uint64_t length)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
    {
        return false;
    }
    loff_t from = 0;
    loff_t to = Vfs::kContainerHeaderSize;
    bool kernel = true;
    Bytes buffer;
    while (static_cast<std::uint64_t>(from) < length)
    {
        const std::size_t left = static_cast<std::size_t>(length - static_cast<std::uint64_t>(from));
        if (kernel && ::copy_file_range(in, &from, dest, &to, left, 0) > 0)
        {
            continue;
        }
        kernel = false;
        buffer.resize(static_cast<std::size_t>(Vfs::kPieceSize));
        const ssize_t n = ::pread(in, buffer.data(), std::min(left, buffer.size()), from);
        if (n <= 0 || ::pwrite(dest, buffer.data(), static_cast<std::size_t>(n), to) != n)
        {
            break;
        }
        from += n;
        to += n;
    }
    ::close(in);
    return static_cast<std::uint64_t>(from) == length;
}

struct SWrittenContainer
{
    Vfs::SContainer record;
    SHashedContainer hashed;
};

// A container file and its tree file in the CDN tree: the content is copied once while it
// is hashed, the header written once the identity is known, and the file then named by it.
[[nodiscard]] std::expected<SWrittenContainer, std::string> WriteContainer(const SDescription::SContainerSource& source,
    const fs::path& out, CProgressLine& progress)
{
    const CMapped map(source.content);
    if (!map.Ok())
    {
        return std::unexpected(fmt::format("{} does not read", source.content.string()));
    }
    const auto body = map.Bytes();
    const std::uint64_t size = Vfs::kContainerHeaderSize + body.size();
    if (size > Vfs::kMaxContainerSize)
    {
        return std::unexpected(fmt::format("{}: a container holds at most {} bytes of content",
            source.content.string(), Vfs::kMaxContainerSize - Vfs::kContainerHeaderSize));
    }
    const fs::path temp = out / "c" / ".building";
    const int dest = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (dest < 0)
    {
        return std::unexpected(fmt::format("{} could not be written", temp.string()));
    }
    bool copied = false;
    std::jthread writer([&] { copied = CopyBody(source.content, dest, body.size()); });
    SWrittenContainer written{{}, HashContainer(source.kind, body, progress)};
    writer.join();
    written.record = {source.kind, size, written.hashed.identity};
    const auto header = Vfs::ContainerHeader(written.record);
    const bool ok = copied && ::pwrite(dest, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size());
    const fs::path path = ContainerPath(out, written.record.identity);
    std::error_code ec;
    if (::close(dest) != 0 || !ok || (fs::rename(temp, path, ec), ec))
    {
        fs::remove(temp, ec);
        return std::unexpected(fmt::format("{} could not be written", path.string()));
    }
    if (!WriteBytes(TreePath(out, written.record.identity), written.hashed.tree))
    {
        return std::unexpected(fmt::format("{} could not be written", TreePath(out, written.record.identity).string()));
    }
    return written;
}
}

std::expected<SBuilt, std::string> Build(const SDescription& description, const fs::path& out,
    const SBuildOptions& options)
{
    std::error_code ec;
    for (const char* sub : {"c", "f", "i", "t"})
    {
        fs::create_directories(out / sub, ec);
        if (ec)
        {
            return std::unexpected(fmt::format("{} could not be made", (out / sub).string()));
        }
    }
    SReleaseContent content = description.content;

    std::unique_ptr<SOldRelease> old;
    if (options.previous)
    {
        auto opened = OpenOld(*options.previous, options.root);
        if (!opened)
        {
            return std::unexpected(opened.error());
        }
        old = std::move(*opened);
    }

    SBuilt built;
    std::uint64_t totalBytes = 0;
    std::uint64_t doneBytes = 0;
    for (const auto& source : description.containers)
    {
        std::error_code ignored;
        totalBytes += Vfs::kContainerHeaderSize + fs::file_size(source.content, ignored);
    }
    for (const auto& source : description.containers)
    {
        CProgressLine progress(totalBytes, doneBytes);
        auto written = WriteContainer(source, out, progress);
        if (!written)
        {
            return std::unexpected(written.error());
        }
        const Vfs::SContainer record = written->record;
        const SHashedContainer& hashed = written->hashed;
        const fs::path path = ContainerPath(out, record.identity);
        for (const auto& earlier : content.containers)
        {
            if (std::memcmp(earlier.identity.data(), record.identity.data(), 8) == 0)
            {
                return std::unexpected(fmt::format("{} is named twice", Vfs::ContainerName(record)));
            }
        }
        content.pieceHashes.insert(content.pieceHashes.end(), hashed.pieces.begin(), hashed.pieces.end());
        doneBytes += record.size;
        const CMapped copy(old ? path : fs::path());
        const auto whole = copy.Bytes();
        const auto index = static_cast<std::uint16_t>(content.containers.size());
        content.containers.push_back(record);
        const bool kept = old && std::any_of(old->index.containers.begin(), old->index.containers.end(),
                                     [&](const auto& c) { return c.identity == record.identity; });
        if (old && !kept)
        {
            for (const auto& run : FindMoves(whole, index, old->sources))
            {
                content.moves.push_back(run);
                built.movedBytes += run.length;
            }
        }
    }

    for (const auto& source : description.files)
    {
        auto bytes = ReadBytes(source.source);
        if (!bytes)
        {
            return std::unexpected(bytes.error());
        }
        const auto hash = Vfs::Hash256(*bytes);
        if (!WriteBytes(out / "f" / Vfs::ToHex(hash), *bytes))
        {
            return std::unexpected(fmt::format("{} could not be written", (out / "f" / Vfs::ToHex(hash)).string()));
        }
        content.files.push_back({source.path, static_cast<std::uint16_t>(source.launcher ? Vfs::kLauncherFlag : 0),
            bytes->size(), hash});
    }

    content.certificate = options.certificate;
    built.index = WriteIndex(content, options.signer);
    auto read = Vfs::ReadIndex(built.index, options.root);
    if (!read)
    {
        return std::unexpected(fmt::format("the new index does not read: {}", read.error()));
    }
    built.read = std::move(*read);
    const fs::path indexPath = out / "i" / (built.read.IdentityHex() + ".quillmereindex");
    if (!WriteBytes(indexPath, built.index))
    {
        return std::unexpected(fmt::format("{} could not be written", indexPath.string()));
    }
    return built;
}

namespace
{
// The part file the launcher makes for a new container: the runs copied, what they leave
// open taken from their main source at the same offset, the header written.
Bytes AssembleLikeTheLauncher(const Vfs::SContainer& record, std::span<const Vfs::SMoveRun> runs,
    const std::function<std::span<const std::uint8_t>(const Vfs::SIdentity&)>& sourceOf)
{
    Bytes part(static_cast<std::size_t>(record.size), 0);
    if (runs.empty())
    {
        return part;
    }
    for (const auto& run : runs)
    {
        const auto src = sourceOf(run.source).subspan(run.sourceOffset, run.length);
        std::copy(src.begin(), src.end(), part.begin() + static_cast<std::ptrdiff_t>(run.destinationOffset));
    }
    const auto main = sourceOf(*Patch::MainSource(runs));
    for (const Patch::SRange& gap : Patch::UncoveredRanges(runs, record.size))
    {
        if (gap.offset < main.size())
        {
            const auto src = main.subspan(gap.offset, std::min(gap.length, main.size() - gap.offset));
            std::copy(src.begin(), src.end(), part.begin() + static_cast<std::ptrdiff_t>(gap.offset));
        }
    }
    const auto header = Vfs::ContainerHeader(record);
    std::copy(header.begin(), header.end(), part.begin());
    return part;
}

// The bytes a job of groups fetches: its pieces' tree values, then for each piece the groups
// that differ, or the whole piece where its values are wrong or the groups would not be fewer.
std::uint64_t GroupJobBytes(const Vfs::SIndex& index, std::uint16_t c, const Patch::SJob& job,
    std::span<const std::uint8_t> part, std::span<const std::uint8_t> tree)
{
    const std::uint64_t size = index.containers[c].size;
    const std::uint64_t first = job.offset / Vfs::kPieceSize;
    const std::uint64_t end = first + Vfs::PieceCount(job.length);
    if (tree.size() != Vfs::TreeSize(size))
    {
        return job.length;
    }
    std::uint64_t bytes = std::min(Vfs::TreeOffset(end), Vfs::TreeSize(size)) - Vfs::TreeOffset(first);
    for (std::uint64_t p = first; p < end; ++p)
    {
        const std::uint64_t length = std::min(Vfs::kPieceSize, size - p * Vfs::kPieceSize);
        const auto wanted = *Vfs::ReadGroups(
            tree.subspan(Vfs::TreeOffset(p), Vfs::GroupCount(length) * Vfs::kChainingValueSize));
        std::uint64_t groups = 0;
        for (const auto& range : Patch::GroupFetches(wanted,
                 Vfs::GroupChainingValues(part.subspan(p * Vfs::kPieceSize, length)), length))
        {
            groups += range.length;
        }
        const bool valid = Vfs::PieceHashFromGroups(wanted) == index.pieceHashes[index.pieceBases[c] + p];
        bytes += valid && groups < length ? groups : length;
    }
    return bytes;
}
}

std::expected<SFetch, std::string> MeasureFetch(const fs::path& oldIndex, const fs::path& newIndex,
    std::span<const std::uint8_t, 32> root)
{
    auto old = OpenOld(oldIndex, root);
    if (!old)
    {
        return std::unexpected(old.error());
    }
    auto fresh = ReadIndexFile(newIndex, root);
    if (!fresh)
    {
        return std::unexpected(fresh.error());
    }
    const Vfs::SIndex& index = *fresh;
    SFetch fetch;
    fetch.indexBytes = fs::file_size(newIndex);
    const auto sourceOf = [&](const Vfs::SIdentity& id) -> std::span<const std::uint8_t> {
        for (const auto& s : (*old)->sources)
        {
            if (s.identity == id)
            {
                return s.bytes;
            }
        }
        return {};
    };

    for (std::uint16_t c = 0; c < index.containers.size(); ++c)
    {
        const Vfs::SContainer& record = index.containers[c];
        if (!sourceOf(record.identity).empty())
        {
            ++fetch.keptContainers;
            continue;
        }
        ++fetch.newContainers;
        // The runs the launcher can carry out: a source it holds, read whole.
        std::vector<Vfs::SMoveRun> runs;
        for (const auto& run : index.moves)
        {
            const auto src = sourceOf(run.source);
            if (run.destination == c && !src.empty() && run.sourceOffset <= src.size() &&
                run.length <= src.size() - run.sourceOffset)
            {
                runs.push_back(run);
            }
        }
        const Bytes part = AssembleLikeTheLauncher(record, runs, sourceOf);
        std::vector<std::uint8_t> have(static_cast<std::size_t>(Vfs::PieceCount(record.size)), 0);
        for (std::uint64_t p = 0; p < have.size() && !runs.empty(); ++p)
        {
            const std::uint64_t start = p * Vfs::kPieceSize;
            const auto piece = std::span(part).subspan(start, std::min(Vfs::kPieceSize, record.size - start));
            have[p] = Vfs::CheckPiece(index, c, p, piece) ? 1 : 0;
            fetch.copiedBytes += have[p] != 0 ? piece.size() : 0;
        }
        const auto tree = ReadBytes(newIndex.parent_path() / ".." / Patch::TreeUrl(record));
        for (const Patch::SJob& job : Patch::ContainerJobs(c, have, record.size, Patch::AssembledPieces(runs, have, record.size)))
        {
            fetch.containerBytes += job.groups && tree ? GroupJobBytes(index, c, job, part, *tree) : job.length;
        }
    }
    for (const Vfs::SFile& file : index.files)
    {
        const auto same = std::find_if((*old)->index.files.begin(), (*old)->index.files.end(),
            [&](const Vfs::SFile& o) { return o.path == file.path && o.hash == file.hash && o.size == file.size; });
        if (same == (*old)->index.files.end())
        {
            fetch.fileBytes += file.size;
        }
    }
    return fetch;
}

std::expected<SKeyPair, std::string> ReadKeyFile(const fs::path& path)
{
    std::ifstream in(path);
    if (!in)
    {
        return std::unexpected(fmt::format("{} does not read", path.string()));
    }
    std::string line;
    while (std::getline(in, line))
    {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#')
        {
            continue;
        }
        auto seed = FromHex(t);
        Secure::Wipe(line);
        if (!seed || seed->size() != 32)
        {
            if (seed)
            {
                Secure::Wipe(*seed);
            }
            return std::unexpected(fmt::format("{}: not a key of 64 hex digits", path.string()));
        }
        SKeyPair key = KeyFromSeed(std::span<const std::uint8_t, 32>(seed->data(), 32));
        Secure::Wipe(*seed);
        return key;
    }
    return std::unexpected(fmt::format("{}: no key", path.string()));
}

bool WriteKeyFile(const fs::path& path, const SKeyPair& key, std::string_view comment)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        return false;
    }
    std::string text = fmt::format("# {}\n# public key {}\n{}\n", comment, Vfs::ToHex(key.publicKey), Vfs::ToHex(key.seed));
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    Secure::Wipe(text);
    return ::close(fd) == 0 && ok;
}

std::expected<Bytes, std::string> ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        return std::unexpected(fmt::format("{} does not read", path.string()));
    }
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
    {
        return std::unexpected(fmt::format("{} does not read", path.string()));
    }
    return bytes;
}

bool WriteBytes(const fs::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}
}
