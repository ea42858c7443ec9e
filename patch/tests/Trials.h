// How many random trials a long test runs and from which seed, read from the environment so
// that a long run and the replay of a failure need no rebuild.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace PatchTests
{
struct STrials
{
    int count = 0;
    unsigned seed = 0;
};

// `countVariable` unset: `defaultCount`; `seedVariable` unset: a seed from the clock. The seed
// is printed, so that a failure can be replayed.
inline STrials TrialsFromEnvironment(const char* countVariable, int defaultCount, const char* seedVariable)
{
    STrials trials;
    const char* countText = std::getenv(countVariable);
    trials.count = countText != nullptr ? std::atoi(countText) : defaultCount;
    const char* seedText = std::getenv(seedVariable);
    trials.seed = seedText != nullptr
        ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
        : static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::printf("%d trials, seed %u (%s)\n", trials.count, trials.seed, seedVariable);
    return trials;
}
}
