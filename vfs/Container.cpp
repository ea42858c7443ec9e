#include "vfs/Container.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace Vfs
{
namespace
{
// A file's pieces read in order on a thread of their own, up to kSlots pieces ahead of the
// caller, so that reading one piece overlaps checking the one before. Without a thread (a
// single piece, or none could be made) each piece is read when it is asked for.
class CPieceReader
{
public:
    CPieceReader(IReadAt& file, std::uint64_t size) : m_file(file), m_size(size)
    {
        const std::uint64_t pieces = PieceCount(size);
        const std::size_t slots = static_cast<std::size_t>(std::min<std::uint64_t>(pieces, kSlots));
        for (std::size_t i = 0; i < slots; ++i)
        {
            m_slots[i].bytes.resize(static_cast<std::size_t>(std::min(size, kPieceSize)));
        }
        if (pieces > 1)
        {
            try
            {
                m_thread = std::thread([this, pieces] { ReadAll(pieces); });
            }
            catch (const std::system_error&)
            {
            }
        }
    }

    ~CPieceReader()
    {
        if (m_thread.joinable())
        {
            {
                const std::lock_guard hold(m_lock);
                m_quit = true;
            }
            m_changed.notify_all();
            m_thread.join();
        }
    }

    CPieceReader(const CPieceReader&) = delete;
    CPieceReader& operator=(const CPieceReader&) = delete;

    // Piece p's bytes as read (fewer than the piece holds when the read fell short); valid
    // until Done(p). Pieces are asked for in order.
    [[nodiscard]] std::span<const std::uint8_t> Get(std::uint64_t p)
    {
        SSlot& slot = m_slots[p % kSlots];
        if (!m_thread.joinable())
        {
            Read(p, slot);
            return std::span(slot.bytes.data(), slot.got);
        }
        std::unique_lock hold(m_lock);
        m_changed.wait(hold, [&] { return slot.full; });
        return std::span(slot.bytes.data(), slot.got);
    }

    void Done(std::uint64_t p)
    {
        if (m_thread.joinable())
        {
            {
                const std::lock_guard hold(m_lock);
                m_slots[p % kSlots].full = false;
            }
            m_changed.notify_all();
        }
    }

private:
    static constexpr std::size_t kSlots = 3;

    struct SSlot
    {
        std::vector<std::uint8_t> bytes;
        std::size_t got = 0;
        bool full = false; // holds a piece not yet done with; the reader waits for it
    };

    void Read(std::uint64_t p, SSlot& slot) noexcept
    {
        const std::uint64_t offset = p * kPieceSize;
        const auto length = static_cast<std::size_t>(std::min(kPieceSize, m_size - offset));
        slot.got = m_file.ReadAt(offset, std::span(slot.bytes.data(), length));
    }

    void ReadAll(std::uint64_t pieces)
    {
        for (std::uint64_t p = 0; p < pieces; ++p)
        {
            SSlot& slot = m_slots[p % kSlots];
            {
                std::unique_lock hold(m_lock);
                m_changed.wait(hold, [&] { return !slot.full || m_quit; });
                if (m_quit)
                {
                    return;
                }
            }
            Read(p, slot);
            {
                const std::lock_guard hold(m_lock);
                slot.full = true;
            }
            m_changed.notify_all();
        }
    }

    IReadAt& m_file;
    const std::uint64_t m_size;
    std::array<SSlot, kSlots> m_slots;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_quit = false;
    std::thread m_thread;
};
}

std::expected<void, std::string> CheckContainerHeader(const SIndex& index, std::uint16_t container,
    std::span<const std::uint8_t> head)
{
    if (container >= index.containers.size() || head.size() < kContainerHeaderSize)
    {
        return std::unexpected(std::string("no such container, or a header shorter than 64 bytes"));
    }
    const SContainer& record = index.containers[container];
    const bool zero = std::all_of(head.begin() + 48, head.begin() + 64, [](std::uint8_t b) { return b == 0; });
    if (std::memcmp(head.data(), "QMVFSPAK", 8) != 0 || head[8] != 2 || head[9] != 0 || head[12] != 0 ||
        head[13] != 0 || head[14] != 0 || head[15] != 0 || !zero)
    {
        return std::unexpected(fmt::format("{}: not a container of major {}", ContainerName(record), 2));
    }
    if (std::memcmp(head.data() + 16, record.identity.data(), record.identity.size()) != 0)
    {
        return std::unexpected(fmt::format("{}: another container under its name", ContainerName(record)));
    }
    return {};
}

bool CheckPiece(const SIndex& index, std::size_t container, std::uint64_t piece,
    std::span<const std::uint8_t> bytes) noexcept
{
    if (container >= index.containers.size() || container >= index.pieceBases.size() ||
        piece >= PieceCount(index.containers[container].size))
    {
        return false;
    }
    const std::uint64_t entry = index.pieceBases[container] + piece;
    if (entry >= index.pieceHashes.size())
    {
        return false;
    }
    return PieceHash(bytes) == index.pieceHashes[static_cast<std::size_t>(entry)];
}

std::array<std::uint8_t, kContainerHeaderSize> ContainerHeader(const SContainer& container) noexcept
{
    std::array<std::uint8_t, kContainerHeaderSize> header{};
    std::memcpy(header.data(), "QMVFSPAK", 8);
    header[8] = 2;
    std::copy(container.identity.begin(), container.identity.end(), header.begin() + 16);
    return header;
}

std::vector<std::uint8_t> CheckContainer(const SIndex& index, std::uint16_t container, IReadAt& file,
    ICheckProgress& progress)
{
    if (container >= index.containers.size())
    {
        return {};
    }
    const std::uint64_t size = index.containers[container].size;
    const std::uint64_t pieces = PieceCount(size);
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(pieces), 0);
    CPieceReader reader(file, size);
    for (std::uint64_t p = 0; p < pieces && !progress.StopRequested(); ++p)
    {
        const std::size_t length = static_cast<std::size_t>(std::min(kPieceSize, size - p * kPieceSize));
        const std::span<const std::uint8_t> piece = reader.Get(p);
        if (piece.size() == length)
        {
            flags[static_cast<std::size_t>(p)] = CheckPiece(index, container, p, piece) ? 1 : 0;
        }
        reader.Done(p);
        progress.PieceDone(length);
    }
    return flags;
}
}
