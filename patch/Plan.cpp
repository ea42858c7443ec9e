#include "patch/Plan.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <map>

namespace Patch
{
std::string ContainerPath(const Vfs::SContainer& container)
{
    return fmt::format("{}/{}", kPackFolder, Vfs::ContainerName(container));
}

std::string ContainerPartPath(const Vfs::SContainer& container)
{
    return fmt::format("{}/{}.part", kIncomingFolder, Vfs::ContainerName(container));
}

std::string FilePartPath(const Vfs::SIdentity& hash)
{
    return fmt::format("{}/f_{}.part", kIncomingFolder, Vfs::ToHex(hash));
}

std::string IndexPartPath(std::string_view release)
{
    return fmt::format("{}/{}.quillmereindex.part", kIncomingFolder, release);
}

std::string TreeUrl(const Vfs::SContainer& container)
{
    return fmt::format("t/{}.quillmeretree", Vfs::ToHex(container.identity));
}

void SeparateParts(std::span<SWork> works)
{
    std::map<std::string, std::uint64_t> repeats;
    for (SWork& work : works)
    {
        if (work.container >= 0 || work.complete)
        {
            continue;
        }
        if (const std::uint64_t n = repeats[work.part]++; n != 0)
        {
            work.part = fmt::format("{}/f_{}_{}.part", kIncomingFolder, Vfs::ToHex(work.hash), n);
        }
    }
}

SWork ContainerWork(const Vfs::SIndex& index, std::size_t container, std::vector<std::uint8_t> reusable)
{
    const Vfs::SContainer& record = index.containers[container];
    SWork work;
    work.url = fmt::format("c/{}.quillmerepack", Vfs::ToHex(record.identity));
    work.target = ContainerPath(record);
    work.part = ContainerPartPath(record);
    work.size = record.size;
    work.container = static_cast<std::int32_t>(container);
    work.reusable = std::move(reusable);
    return work;
}

SWork FileWork(const Vfs::SFile& file)
{
    SWork work;
    work.url = fmt::format("f/{}", Vfs::ToHex(file.hash));
    work.target = file.path;
    work.part = FilePartPath(file.hash);
    work.size = file.size;
    work.hash = file.hash;
    return work;
}

SWork IndexWork(std::string_view release, std::uint64_t size)
{
    SWork work;
    work.url = fmt::format("i/{}.quillmereindex", release);
    work.target = std::string(kInstalledIndex);
    work.part = IndexPartPath(release);
    work.size = size;
    work.complete = true;
    return work;
}

std::vector<SJob> ContainerJobs(std::uint64_t work, std::span<const std::uint8_t> have, std::uint64_t size,
    std::span<const std::uint8_t> assembled)
{
    std::vector<SJob> jobs;
    const std::uint64_t pieces = Vfs::PieceCount(size);
    const auto missing = [&](std::uint64_t p) { return !(p < have.size() && have[p] != 0); };
    const auto byGroups = [&](std::uint64_t p) {
        const std::uint64_t length = std::min(Vfs::kPieceSize, size - p * Vfs::kPieceSize);
        return p < assembled.size() && assembled[p] != 0 && Vfs::GroupCount(length) > 1;
    };
    std::uint64_t piece = 0;
    while (piece < pieces)
    {
        if (!missing(piece))
        {
            ++piece;
            continue;
        }
        const std::uint64_t first = piece;
        const bool groups = byGroups(first);
        while (piece < pieces && piece - first < kPiecesPerJob && missing(piece) && byGroups(piece) == groups)
        {
            ++piece;
        }
        const std::uint64_t offset = first * Vfs::kPieceSize;
        jobs.push_back({work, offset, std::min(piece * Vfs::kPieceSize, size) - offset, groups});
    }
    return jobs;
}

std::vector<SRange> UncoveredRanges(std::span<const Vfs::SMoveRun> runs, std::uint64_t size)
{
    std::vector<SRange> covered;
    for (const Vfs::SMoveRun& run : runs)
    {
        covered.push_back({run.destinationOffset, run.length});
    }
    std::sort(covered.begin(), covered.end(), [](const SRange& a, const SRange& b) { return a.offset < b.offset; });
    std::vector<SRange> gaps;
    std::uint64_t at = Vfs::kContainerHeaderSize;
    for (const SRange& run : covered)
    {
        if (run.offset > at && at < size)
        {
            gaps.push_back({at, std::min(run.offset, size) - at});
        }
        at = std::max(at, run.offset + run.length);
    }
    if (at < size)
    {
        gaps.push_back({at, size - at});
    }
    return gaps;
}

std::optional<Vfs::SIdentity> MainSource(std::span<const Vfs::SMoveRun> runs)
{
    std::map<Vfs::SIdentity, std::uint64_t> bytes;
    std::optional<Vfs::SIdentity> best;
    for (const Vfs::SMoveRun& run : runs)
    {
        bytes[run.source] += run.length;
    }
    for (const Vfs::SMoveRun& run : runs)
    {
        if (!best || bytes[run.source] > bytes[*best])
        {
            best = run.source;
        }
    }
    return best;
}

std::vector<std::uint8_t> AssembledPieces(std::span<const Vfs::SMoveRun> runs, std::span<const std::uint8_t> have,
    std::uint64_t size)
{
    const std::uint64_t pieces = Vfs::PieceCount(size);
    std::vector<std::uint64_t> covered(static_cast<std::size_t>(pieces), 0);
    for (const Vfs::SMoveRun& run : runs)
    {
        const std::uint64_t end = run.destinationOffset + run.length;
        for (std::uint64_t i = run.destinationOffset / Vfs::kPieceSize; i < std::min(pieces, Vfs::PieceCount(end)); ++i)
        {
            covered[i] += std::min(end, (i + 1) * Vfs::kPieceSize) - std::max(run.destinationOffset, i * Vfs::kPieceSize);
        }
    }
    // A piece that runs reach by less than a group is a new piece: fetched whole, as its
    // tree values would not pay for themselves.
    std::vector<std::uint8_t> assembled(static_cast<std::size_t>(pieces), 0);
    for (std::uint64_t i = 0; i < pieces; ++i)
    {
        assembled[i] = covered[i] >= Vfs::kGroupSize && !(i < have.size() && have[i] != 0) ? 1 : 0;
    }
    return assembled;
}

std::vector<SRange> GroupFetches(std::span<const Vfs::SChainingValue> wanted, std::span<const Vfs::SChainingValue> held,
    std::uint64_t length)
{
    std::vector<SRange> ranges;
    for (std::size_t g = 0; g < wanted.size(); ++g)
    {
        if (g < held.size() && held[g] == wanted[g])
        {
            continue;
        }
        const std::uint64_t offset = g * Vfs::kGroupSize;
        const std::uint64_t end = std::min(offset + Vfs::kGroupSize, length);
        if (!ranges.empty() && ranges.back().offset + ranges.back().length == offset)
        {
            ranges.back().length = end - ranges.back().offset;
        }
        else
        {
            ranges.push_back({offset, end - offset});
        }
    }
    return ranges;
}

std::vector<SJournalRecord> ComposeJournal(std::span<const SWork> works, bool update, const Vfs::SIndex& installed,
    const Vfs::SIndex& used)
{
    std::vector<SJournalRecord> records;
    std::set<std::string> listed; // keys of the paths already deleted
    const auto remove = [&](const std::string& path) {
        if (listed.insert(Vfs::WindowsPathKey(path)).second)
        {
            records.push_back({SJournalRecord::EKind::Delete, {}, path});
        }
    };

    std::set<std::string> kept;    // keys of every path of the new release
    std::set<std::string> folders; // keys of every folder a new file lies in
    if (update)
    {
        for (const Vfs::SContainer& container : used.containers)
        {
            kept.insert(Vfs::WindowsPathKey(ContainerPath(container)));
        }
        for (const Vfs::SFile& file : used.files)
        {
            const std::string key = Vfs::WindowsPathKey(file.path);
            for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            {
                folders.insert(key.substr(0, slash));
            }
            kept.insert(key);
        }
        // Installed files where the new release needs a folder, or inside a folder where it
        // needs a file, go before any move.
        for (const Vfs::SFile& file : installed.files)
        {
            if ((file.flags & Vfs::kLauncherFlag) != 0)
            {
                continue;
            }
            const std::string key = Vfs::WindowsPathKey(file.path);
            bool inTheWay = folders.contains(key);
            for (std::size_t slash = key.find('/'); !inTheWay && slash != std::string::npos;
                 slash = key.find('/', slash + 1))
            {
                inTheWay = kept.contains(key.substr(0, slash));
            }
            if (inTheWay)
            {
                remove(file.path);
            }
        }
    }

    const SWork* indexWork = nullptr;
    for (const SWork& work : works)
    {
        if (work.target == kInstalledIndex)
        {
            indexWork = &work;
            continue;
        }
        records.push_back({SJournalRecord::EKind::Move, work.part, work.target});
    }
    if (!update)
    {
        return records;
    }
    if (indexWork != nullptr)
    {
        records.push_back({SJournalRecord::EKind::Move, indexWork->part, indexWork->target});
    }
    for (const Vfs::SContainer& container : installed.containers)
    {
        if (const std::string path = ContainerPath(container); !kept.contains(Vfs::WindowsPathKey(path)))
        {
            remove(path);
        }
    }
    for (const Vfs::SFile& file : installed.files)
    {
        if ((file.flags & Vfs::kLauncherFlag) == 0 && !kept.contains(Vfs::WindowsPathKey(file.path)))
        {
            remove(file.path);
        }
    }
    return records;
}

std::optional<std::string> AnswerError(std::string_view url, std::uint32_t status, std::uint64_t received,
    std::uint64_t offset, std::uint64_t length)
{
    if ((status == 206 || (status == 200 && offset == 0)) && received == length)
    {
        return std::nullopt;
    }
    return fmt::format("{}: the CDN answered {} with {} bytes of {}", url, status, received, length);
}

std::uint64_t NeededSpace(std::span<const SWork> works, std::span<const std::optional<std::uint64_t>> partSizes) noexcept
{
    std::uint64_t needed = kSpaceReserve;
    for (std::size_t i = 0; i < works.size(); ++i)
    {
        const bool sized = i < partSizes.size() && partSizes[i] && *partSizes[i] == works[i].size;
        if (!sized)
        {
            needed = works[i].size > UINT64_MAX - needed ? UINT64_MAX : needed + works[i].size;
        }
    }
    return needed;
}

SPatchState RebuildState(const SPatchState& old, std::uint64_t takenRelease, std::uint32_t takenGeneration,
    const Vfs::SIndex& used, const std::set<std::string>& trusted, const std::set<std::string>& verified,
    std::span<const SWork> works, const std::function<std::optional<SStamp>(std::string_view)>& stampOf)
{
    SPatchState state;
    state.release = std::max(takenRelease, used.ReleaseNumber());
    state.generation = std::max(takenGeneration, used.keyGeneration);
    for (const std::string& path : trusted)
    {
        if (const auto known = old.files.find(path); known != old.files.end())
        {
            state.files[path] = known->second;
        }
    }
    const auto fresh = [&](const std::string& path) {
        if (const auto stamp = stampOf(path))
        {
            state.files[path] = *stamp;
        }
    };
    for (const std::string& path : verified)
    {
        fresh(path);
    }
    for (const SWork& work : works)
    {
        if (work.target != kInstalledIndex)
        {
            fresh(work.target);
        }
    }
    return state;
}
}
