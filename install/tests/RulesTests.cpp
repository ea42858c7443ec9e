#include "install/Rules.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
using Install::SRegistryValue;
using enum SRegistryValue::EType;

Vfs::SIndex IndexOfSizes(std::vector<std::uint64_t> containers, std::vector<std::uint64_t> files)
{
    Vfs::SIndex index;
    for (std::uint64_t size : containers)
    {
        index.containers.push_back({1, size, {}});
    }
    for (std::uint64_t size : files)
    {
        index.files.push_back({"Client/x", 0, size, {}});
    }
    return index;
}

TEST(InstallRules, PlacesAreWindowsPathsBelowTheLocalFolder)
{
    const std::string folder = Install::InstallFolder("C:\\Users\\p\\AppData\\Local");
    EXPECT_EQ(folder, "C:\\Users\\p\\AppData\\Local\\Programs\\Quillmere");
    EXPECT_EQ(Install::InstallFolder(""), "");
    EXPECT_EQ(Install::JoinWindowsPath(folder, Install::kIndexPath),
        "C:\\Users\\p\\AppData\\Local\\Programs\\Quillmere\\Client\\pack\\release.quillmereindex");
    EXPECT_EQ(Install::JoinWindowsPath("", Install::kExecutableName), "");
    EXPECT_EQ(Install::FolderOf("C:\\a/b\\Quillmere.exe"), "C:\\a/b");
    EXPECT_EQ(Install::FolderOf("Quillmere.exe"), "");
}

TEST(InstallRules, EstimatedSizeIsKiBRoundedDownAndNeverWraps)
{
    EXPECT_EQ(Install::EstimatedSizeKiB(IndexOfSizes({2000}, {47})), 1u);
    EXPECT_EQ(Install::EstimatedSizeKiB(IndexOfSizes({2000}, {48})), 2u);
    EXPECT_EQ(Install::EstimatedSizeKiB(IndexOfSizes({}, {1023})), 0u);
    EXPECT_EQ(Install::EstimatedSizeKiB(IndexOfSizes({}, {1024ull << 32})), std::numeric_limits<std::uint32_t>::max());
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max() - 10;
    EXPECT_EQ(Install::EstimatedSizeKiB(IndexOfSizes({huge}, {huge, 100})), std::numeric_limits<std::uint32_t>::max());
}

TEST(InstallRules, UninstallEntryHasNineValuesInOrder)
{
    Vfs::SIndex index = IndexOfSizes({1048576 * 3}, {4096});
    index.releaseName = "Fr\xC3\xBChling \xE2\x80\x94 1.2";
    const std::string folder = "C:\\L\\Programs\\Quillmere";
    const std::string exe = "C:\\L\\Programs\\Quillmere\\Quillmere.exe";
    const std::vector<SRegistryValue> expected{
        {"DisplayName", String, "Quillmere"},
        {"DisplayIcon", String, exe},
        {"Publisher", String, "Quillmere"},
        {"InstallLocation", String, folder},
        {"UninstallString", String, "\"C:\\L\\Programs\\Quillmere\\Quillmere.exe\" --uninstall"},
        {"NoModify", Number, "", 1},
        {"NoRepair", Number, "", 1},
        {"DisplayVersion", String, "Fr\xC3\xBChling \xE2\x80\x94 1.2"},
        {"EstimatedSize", Number, "", 3076},
    };
    EXPECT_EQ(Install::UninstallValues(folder, exe, index), expected);
    EXPECT_EQ(Install::ReleaseValues(index), std::vector<SRegistryValue>(expected.end() - 2, expected.end()));
}

TEST(InstallRules, CommandLinesAndErrorTexts)
{
    EXPECT_EQ(Install::CommandLine("C:\\a b\\Q.exe"), "\"C:\\a b\\Q.exe\"");
    EXPECT_EQ(Install::CommandLine("C:\\T\\Quillmere-uninstall.exe", "--uninstall"),
        "\"C:\\T\\Quillmere-uninstall.exe\" --uninstall");
    EXPECT_EQ(Install::NotWrittenError("C:\\L\\Programs\\Quillmere", 5),
        "C:\\L\\Programs\\Quillmere could not be written (Windows error 5)");
    EXPECT_EQ(Install::NotStartedError("C:\\L\\Programs\\Quillmere\\Quillmere.exe", 193),
        "C:\\L\\Programs\\Quillmere\\Quillmere.exe did not start (Windows error 193)");
    EXPECT_EQ(Install::kEntriesError, "the Start menu's entry or the uninstall entry could not be made");
}
}
