#include "patch/Journal.h"

#include "base/Text.h"
#include "base/Text.h"

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>

#ifdef _WIN32
#include "base/File.h"

#include <windows.h>
#endif

namespace Patch
{
namespace
{
[[nodiscard]] std::string_view FirstLine(std::string_view text) noexcept
{
    return text.substr(0, text.find('\n'));
}

[[nodiscard]] std::string_view AfterFirstLine(std::string_view text) noexcept
{
    const std::size_t end = text.find('\n');
    return end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
}
}

std::string JournalText(std::span<const SJournalRecord> records)
{
    std::string text = fmt::format("{}\n", kJournalHeader);
    for (const SJournalRecord& record : records)
    {
        if (record.kind == SJournalRecord::EKind::Move)
        {
            text += fmt::format("move\t{}\t{}\n", record.source, record.destination);
        }
        else
        {
            text += fmt::format("delete\t{}\n", record.destination);
        }
    }
    return text;
}

std::optional<std::vector<SJournalRecord>> ParseJournal(std::string_view text)
{
    if (text.empty() || FirstLine(text) != kJournalHeader)
    {
        return std::nullopt;
    }
    std::vector<SJournalRecord> records;
    for (const std::string_view line : Text::SplitLines(AfterFirstLine(text)))
    {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
        {
            continue;
        }
        const std::string_view keyword = line.substr(0, tab);
        const std::string_view rest = line.substr(tab + 1);
        if (keyword == "move")
        {
            const std::size_t second = rest.find('\t');
            if (second != std::string_view::npos)
            {
                records.push_back({SJournalRecord::EKind::Move, std::string(rest.substr(0, second)),
                                   std::string(rest.substr(second + 1))});
            }
        }
        else if (keyword == "delete")
        {
            records.push_back({SJournalRecord::EKind::Delete, {}, std::string(rest)});
        }
    }
    return records;
}

std::string PatchStateText(const SPatchState& state)
{
    std::string text = fmt::format("{}\nrelease\t{}\ngeneration\t{}\n", kStateHeader, state.release, state.generation);
    for (const auto& [path, stamp] : state.files)
    {
        text += fmt::format("{}\t{}\t{}\n", stamp.size, stamp.time, path);
    }
    return text;
}

SPatchState ParsePatchState(std::string_view text)
{
    SPatchState state;
    if (FirstLine(text) != kStateHeader)
    {
        return state;
    }
    constexpr std::string_view kRelease = "release\t";
    constexpr std::string_view kGeneration = "generation\t";
    for (const std::string_view line : Text::SplitLines(AfterFirstLine(text)))
    {
        if (line.size() > 7 && line.starts_with(kRelease))
        {
            state.release = Text::ParseLeadingDecimal(line.substr(kRelease.size()), std::numeric_limits<std::uint64_t>::max())
                                .value_or(state.release);
            continue;
        }
        if (line.size() > 10 && line.starts_with(kGeneration))
        {
            if (const auto generation = Text::ParseLeadingDecimal(line.substr(kGeneration.size()),
                                                            std::numeric_limits<std::uint32_t>::max()))
            {
                state.generation = static_cast<std::uint32_t>(*generation);
            }
            continue;
        }
        const std::size_t first = line.find('\t');
        const std::size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
        if (second == std::string_view::npos)
        {
            continue;
        }
        const auto number = [](std::string_view field) {
            return Text::ParseLeadingDecimal(field, std::numeric_limits<std::uint64_t>::max()).value_or(0);
        };
        state.files[std::string(line.substr(second + 1))] =
            SStamp{number(line.substr(0, first)), number(line.substr(first + 1, second - first - 1))};
    }
    return state;
}

#ifdef _WIN32
namespace
{
// A move's destination that is a folder holding nothing but empty folders (a file of this
// release where an earlier one had a folder) is removed so that the file can take its place.
// A folder that still holds a file stays, and the move then fails.
void RemoveEmptyFolders(const std::string& folder)
{
    if (const auto entries = File::ListFolder(folder))
    {
        for (const File::SFolderEntry& entry : *entries)
        {
            if (entry.folder && !entry.link)
            {
                RemoveEmptyFolders(folder + "\\" + entry.name);
            }
        }
    }
    RemoveDirectoryW(Text::Utf8ToWide(folder).c_str());
}
}

bool RetryFileOperation(const std::function<bool()>& operation)
{
    return RetryFileOperation(operation, [] { return GetLastError(); }, [](std::uint32_t ms) { Sleep(ms); });
}

bool RetryFileOperation(const std::function<bool()>& operation, std::stop_token stop)
{
    DWORD last = ERROR_SUCCESS;
    bool done = false;
    {
        std::mutex lock;
        std::condition_variable_any stopped;
        done = RetryFileOperation(operation,
            [&] {
                last = GetLastError();
                return stop.stop_requested() ? ERROR_OPERATION_ABORTED : last;
            },
            [&](std::uint32_t ms) {
                std::unique_lock hold(lock);
                (void)stopped.wait_for(hold, stop, std::chrono::milliseconds(ms), [] { return false; });
            });
    }
    if (!done)
    {
        SetLastError(last); // the waits' clean-up may have set another
    }
    return done;
}

bool MoveLauncher(std::string_view source, std::string_view destination)
{
    return RetryFileOperation([&] { return File::MoveReplacing(source, destination); });
}

bool DeleteGameFile(std::string_view path, std::stop_token stop)
{
    const std::wstring wide = Text::Utf8ToWide(path);
    return RetryFileOperation([&] {
        if (DeleteFileW(wide.c_str()))
        {
            return true;
        }
        // A file whose folder is gone is as deleted as a file that is gone, and so is a file
        // whose path is now a folder (a journal replayed again after a release turned that
        // file into a folder): failing here would leave the journal stuck on a deletion that
        // can never succeed. The folder itself is left alone.
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED)
        {
            const DWORD attributes = GetFileAttributesW(wide.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            {
                return true;
            }
            SetLastError(error);
        }
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }, stop);
}

std::expected<void, std::string> RefuseLinkOnTheWay(std::string_view path)
{
    if (const auto link = File::LinkOnTheWay(path))
    {
        return std::unexpected(fmt::format("{} is a link or junction; nothing is written through it", *link));
    }
    return {};
}

std::expected<void, std::string> Replay(std::uint32_t pauseMs)
{
    // A journal that cannot be read (or is not one we could have written) is left alone.
    const auto text = File::ReadWhole(kJournalPath, kLargestJournalOrState);
    if (!text)
    {
        return {};
    }
    const auto records = ParseJournal(*text);
    if (!records)
    {
        return std::unexpected(fmt::format("{} is not a journal this launcher reads", kJournalPath));
    }
    for (const SJournalRecord& record : *records)
    {
        for (const std::string* path : {&record.source, &record.destination})
        {
            if (auto refused = RefuseLinkOnTheWay(*path); !refused)
            {
                return refused;
            }
        }
    }
    for (const SJournalRecord& record : *records)
    {
        if (pauseMs != 0)
        {
            Sleep(pauseMs);
        }
        if (record.kind == SJournalRecord::EKind::Move)
        {
            if (!File::Exists(record.source))
            {
                continue; // carried out before the replay was interrupted
            }
            File::CreateParentFolders(record.destination);
            if (File::IsPlainFolder(record.destination))
            {
                RemoveEmptyFolders(record.destination);
            }
            if (!MoveLauncher(record.source, record.destination))
            {
                return std::unexpected(fmt::format("{} could not take its new file", record.destination));
            }
        }
        else if (!DeleteGameFile(record.destination))
        {
            return std::unexpected(fmt::format("{} could not be deleted", record.destination));
        }
    }
    if (!DeleteFileW(Text::Utf8ToWide(kJournalPath).c_str()))
    {
        return std::unexpected(fmt::format("{} could not be deleted", kJournalPath));
    }
    return {};
}

std::expected<void, std::string> ReplayAtStartUp(std::uint32_t pauseMs)
{
    if (File::Exists(kJournalPath))
    {
        return Replay(pauseMs);
    }
    // The temporary of a journal whose writing was interrupted: nothing of it was carried out.
    DeleteFileW(Text::Utf8ToWide(fmt::format("{}.tmp", kJournalPath)).c_str());
    return {};
}

std::string PatchStatePath()
{
    return fmt::format("{}patch.state", File::GameDataFolder());
}

SPatchState ReadPatchState(std::string_view path)
{
    const auto text = File::ReadWhole(path, kLargestJournalOrState);
    return text ? ParsePatchState(*text) : SPatchState{};
}

bool WritePatchState(std::string_view path, const SPatchState& state)
{
    File::CreateParentFolders(path);
    return File::WriteAtomically(path, PatchStateText(state));
}

std::optional<SStamp> StampOf(std::string_view path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const std::wstring wide = Text::Utf8ToWide(path);
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    {
        return std::nullopt;
    }
    return SStamp{(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                  (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime};
}

bool IsTrustedByStamp(const SPatchState& state, std::string_view path, std::uint64_t expectedSize, bool repair)
{
    if (repair)
    {
        return false;
    }
    const auto now = StampOf(path);
    if (!now || now->size != expectedSize)
    {
        return false;
    }
    const auto known = state.files.find(std::string(path));
    return known != state.files.end() && known->second == *now;
}
#endif
}
