#include "ui/Localisation.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace Ui;

namespace
{
// The "{}" fields and line breaks of a text, in order; any other brace is recorded too,
// so that a stray "{" or "}" shows up as a difference.
std::vector<std::string_view> Markers(std::string_view text)
{
    std::vector<std::string_view> markers;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text.substr(i, 2) == "{}")
        {
            markers.push_back("{}");
            ++i;
        }
        else if (text[i] == '\n')
        {
            markers.push_back("\\n");
        }
        else if (text[i] == '{' || text[i] == '}')
        {
            markers.push_back(text.substr(i, 1));
        }
    }
    return markers;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();)
    {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
        {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k)
        {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            {
                return false;
            }
        }
        i += length;
    }
    return true;
}
}

TEST(Localisation, EveryCellIsFilledAndKeepsTheEnglishFieldsAndBreaks)
{
    for (std::size_t row = 0; row < kTextCount; ++row)
    {
        const auto english = Markers(kTextTable[row][kEnglish]);
        for (std::size_t language = 0; language < kLanguageCount; ++language)
        {
            const std::string_view cell = kTextTable[row][language];
            SCOPED_TRACE(testing::Message() << "text " << row << ", language " << kLanguages[language].code);
            EXPECT_FALSE(cell.empty());
            EXPECT_TRUE(IsValidUtf8(cell));
            EXPECT_EQ(Markers(cell), english);
        }
    }
}

TEST(Localisation, LanguageTableIsConsistent)
{
    std::set<std::string_view> codes;
    std::set<std::uint16_t> primaries;
    for (const auto& language : kLanguages)
    {
        codes.insert(language.code);
        primaries.insert(language.primaryLanguage);
        EXPECT_EQ(language.code.size(), 2u);
        EXPECT_EQ(language.label.size(), 2u);
    }
    EXPECT_EQ(codes.size(), kLanguageCount);
    EXPECT_EQ(primaries.size(), kLanguageCount);
    EXPECT_EQ(kLanguages[kEnglish].code, "en");
}

TEST(Localisation, ChoosesSavedThenWindowsThenEnglish)
{
    EXPECT_EQ(kLanguages[ChooseLanguage(std::nullopt, 0x0416)].code, "pt"); // Brazilian Portuguese
    EXPECT_EQ(kLanguages[ChooseLanguage(std::nullopt, 0x0809)].code, "en"); // British English
    EXPECT_EQ(kLanguages[ChooseLanguage(std::nullopt, 0x0411)].code, "en"); // Japanese
    EXPECT_EQ(kLanguages[ChooseLanguage(std::nullopt, 0x0408)].code, "gr");
    EXPECT_EQ(kLanguages[ChooseLanguage(LanguageByCode("gr"), 0x0407)].code, "gr");
    EXPECT_EQ(LanguageByCode("GR"), std::nullopt);
    EXPECT_EQ(LanguageByCode("el"), std::nullopt);
}

TEST(Localisation, FormatsInTheCurrentLanguage)
{
    SetLanguage(*LanguageByCode("fr"));
    EXPECT_EQ(CurrentLanguage().code, "fr");
    EXPECT_EQ(Text(TextId::Language), "Langue");
    EXPECT_EQ(FormatText(TextId::SignedInAs, "nova"), "Compte : nova");
    EXPECT_EQ(FormatText(TextId::BannedUntil, "2027-01-02", "13:00"),
              "Ce compte est banni jusqu'au 2027-01-02 à 13:00 UTC.");

    // Done and total megabytes arrive in that order in every language.
    for (std::size_t language = 0; language < kLanguageCount; ++language)
    {
        SetLanguage(language);
        const std::string text = FormatText(TextId::Updating, 111, 999);
        const auto done = text.find("111");
        const auto total = text.find("999");
        ASSERT_NE(done, std::string::npos) << text;
        ASSERT_NE(total, std::string::npos) << text;
        EXPECT_LT(done, total) << text;
    }

    EXPECT_EQ(TextIn(kLanguageCount, TextId::Play), "PLAY"); // no such language: English
    SetLanguage(kLanguageCount); // outside the table: ignored
    EXPECT_EQ(CurrentLanguageIndex(), kLanguageCount - 1);
    SetLanguage(kEnglish);
#ifdef _WIN32
    EXPECT_EQ(CurrentLocaleName(), L"en-us");
#endif
}
