// The patch journal, the patch state, and the small file operations the patcher leans on.
//
// A patch run never changes the game folder piecemeal: it downloads into the incoming
// folder, then writes "patch.journal" (every move of a finished file into its place, then
// every deletion) and replays it. Replaying a journal twice has the same result as once, so
// a journal found at start-up is simply replayed again from its first line.
//
// The patch state remembers the highest release number and key generation ever taken (the
// rollback limits) and, per verified file, the size and last-write time it had then, so that
// later runs can trust it without reading it.
//
// Paths are UTF-8 with "/" separators, relative to the launcher's folder (the current
// directory), except the patch state's own path.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace Patch
{
inline constexpr std::string_view kJournalPath = "patch.journal";
inline constexpr std::string_view kJournalHeader = "quillmere patch journal 1";
inline constexpr std::string_view kStateHeader = "quillmere patch state 1";
inline constexpr std::uint64_t kLargestJournalOrState = 1'048'576;

struct SJournalRecord
{
    enum class EKind
    {
        Move,   // the finished file at `source` replaces `destination`
        Delete, // `destination` is deleted
    };
    EKind kind = EKind::Move;
    std::string source;
    std::string destination;
};

// The journal's text: the header line, then one line per record.
[[nodiscard]] std::string JournalText(std::span<const SJournalRecord> records);

// The records of a journal's text; nothing when the first line is not the header. Lines
// with another keyword, without a tab, or a "move" without a second tab are skipped.
[[nodiscard]] std::optional<std::vector<SJournalRecord>> ParseJournal(std::string_view text);

struct SStamp
{
    std::uint64_t size = 0;
    std::uint64_t time = 0; // last-write time as a Windows file time (100 ns since 1601)

    friend bool operator==(const SStamp&, const SStamp&) = default;
};

struct SPatchState
{
    std::uint64_t release = 0;    // highest release number taken
    std::uint32_t generation = 0; // highest key generation taken
    std::map<std::string, SStamp> files; // files that were whole when last verified
};

[[nodiscard]] std::string PatchStateText(const SPatchState& state);

// Never fails: a foreign text gives the empty state; unusable lines are skipped.
[[nodiscard]] SPatchState ParsePatchState(std::string_view text);

// The file retry rule: a sharing, lock or access failure (Windows errors 32, 33, 5) is tried
// again after 50, 100, 200, 400, 800, 1000, 1000, ... ms until 15 s have been slept.
// `lastError` reads the failure of the last try; `sleep` waits the given milliseconds.
template <typename Operation, typename LastError, typename Sleep>
[[nodiscard]] bool RetryFileOperation(Operation&& operation, LastError&& lastError, Sleep&& sleep)
{
    std::uint32_t slept = 0;
    std::uint32_t delay = 50;
    for (;;)
    {
        if (operation())
        {
            return true;
        }
        const auto error = lastError();
        if ((error != 32 && error != 33 && error != 5) || slept >= 15'000)
        {
            return false;
        }
        sleep(delay);
        slept += delay;
        delay = delay * 2 > 1'000 ? 1'000 : delay * 2;
    }
}

#ifdef _WIN32
// The journal, the state and the downloaded index are written with File::WriteAtomically
// (base/File.h).

// The file retry rule around a Windows call that sets the last error on failure.
[[nodiscard]] bool RetryFileOperation(const std::function<bool()>& operation);
// The same, given up when `stop` is asked for: the wait between tries ends at once and no
// further try is made. The last error is the last try's.
[[nodiscard]] bool RetryFileOperation(const std::function<bool()>& operation, std::stop_token stop);

// One move replacing the destination (write-through), under the file retry rule.
[[nodiscard]] bool MoveLauncher(std::string_view source, std::string_view destination);

// Deletes a file under the file retry rule, given up on a stop; a missing file counts as deleted.
[[nodiscard]] bool DeleteGameFile(std::string_view path, std::stop_token stop = {});

// Refuses a path whose way runs through a symbolic link or junction (base/File.h): the
// launcher writes only into folders of its own.
[[nodiscard]] std::expected<void, std::string> RefuseLinkOnTheWay(std::string_view path);

// Carries out "patch.journal" in the current directory and deletes it. A journal with a path
// through a link or junction is refused before any of it is carried out. `pauseMs` sleeps
// before each record, so that the crash tests can land a kill in the middle of a replay.
[[nodiscard]] std::expected<void, std::string> Replay(std::uint32_t pauseMs = 0);

// The start-up recovery: replays a journal left by an interrupted run, or removes the
// temporary of an unfinished journal write.
[[nodiscard]] std::expected<void, std::string> ReplayAtStartUp(std::uint32_t pauseMs = 0);

// "<local application data>\Quillmere\Game\patch.state", or "patch.state" in the
// launcher's folder when Windows cannot name that folder: the patch state's usual place.
[[nodiscard]] std::string PatchStatePath();

[[nodiscard]] SPatchState ReadPatchState(std::string_view path);
[[nodiscard]] bool WritePatchState(std::string_view path, const SPatchState& state);

// The file's size and last-write time now; nothing when it is missing or a folder.
[[nodiscard]] std::optional<SStamp> StampOf(std::string_view path);

// A file counts as whole without being read when it is not a repair run, it exists with the
// expected size, and the state holds the very stamp it has now.
[[nodiscard]] bool IsTrustedByStamp(const SPatchState& state, std::string_view path, std::uint64_t expectedSize,
                                    bool repair);
#endif
}
