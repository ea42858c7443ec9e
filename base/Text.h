// Text helpers shared by every subsystem: the program is UTF-8 inside and converts to
// UTF-16 only at Windows calls, strictly; Windows and WinHTTP failures are wrapped with
// their decimal error number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Text
{
// The decimal number formed by the digits at the start of text, up to the first non-digit;
// nothing when there is no digit or the number exceeds limit.
[[nodiscard]] std::optional<std::uint64_t> ParseLeadingDecimal(std::string_view text, std::uint64_t limit) noexcept;

// Decodes the UTF-8 sequence at the start of text, strictly (RFC 3629): no overlong form, no
// surrogate, nothing above U+10FFFF, no cut sequence. On success the code point is in `point`
// and the sequence is removed from text; otherwise false, and text is left as it was.
[[nodiscard]] bool NextCodePoint(std::string_view& text, char32_t& point) noexcept;

// Whether the whole text is UTF-8 by the same rules.
[[nodiscard]] bool IsUtf8(std::string_view text) noexcept;

// Appends the UTF-8 form of point, a Unicode scalar value (not a surrogate, at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t point);

// "{} (Windows error {})" and "{} (WinHTTP error {})".
[[nodiscard]] std::string WithWindowsError(std::string_view text, unsigned long error);
[[nodiscard]] std::string WithWinHttpError(std::string_view text, unsigned long error);

#ifdef _WIN32
// An invalid sequence (or a text too long for the Windows calls) gives an empty string.
[[nodiscard]] std::wstring Utf8ToWide(std::string_view text);
[[nodiscard]] std::string WideToUtf8(std::wstring_view text);
#endif

// The text's lines split at "\n", each without its line feed; a last line without one still
// counts, and an empty text has none. For the launcher's small line-based files (patch journal,
// patch state, settings).
[[nodiscard]] std::vector<std::string_view> SplitLines(std::string_view text);
}
