// Splitting text into lines, for the launcher's small line-based files (patch journal, patch
// state, settings). Free of Windows.
#pragma once

#include <string_view>
#include <vector>

// The text's lines split at "\n", each without its line feed; a last line without one still
// counts, and an empty text has none.
[[nodiscard]] std::vector<std::string_view> SplitLines(std::string_view text);
