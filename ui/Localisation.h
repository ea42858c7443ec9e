// The launcher's texts in 15 languages, and the current language.
//
// Every text shown to the player comes from one constant table (LocalisationTable.cpp):
// a row per TextId, a column per language. English is the fallback for a missing cell.
// The current language is written only by the window's thread (at start-up and when the
// player picks another) and read by anyone who formats a text.
#pragma once

#include <fmt/format.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class TextId : std::uint8_t
{
    Login,
    Password,
    SignIn,
    SignOut,
    Play,
    SignedInAs,
    Minimise,
    Close,
    CreateAccount,
    ForgotPassword,
    Website,
    Discord,
    Support,
    EnterLogin,
    SigningIn,
    SigningOut,
    CheckingSignIn,
    GameOpening,
    GameRunning,
    WrongLogin,
    SignInEnded,
    LoginRules,
    TooManyAttempts,
    ServersUnreachable,
    SignInToPlay,
    Banned,
    BannedUntil,
    AccountClosed,
    EmailNotConfirmed,
    SomethingWrong,
    GameDidNotStart,
    FilesUnreadable,
    GraphicsFailed,
    ServersOnline,
    ServersOffline,
    NewVersion,
    Language,
    LanguageNotSaved,
    NetworkIntercepting,
    ClockWrong,
    Repair,
    Checking,
    Updating,
    Repairing,
    Updated,
    AllWhole,
    Repaired,
    UpdateStopped,
    RepairStopped,
    NoSpace,
    Installing,
    InstallFailed,
    RemoveConfirm,
    RemoveRunning,
    Removed,
    RemoveIncomplete,
    Preloading,
};

namespace Ui
{
inline constexpr std::size_t kTextCount = 57;
inline constexpr std::size_t kLanguageCount = 15;
static_assert(static_cast<std::size_t>(TextId::Preloading) + 1 == kTextCount);

struct SLanguage
{
    std::string_view code;       // settings value and web-link segment: "cz", "dk", "de", ...
    std::string_view label;      // shown on the closed language control: "CZ", ...
    std::string_view name;       // shown in the open language list
    std::uint16_t primaryLanguage; // Windows primary language identifier that selects it
    std::string_view localeName; // for the text layout: "cs-cz", ...
};

inline constexpr std::array<SLanguage, kLanguageCount> kLanguages{{
    {"cz", "CZ", "Čeština", 0x05, "cs-cz"},
    {"dk", "DK", "Dansk", 0x06, "da-dk"},
    {"de", "DE", "Deutsch", 0x07, "de-de"},
    {"en", "EN", "English", 0x09, "en-us"},
    {"es", "ES", "Español", 0x0A, "es-es"},
    {"fr", "FR", "Français", 0x0C, "fr-fr"},
    {"it", "IT", "Italiano", 0x10, "it-it"},
    {"hu", "HU", "Magyar", 0x0E, "hu-hu"},
    {"nl", "NL", "Nederlands", 0x13, "nl-nl"},
    {"pl", "PL", "Polski", 0x15, "pl-pl"},
    {"pt", "PT", "Português", 0x16, "pt-pt"},
    {"ro", "RO", "Română", 0x18, "ro-ro"},
    {"tr", "TR", "Türkçe", 0x1F, "tr-tr"},
    {"gr", "GR", "Ελληνικά", 0x08, "el-gr"},
    {"ru", "RU", "Русский", 0x19, "ru-ru"},
}};
inline constexpr std::size_t kEnglish = 3;

// Row = TextId, column = index into kLanguages. An empty cell is a missing translation.
extern const std::string_view kTextTable[kTextCount][kLanguageCount];

// The text in a given language, or English when that cell is empty.
[[nodiscard]] std::string_view TextIn(std::size_t language, TextId id) noexcept;

// The first language, in table order, whose code is exactly this (case-sensitive).
[[nodiscard]] std::optional<std::size_t> LanguageByCode(std::string_view code) noexcept;

// The first language, in table order, with the primary language (low 10 bits) of a
// Windows language identifier; the sub-language is ignored.
[[nodiscard]] std::optional<std::size_t> LanguageForWindows(std::uint16_t languageId) noexcept;

// The start-up choice: the saved language, else the Windows interface language, else English.
[[nodiscard]] std::size_t ChooseLanguage(std::optional<std::size_t> saved, std::uint16_t windowsLanguage) noexcept;

// The current language.
[[nodiscard]] std::size_t CurrentLanguageIndex() noexcept;
[[nodiscard]] const SLanguage& CurrentLanguage() noexcept;
[[nodiscard]] std::string_view Text(TextId id) noexcept;

// Fills the "{}" fields of the current language's text in order. A text that fails to
// format (which the table's tests rule out) comes back unformatted rather than throwing.
template <typename... Args>
[[nodiscard]] std::string FormatText(TextId id, const Args&... args)
{
    const std::string_view text = Text(id);
    try
    {
        return fmt::format(fmt::runtime(text), args...);
    }
    catch (const fmt::format_error&)
    {
        return std::string(text);
    }
}

// Makes a language current (and, on Windows, its wide locale name). An index outside the
// table is ignored. Called on the window's thread only.
void SetLanguage(std::size_t language) noexcept;

#ifdef _WIN32
// The current language's locale name for DirectWrite; empty if it failed to convert.
[[nodiscard]] const std::wstring& CurrentLocaleName() noexcept;

// Start-up: the language of the settings file in settingsFolder (see Settings.h), else
// GetUserDefaultUILanguage's, else English; made current.
void ChooseLanguageAtStartUp(std::string_view settingsFolder);
#endif
}
