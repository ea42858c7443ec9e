// The check step of every patch run: which files of the release are whole and which must be
// fetched. Files are trusted by their stamps (patch state) in every mode but repair, which
// reads every container piece by piece and every loose file whole. Good pieces of a damaged
// container are remembered so that only the bad ones are downloaded.
#pragma once

#ifdef _WIN32
#include "patch/Run.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Patch
{
struct SCheckResult
{
    std::vector<SWork> works;      // containers in record order, then loose files
    std::set<std::string> trusted;  // accepted by their stamps; they keep their old stamps
    std::set<std::string> verified; // read whole and found whole; they get fresh stamps
    bool installing = false;
};

// Nothing when a stop was asked for (the run then ends quietly). Sets the progress record to
// Checking and its `installing`, and reports (forced) once the total is known.
[[nodiscard]] std::optional<SCheckResult> CheckStep(const SRun& run, const Vfs::SIndex& used,
    const Vfs::SIndex& installed, const SPatchState& state, SProgress& progress);

// The BLAKE3-256 of a whole file of at most `largest` bytes; nothing when it cannot be
// opened or read or is larger. With a progress record, its bytes count and it may report.
[[nodiscard]] std::optional<Vfs::SIdentity> HashFile(std::string_view path, std::uint64_t largest,
    SProgress* progress);

// The stamp rule: never in a repair run.
[[nodiscard]] bool IsTrusted(const SPatchState& state, EPatchMode mode, std::string_view path,
    std::uint64_t size);

// The size of a plain file at path; nothing when it is missing or a folder.
[[nodiscard]] std::optional<std::uint64_t> FileSize(std::string_view path);
}
#endif
