// The settings file "Quillmere.cfg": the one remembered choice, the interface language.
//
// Lines end with a line feed; a line is a key, whitespace and a value; keys compare
// without regard to ASCII case, language codes exactly. Only the settings block counts:
// the lines before the first line without a word. Lines the launcher does not know are
// kept by the writer, in place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Ui
{
inline constexpr std::string_view kSettingsFileName = "Quillmere.cfg";

// The language that a settings file's text names: the value of its first LANGUAGE line
// within the settings block, if that is a known code.
[[nodiscard]] std::optional<std::size_t> FindLanguageSetting(std::string_view content);

// The file's lines after saving `code`: the first LANGUAGE line of the settings block is
// replaced; else the new line goes before the first line without a word; else at the end.
// Every line of the result ends with a line feed.
[[nodiscard]] std::string WithLanguageSetting(std::string_view content, std::string_view code);

#ifdef _WIN32
// The folder of the settings file: the per-user game data folder (File::GameDataFolder in
// base/File.h), empty when Windows cannot name it.
[[nodiscard]] std::string SettingsFolder();

// Reads the language from "Quillmere.cfg" in folder (empty: the current directory).
// A missing or unreadable file, or an unknown code, gives none.
[[nodiscard]] std::optional<std::size_t> ReadLanguageSetting(std::string_view folder);

// Saves the language's code into the file in folder through a temporary twin and a rename.
// Fails, leaving the old file as it was, when the folder is a symbolic link or a junction,
// or when writing or renaming fails.
[[nodiscard]] bool SaveLanguageSetting(std::string_view folder, std::size_t language);
#endif
}
