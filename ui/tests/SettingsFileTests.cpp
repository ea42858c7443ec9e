// The settings file on a real file system: each test works in its own temporary folder.
#include "base/File.h"
#include "base/Text.h"
#include "base/tests/TempFolder.h"
#include "ui/Localisation.h"
#include "ui/Settings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

using namespace Ui;
namespace fs = std::filesystem;

namespace
{
class SettingsFile : public testing::Test
{
protected:
    std::string File() const { return m_folder + "Quillmere.cfg"; }
    std::string Read() const { return File::ReadWhole(File()).value_or("(unreadable)"); }
    void Write(std::string_view content) const
    {
        fs::create_directories(Text::Utf8ToWide(m_folder));
        ASSERT_TRUE(File::WriteWhole(File(), content));
    }

    TempFolder m_temp{L"qm-settings"};
    const fs::path& m_root = m_temp.path();
    std::string m_folder = Text::WideToUtf8(m_root.wstring()) + "\\Quillmere\\Game\\";
};

std::string CodeOf(std::optional<std::size_t> language)
{
    return language ? std::string(kLanguages[*language].code) : "none";
}
}

TEST_F(SettingsFile, SavesIntoAMissingFolderAndReadsItBack)
{
    EXPECT_EQ(CodeOf(ReadLanguageSetting(m_folder)), "none");
    ASSERT_TRUE(SaveLanguageSetting(m_folder, *LanguageByCode("gr")));
    EXPECT_EQ(CodeOf(ReadLanguageSetting(m_folder)), "gr");
    EXPECT_EQ(Read(), "LANGUAGE                 gr\n");
    EXPECT_FALSE(fs::exists(Text::Utf8ToWide(File() + ".tmp")));
}

TEST_F(SettingsFile, KeepsOtherLinesInPlace)
{
    Write("VOLUME 7\n\nLANGUAGE en\n# notes\n");
    EXPECT_EQ(CodeOf(ReadLanguageSetting(m_folder)), "none");
    ASSERT_TRUE(SaveLanguageSetting(m_folder, *LanguageByCode("fr")));
    EXPECT_EQ(Read(), "VOLUME 7\nLANGUAGE                 fr\n\nLANGUAGE en\n# notes\n");
    EXPECT_EQ(CodeOf(ReadLanguageSetting(m_folder)), "fr");
}

TEST(SettingsFolderLink, IsRefusedForSavingButRead)
{
    // The bench's C:\qm-fixtures\linked is a symbolic link to C:\qm-fixtures\target.
    const std::string linked = "C:\\qm-fixtures\\linked\\";
    const std::string target = "C:\\qm-fixtures\\target\\Quillmere.cfg";
    ASSERT_TRUE(File::WriteWhole(target, std::string_view("LANGUAGE de\n")));

    EXPECT_EQ(CodeOf(ReadLanguageSetting(linked)), "de");
    EXPECT_FALSE(SaveLanguageSetting(linked, *LanguageByCode("it")));
    EXPECT_EQ(File::ReadWhole(target).value_or(""), "LANGUAGE de\n");
    EXPECT_FALSE(fs::exists(L"C:\\qm-fixtures\\target\\Quillmere.cfg.tmp"));
    fs::remove(L"C:\\qm-fixtures\\target\\Quillmere.cfg");
}

TEST_F(SettingsFile, AFailedRenameLeavesTheOldFileAndNoTwin)
{
    Write("LANGUAGE de\n");
    // A folder in the file's place cannot be replaced by the rename.
    ASSERT_TRUE(fs::remove(Text::Utf8ToWide(File())));
    fs::create_directories(Text::Utf8ToWide(File()));
    EXPECT_FALSE(SaveLanguageSetting(m_folder, *LanguageByCode("it")));
    EXPECT_TRUE(fs::is_directory(Text::Utf8ToWide(File())));
    EXPECT_FALSE(fs::exists(Text::Utf8ToWide(File() + ".tmp")));
}

TEST_F(SettingsFile, AnEmptyFolderMeansTheCurrentDirectory)
{
    bool saved = false;
    std::string code;
    {
        CurrentDirectory inside(m_root);
        saved = SaveLanguageSetting("", *LanguageByCode("ro"));
        code = CodeOf(ReadLanguageSetting(""));
    }
    EXPECT_TRUE(saved);
    EXPECT_EQ(code, "ro");
    EXPECT_TRUE(fs::exists(m_root / L"Quillmere.cfg"));
}

TEST(SettingsFolder, IsUnderLocalApplicationData)
{
    const std::string folder = SettingsFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.ends_with("\\Quillmere\\Game\\")) << folder;
}
