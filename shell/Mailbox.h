// Letters from worker threads to the window thread. A window message only announces a letter
// by its kind (the message number) and its sequence number; the letter itself stays here
// until the window procedure takes it. A message that another process posts therefore
// carries nothing the launcher would trust: an unknown number, or a known number with another
// kind, takes nothing. Letters left when the window goes are freed with the mailbox.
//
// Free of <windows.h>: the window layer posts, the rule is tested natively.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace Shell
{
template <typename TLetter>
class CMailbox
{
public:
    // Any thread. The letter's sequence number, never 0.
    [[nodiscard]] std::uint64_t Put(unsigned kind, TLetter letter)
    {
        const std::scoped_lock lock(m_lock);
        const std::uint64_t sequence = m_next++;
        m_letters.push_back({sequence, kind, std::move(letter)});
        return sequence;
    }

    // The letter with this sequence number when it is of this kind; nothing otherwise.
    [[nodiscard]] std::optional<TLetter> Take(unsigned kind, std::uint64_t sequence)
    {
        const std::scoped_lock lock(m_lock);
        const auto found = std::find_if(m_letters.begin(), m_letters.end(),
            [&](const SEntry& entry) { return entry.sequence == sequence && entry.kind == kind; });
        if (found == m_letters.end())
        {
            return std::nullopt;
        }
        std::optional<TLetter> letter(std::move(found->letter));
        m_letters.erase(found);
        return letter;
    }

    void Clear()
    {
        const std::scoped_lock lock(m_lock);
        m_letters.clear();
    }

    [[nodiscard]] std::size_t Size() const
    {
        const std::scoped_lock lock(m_lock);
        return m_letters.size();
    }

private:
    struct SEntry
    {
        std::uint64_t sequence = 0;
        unsigned kind = 0;
        TLetter letter;
    };

    mutable std::mutex m_lock;
    std::uint64_t m_next = 1;
    std::deque<SEntry> m_letters;
};
}
