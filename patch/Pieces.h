// A container job's pieces, checked as their bytes arrive: each 1 MiB piece is verified
// against the index as soon as it is whole and written at once, so that a download worker
// holds one piece, not its whole job. A piece that fails is left missing and the others are
// kept; the next attempt at the job writes only what is still missing.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace Patch
{
class CJobPieces
{
public:
    // Whether piece `piece` of the container (counted from the container's start) is the index's.
    using Verify = std::function<bool(std::uint64_t piece, std::span<const std::uint8_t> bytes)>;
    // Writes bytes at `offset` of the part file; false on failure.
    using Write = std::function<bool(std::uint64_t offset, std::span<const std::uint8_t> bytes)>;

    // The job's range in the container; `offset` is at a piece's start.
    CJobPieces(std::uint64_t offset, std::uint64_t length, Verify verify, Write write);

    // A new answer to the job, from its first byte.
    void Begin() noexcept;

    // Takes the answer's next bytes, at most as many as are still to come. False when a
    // write failed; the answer must then be given up.
    [[nodiscard]] bool Take(std::span<const std::uint8_t> bytes);

    // The answer was accepted (status and length): the job's last piece, which is held back
    // until then so that a job is never found whole on disk after a refused answer, is
    // written if it passed. False when that write failed.
    [[nodiscard]] bool Finish();

    // Every piece of the job is written.
    [[nodiscard]] bool Complete() const noexcept;

private:
    [[nodiscard]] bool PieceFilled();

    std::uint64_t m_offset;
    std::uint64_t m_length;
    Verify m_verify;
    Write m_write;
    std::vector<std::uint8_t> m_written; // one flag per piece of the job
    std::vector<std::uint8_t> m_piece;   // the bytes of the piece being received
    std::uint64_t m_at = 0;              // bytes of this answer taken so far
    bool m_lastPassed = false;           // the held last piece passed its check
};
}
