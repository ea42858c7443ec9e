#include "ui/Settings.h"

#include "base/Text.h"
#include "ui/Localisation.h"

#include <fmt/format.h>

#include <vector>

#ifdef _WIN32
#include "base/File.h"
#include "base/Text.h"

#include <windows.h>
#endif

namespace Ui
{
namespace
{
constexpr std::string_view kLanguageKey = "LANGUAGE";

[[nodiscard]] constexpr bool IsSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The word starting at or after `from`, and where the scan stopped.
[[nodiscard]] std::string_view NextWord(std::string_view line, std::size_t& from) noexcept
{
    while (from < line.size() && IsSpace(line[from]))
    {
        ++from;
    }
    const std::size_t start = from;
    while (from < line.size() && !IsSpace(line[from]))
    {
        ++from;
    }
    return line.substr(start, from - start);
}

[[nodiscard]] bool IsLanguageKey(std::string_view word) noexcept
{
    if (word.size() != kLanguageKey.size())
    {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i)
    {
        const char c = (word[i] >= 'a' && word[i] <= 'z') ? static_cast<char>(word[i] - 'a' + 'A') : word[i];
        if (c != kLanguageKey[i])
        {
            return false;
        }
    }
    return true;
}

}

std::optional<std::size_t> FindLanguageSetting(std::string_view content)
{
    for (std::string_view line : Text::SplitLines(content))
    {
        std::size_t at = 0;
        const std::string_view key = NextWord(line, at);
        if (key.empty())
        {
            return std::nullopt; // the end of the settings block
        }
        if (IsLanguageKey(key))
        {
            const std::string_view value = NextWord(line, at);
            return value.empty() ? std::nullopt : LanguageByCode(value);
        }
    }
    return std::nullopt;
}

std::string WithLanguageSetting(std::string_view content, std::string_view code)
{
    const std::string newLine = fmt::format("{:<24} {}", kLanguageKey, code);
    std::string result;
    result.reserve(content.size() + newLine.size() + 2);
    bool placed = false;
    for (std::string_view line : Text::SplitLines(content))
    {
        if (!placed)
        {
            std::size_t at = 0;
            const std::string_view key = NextWord(line, at);
            if (key.empty() || IsLanguageKey(key))
            {
                result.append(newLine).push_back('\n');
                placed = true;
                if (!key.empty())
                {
                    continue; // the old LANGUAGE line is replaced
                }
            }
        }
        result.append(line).push_back('\n');
    }
    if (!placed)
    {
        result.append(newLine).push_back('\n');
    }
    return result;
}

#ifdef _WIN32
namespace
{
[[nodiscard]] std::string SettingsPath(std::string_view folder)
{
    return fmt::format("{}{}", folder, kSettingsFileName);
}
}

std::string SettingsFolder()
{
    return File::GameDataFolder();
}

std::optional<std::size_t> ReadLanguageSetting(std::string_view folder)
{
    const auto content = File::ReadWhole(SettingsPath(folder));
    if (!content)
    {
        return std::nullopt;
    }
    return FindLanguageSetting(*content);
}

bool SaveLanguageSetting(std::string_view folder, std::size_t language)
{
    if (language >= kLanguageCount)
    {
        return false;
    }
    const std::string path = SettingsPath(folder);

    // A file that exists but cannot be read is not overwritten: its other lines would be lost.
    std::string content;
    if (auto old = File::ReadWhole(path))
    {
        content = std::move(*old);
    }
    else if (old.error() != ERROR_FILE_NOT_FOUND && old.error() != ERROR_PATH_NOT_FOUND)
    {
        return false;
    }

    if (!folder.empty())
    {
        std::string_view trimmed = folder;
        while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/'))
        {
            trimmed.remove_suffix(1);
        }
        File::CreateParentFolders(std::string(trimmed) + "\\");
        // A link would let the rename land wherever the link points.
        if (!File::IsPlainFolder(trimmed))
        {
            return false;
        }
    }

    if (File::WriteAtomically(path, WithLanguageSetting(content, kLanguages[language].code)))
    {
        return true;
    }
    DeleteFileW(Text::Utf8ToWide(path + ".tmp").c_str());
    return false;
}
#endif
}
