#include "patch/Check.h"

#include "base/Handle.h"
#include "base/Text.h"

#include <blake3.h>

#include <map>
#include <vector>

namespace Patch
{
namespace
{
[[nodiscard]] bool Exists(std::string_view path)
{
    const std::wstring wide = Text::Utf8ToWide(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

[[nodiscard]] bool HeaderNames(const Vfs::SIndex& index, std::size_t container, std::string_view path)
{
    UniqueHandle file(CreateFileW(Text::Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        return false;
    }
    std::uint8_t head[Vfs::kContainerHeaderSize]{};
    DWORD read = 0;
    if (!ReadFile(file.get(), head, sizeof(head), &read, nullptr))
    {
        return false;
    }
    return Vfs::CheckContainerHeader(index, static_cast<std::uint16_t>(container), std::span(head, read)).has_value();
}
}

std::optional<std::uint64_t> FileSize(std::string_view path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const std::wstring wide = Text::Utf8ToWide(path);
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    {
        return std::nullopt;
    }
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

bool IsTrusted(const SPatchState& state, EPatchMode mode, std::string_view path, std::uint64_t size)
{
    return IsTrustedByStamp(state, path, size, mode == EPatchMode::Repair);
}

std::optional<Vfs::SIdentity> HashFile(std::string_view path, std::uint64_t largest, SProgress* progress)
{
    UniqueHandle file(CreateFileW(Text::Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > largest)
    {
        return std::nullopt;
    }
    // Hashed as it is read: the same hash as over the whole file, with one 1 MiB buffer.
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size.QuadPart, Vfs::kPieceSize)));
    std::uint64_t left = static_cast<std::uint64_t>(size.QuadPart);
    while (left > 0)
    {
        const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(left, buffer.size()));
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), want, &read, nullptr) || read != want)
        {
            return std::nullopt;
        }
        blake3_hasher_update(&hasher, buffer.data(), read);
        left -= read;
    }
    if (progress != nullptr)
    {
        progress->done += static_cast<std::uint64_t>(size.QuadPart);
        Report(*progress, false);
    }
    Vfs::SIdentity hash{};
    blake3_hasher_finalize(&hasher, hash.data(), hash.size());
    return hash;
}

std::optional<SCheckResult> CheckStep(const SRun& run, const Vfs::SIndex& used, const Vfs::SIndex& installed,
    const SPatchState& state, SProgress& progress)
{
    progress.run = &run;
    progress.mode = run.mode;
    progress.phase = EPatchPhase::Checking;
    progress.total = 0;
    progress.done = 0;
    progress.reported = 0;

    SCheckResult result;
    bool anyContainer = false;
    for (const Vfs::SContainer& container : used.containers)
    {
        anyContainer = anyContainer || Exists(ContainerPath(container));
    }
    result.installing = run.mode == EPatchMode::Complete && !used.containers.empty() && !anyContainer;
    progress.installing = result.installing;

    struct SItem
    {
        std::int32_t container = -1;
        const Vfs::SFile* file = nullptr;
        std::string path;
        std::uint64_t size = 0;
    };
    std::vector<SItem> plan;
    for (std::size_t i = 0; i < used.containers.size(); ++i)
    {
        const std::string path = ContainerPath(used.containers[i]);
        const std::uint64_t size = used.containers[i].size;
        if (IsTrusted(state, run.mode, path, size) && HeaderNames(used, i, path))
        {
            result.trusted.insert(path);
        }
        else
        {
            plan.push_back({static_cast<std::int32_t>(i), nullptr, path, size});
        }
    }
    std::map<std::string_view, const Vfs::SIdentity*> installedHashes;
    for (const Vfs::SFile& file : installed.files)
    {
        installedHashes.emplace(file.path, &file.hash);
    }
    for (const Vfs::SFile& file : used.files)
    {
        if ((file.flags & Vfs::kLauncherFlag) != 0 && run.mode != EPatchMode::Preload)
        {
            continue;
        }
        const auto known = installedHashes.find(file.path);
        if (known != installedHashes.end() && *known->second == file.hash &&
            IsTrusted(state, run.mode, file.path, file.size))
        {
            result.trusted.insert(file.path);
        }
        else
        {
            plan.push_back({-1, &file, file.path, file.size});
        }
    }

    for (const SItem& item : plan)
    {
        if (FileSize(item.path) == item.size)
        {
            progress.total += item.size;
        }
    }
    Report(progress, true);

    CCheckProgress pieces(progress);
    for (const SItem& item : plan)
    {
        if (run.StopRequested())
        {
            return std::nullopt;
        }
        const bool present = FileSize(item.path) == item.size;
        if (item.file != nullptr)
        {
            if (present && HashFile(item.path, item.size, &progress) == item.file->hash)
            {
                result.verified.insert(item.path);
                continue;
            }
            result.works.push_back(FileWork(*item.file));
            continue;
        }
        std::vector<std::uint8_t> flags;
        if (present)
        {
            flags = Vfs::CheckContainer(used, static_cast<std::uint16_t>(item.container), item.path, pieces);
            if (run.StopRequested())
            {
                return std::nullopt;
            }
            if (!flags.empty() && std::all_of(flags.begin(), flags.end(), [](std::uint8_t f) { return f == 1; }))
            {
                result.verified.insert(item.path);
                continue;
            }
        }
        result.works.push_back(ContainerWork(used, static_cast<std::size_t>(item.container), std::move(flags)));
    }
    return result;
}
}
