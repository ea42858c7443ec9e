#include "auth/ExchangeSpacing.h"

#include <algorithm>

namespace Auth
{
namespace
{
// Whole seconds, rounded up, never below 1 and never past what the reply's field holds.
[[nodiscard]] std::uint32_t WaitSeconds(std::chrono::steady_clock::duration wait) noexcept
{
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
    return static_cast<std::uint32_t>(std::clamp<decltype(seconds)>(seconds, 1, UINT32_MAX));
}
}

std::uint32_t CExchangeSpacing::Begin(TimePoint now) noexcept
{
    if (m_inFlight)
    {
        return WaitSeconds(kExchangeInterval);
    }
    if (m_next && now < *m_next)
    {
        return WaitSeconds(*m_next - now);
    }
    m_inFlight = true;
    return 0;
}

void CExchangeSpacing::Finish(TimePoint now, const SLoginOutcome& outcome) noexcept
{
    m_inFlight = false;
    TimePoint next = now + kExchangeInterval;
    if (outcome.kind == EOutcome::Limited)
    {
        next = std::max(next, now + std::chrono::seconds(outcome.retrySeconds));
    }
    m_next = next;
}
}
