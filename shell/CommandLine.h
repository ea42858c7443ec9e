// The launcher's command line: options are found as substrings of the whole text, wherever
// they stand, also inside another word.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace Shell
{
[[nodiscard]] bool HasUninstallOption(std::string_view commandLine) noexcept;

// The value after "--handover": any number of spaces, then hexadecimal digits (either case,
// no prefix) up to the first other character. Nothing when there is no option, no digit, or
// the value does not fit in 64 bits. Whether it names a pipe is the caller's check.
[[nodiscard]] std::optional<std::uint64_t> HandOverValue(std::string_view commandLine) noexcept;
}
