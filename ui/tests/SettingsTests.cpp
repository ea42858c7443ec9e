#include "ui/Localisation.h"
#include "ui/Settings.h"

#include <gtest/gtest.h>

using namespace Ui;

namespace
{
std::string CodeOf(std::optional<std::size_t> language)
{
    return language ? std::string(kLanguages[*language].code) : "none";
}
}

TEST(SettingsText, ReadsTheFirstLanguageLineOfTheBlock)
{
    EXPECT_EQ(CodeOf(FindLanguageSetting("language de\n")), "de");
    EXPECT_EQ(CodeOf(FindLanguageSetting("LaNgUaGe\t\tgr\r\n")), "gr");
    EXPECT_EQ(CodeOf(FindLanguageSetting("LANGUAGE DE\n")), "none"); // codes are case-sensitive
    EXPECT_EQ(CodeOf(FindLanguageSetting("LANGUAGE xx\nLANGUAGE de\n")), "none"); // only the first counts
    EXPECT_EQ(CodeOf(FindLanguageSetting("LANGUAGE ru\nLANGUAGE de\n")), "ru");
    EXPECT_EQ(CodeOf(FindLanguageSetting("LANGUAGE\n")), "none");
    EXPECT_EQ(CodeOf(FindLanguageSetting("VOLUME 7\n  LANGUAGE   it  \n")), "it");
    EXPECT_EQ(CodeOf(FindLanguageSetting("LANGUAGES it\n")), "none");
    EXPECT_EQ(CodeOf(FindLanguageSetting("LANGUAGE pl")), "pl"); // no final line feed
    EXPECT_EQ(CodeOf(FindLanguageSetting("\nLANGUAGE en\n")), "none"); // blank line ends the block
    EXPECT_EQ(CodeOf(FindLanguageSetting(" \t \nLANGUAGE en\n")), "none");
    EXPECT_EQ(CodeOf(FindLanguageSetting("")), "none");
}

TEST(SettingsText, WritesItsLineInPlace)
{
    const std::string line = "LANGUAGE                 fr\n";
    ASSERT_EQ(line.find("fr"), 25u); // the code stands in column 26

    EXPECT_EQ(WithLanguageSetting("", "fr"), line);
    EXPECT_EQ(WithLanguageSetting("VOLUME 7\nlanguage de\nZOOM 2\n", "fr"), "VOLUME 7\n" + line + "ZOOM 2\n");
    // Only the first LANGUAGE line is replaced.
    EXPECT_EQ(WithLanguageSetting("LANGUAGE de\nLANGUAGE it\n", "fr"), line + "LANGUAGE it\n");
    // A blank first line: the new line goes above it, so the next start reads it.
    const std::string updated = WithLanguageSetting("\nLANGUAGE en\n", "fr");
    EXPECT_EQ(updated, line + "\nLANGUAGE en\n");
    EXPECT_EQ(CodeOf(FindLanguageSetting(updated)), "fr");
    // Other keys are kept; a last line without a line feed gets one.
    EXPECT_EQ(WithLanguageSetting("VOLUME 7", "fr"), "VOLUME 7\n" + line);
}
