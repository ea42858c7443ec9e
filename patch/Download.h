// The patcher's transfer engine: part files in the incoming folder, assembled first from
// bytes already on disk (the index's move runs, still-good pieces of a damaged container),
// then completed by ranged downloads on four threads. Every container piece is verified
// against the index before it is written, and a loose file's part is moved into place only
// once its hash matched; all transfers together keep to the transfer limit while the game runs.
#pragma once

#ifdef _WIN32
#include "patch/Run.h"

#include <atomic>
#include <expected>
#include <string>
#include <vector>

namespace Patch
{
inline constexpr int kDownloadWorkers = 4;
inline constexpr int kFetchAttempts = 3;

// Creates or checks the part file of every work, in list order, and returns the download
// jobs; the complete work (the new index) gets `newIndex` as its part file. Bytes read to
// check part files count into `check` (phase 0). On a stop it returns no jobs and the run's
// stop token tells the caller to end quietly.
[[nodiscard]] std::expected<std::vector<SJob>, std::string> PrepareWorks(const SRun& run, const Vfs::SIndex& index,
    std::vector<SWork>& works, SProgress& check, std::span<const std::uint8_t> newIndex);

// Makes or keeps a container's part file, copies the move runs into a fresh one (and then
// the container's header), sets `have` from its verified pieces and copies the still-good
// pieces of the old target over.
[[nodiscard]] std::expected<void, std::string> PrepareContainerPart(const Vfs::SIndex& index, SWork& work,
    SProgress& check);

// Runs the jobs on four workers; every 100 ms the calling thread flushes the part files that
// got 8 MiB or more since their last flush, and reports. The first failure's text; after a
// stop the caller looks at the stop token, not at the result.
[[nodiscard]] std::expected<void, std::string> DownloadJobs(const SRun& run, const Vfs::SIndex& index,
    const std::vector<SWork>& works, const std::vector<SJob>& jobs, SProgress& progress);

// The named release's index, whole, from "i/{release}.quillmereindex".
[[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> FetchIndex(const SRun& run);

// One job: up to three attempts, each answer checked for its status and length. A loose
// file streams to its part file and is hashed whole; a container's pieces are each written
// once verified (the last once the answer is accepted), and a later attempt writes only the
// pieces still missing. `written`, when given, counts the bytes written to the part file.
[[nodiscard]] std::expected<void, std::string> FetchJob(const SRun& run, const Vfs::SIndex& index, const SWork& work,
    const SJob& job, std::atomic<std::uint64_t>& counter, std::atomic<std::uint64_t>* written = nullptr);

// A job of groups: one ranged request for its pieces' group values in the tree file, then for
// each piece the groups where the part file's bytes differ, the piece written once it verifies
// whole; the pieces this cannot bring are fetched whole by FetchJob. `counter` counts the job's
// piece bytes done, `fetched` the bytes that came from the CDN.
[[nodiscard]] std::expected<void, std::string> FetchGroupJob(const SRun& run, const Vfs::SIndex& index,
    const SWork& work, const SJob& job, std::atomic<std::uint64_t>& counter, std::atomic<std::uint64_t>& fetched,
    std::atomic<std::uint64_t>* written = nullptr);

// Creates the part file anew at exactly `size` bytes (zeros); the Windows error on failure.
[[nodiscard]] bool MakePartFile(std::string_view path, std::uint64_t size);

// Opens the file and flushes its buffers to the disk.
[[nodiscard]] bool FlushFile(std::string_view path);
}
#endif
