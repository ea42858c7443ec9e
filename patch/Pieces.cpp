#include "patch/Pieces.h"

#include "vfs/Index.h"

#include <algorithm>

namespace Patch
{
CJobPieces::CJobPieces(std::uint64_t offset, std::uint64_t length, Verify verify, Write write)
    : m_offset(offset), m_length(length), m_verify(std::move(verify)), m_write(std::move(write)),
      m_written(static_cast<std::size_t>(Vfs::PieceCount(length)), 0)
{
    m_piece.reserve(static_cast<std::size_t>(std::min(length, Vfs::kPieceSize)));
}

void CJobPieces::Begin() noexcept
{
    m_piece.clear();
    m_at = 0;
    m_lastPassed = false;
}

bool CJobPieces::Take(std::span<const std::uint8_t> bytes)
{
    bytes = bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_length - m_at)));
    while (!bytes.empty())
    {
        const std::uint64_t pieceEnd = std::min(m_length, (m_at / Vfs::kPieceSize + 1) * Vfs::kPieceSize);
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), pieceEnd - m_at));
        m_piece.insert(m_piece.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        m_at += take;
        if (m_at == pieceEnd && !PieceFilled())
        {
            return false;
        }
    }
    return true;
}

bool CJobPieces::PieceFilled()
{
    const std::size_t index = static_cast<std::size_t>((m_at - 1) / Vfs::kPieceSize);
    const std::uint64_t start = static_cast<std::uint64_t>(index) * Vfs::kPieceSize;
    bool written = true;
    if (m_written[index] == 0 && m_verify((m_offset + start) / Vfs::kPieceSize, m_piece))
    {
        if (index + 1 == m_written.size())
        {
            m_lastPassed = true;
            return true; // held until Finish
        }
        written = m_write(m_offset + start, m_piece);
        m_written[index] = written ? 1 : 0;
    }
    m_piece.clear();
    return written;
}

bool CJobPieces::Finish()
{
    if (!m_lastPassed)
    {
        return true;
    }
    m_lastPassed = false;
    const std::uint64_t start = (m_written.size() - 1) * Vfs::kPieceSize;
    if (!m_write(m_offset + start, m_piece))
    {
        return false;
    }
    m_written.back() = 1;
    m_piece.clear();
    return true;
}

bool CJobPieces::Complete() const noexcept
{
    return std::all_of(m_written.begin(), m_written.end(), [](std::uint8_t w) { return w != 0; });
}
}
