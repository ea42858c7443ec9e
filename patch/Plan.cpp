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

std::vector<SJob> ContainerJobs(std::uint64_t work, std::span<const std::uint8_t> have, std::uint64_t size)
{
    std::vector<SJob> jobs;
    const std::uint64_t pieces = Vfs::PieceCount(size);
    std::uint64_t piece = 0;
    while (piece < pieces)
    {
        if (piece < have.size() && have[piece] != 0)
        {
            ++piece;
            continue;
        }
        const std::uint64_t first = piece;
        while (piece < pieces && piece - first < kPiecesPerJob && !(piece < have.size() && have[piece] != 0))
        {
            ++piece;
        }
        const std::uint64_t offset = first * Vfs::kPieceSize;
        jobs.push_back({work, offset, std::min(piece * Vfs::kPieceSize, size) - offset});
    }
    return jobs;
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
