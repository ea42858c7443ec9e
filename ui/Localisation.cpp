#include "ui/Localisation.h"

#include <atomic>

#ifdef _WIN32
#include "base/Text.h"
#include "ui/Settings.h"

#include <windows.h>
#endif

namespace Ui
{
namespace
{
std::atomic<std::size_t> g_current{kEnglish};

#ifdef _WIN32
std::wstring g_localeName = L"en-us";
#endif
}

std::string_view TextIn(std::size_t language, TextId id) noexcept
{
    const auto row = static_cast<std::size_t>(id);
    if (row >= kTextCount)
    {
        return {};
    }
    if (language < kLanguageCount && !kTextTable[row][language].empty())
    {
        return kTextTable[row][language];
    }
    return kTextTable[row][kEnglish];
}

std::optional<std::size_t> LanguageByCode(std::string_view code) noexcept
{
    for (std::size_t i = 0; i < kLanguages.size(); ++i)
    {
        if (kLanguages[i].code == code)
        {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> LanguageForWindows(std::uint16_t languageId) noexcept
{
    const std::uint16_t primary = languageId & 0x3FF;
    for (std::size_t i = 0; i < kLanguages.size(); ++i)
    {
        if (kLanguages[i].primaryLanguage == primary)
        {
            return i;
        }
    }
    return std::nullopt;
}

std::size_t ChooseLanguage(std::optional<std::size_t> saved, std::uint16_t windowsLanguage) noexcept
{
    if (saved && *saved < kLanguageCount)
    {
        return *saved;
    }
    return LanguageForWindows(windowsLanguage).value_or(kEnglish);
}

std::size_t CurrentLanguageIndex() noexcept
{
    return g_current.load(std::memory_order_relaxed);
}

const SLanguage& CurrentLanguage() noexcept
{
    return kLanguages[CurrentLanguageIndex()];
}

std::string_view Text(TextId id) noexcept
{
    return TextIn(CurrentLanguageIndex(), id);
}

void SetLanguage(std::size_t language) noexcept
{
    if (language >= kLanguageCount)
    {
        return;
    }
    g_current.store(language, std::memory_order_relaxed);
#ifdef _WIN32
    try
    {
        g_localeName = Text::Utf8ToWide(kLanguages[language].localeName);
    }
    catch (...)
    {
        g_localeName.clear();
    }
#endif
}

#ifdef _WIN32
const std::wstring& CurrentLocaleName() noexcept
{
    return g_localeName;
}

void ChooseLanguageAtStartUp(std::string_view settingsFolder)
{
    SetLanguage(ChooseLanguage(ReadLanguageSetting(settingsFolder), GetUserDefaultUILanguage()));
}
#endif
}
