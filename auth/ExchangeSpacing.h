// How often the game client's code requests reach the identity service. Every exchange
// spends the refresh token and rewrites the stored sign-in, so a client that asks in a loop
// could wear the account into the service's limit or lose the sign-in on a failed rewrite.
// The launcher spaces them: one at a time, the next no sooner than kExchangeInterval after the
// last one ended, and none before a limit's retry time has passed. The time comes in as a
// steady-clock reading, so the rule is pure.
#pragma once

#include "auth/SignIn.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace Auth
{
inline constexpr std::chrono::seconds kExchangeInterval{5};

class CExchangeSpacing
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // 0 when an exchange may start at `now`; it is then in flight until Finish. Otherwise the
    // whole seconds to wait (at least 1), and nothing changes.
    [[nodiscard]] std::uint32_t Begin(TimePoint now) noexcept;

    // The exchange in flight ended at `now` with this outcome; a Limited one holds the next
    // exchange back for its retry seconds.
    void Finish(TimePoint now, const SLoginOutcome& outcome) noexcept;

private:
    bool m_inFlight = false;
    std::optional<TimePoint> m_next; // the earliest start of the next exchange
};
}
