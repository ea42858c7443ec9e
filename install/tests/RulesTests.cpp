#include "install/Rules.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
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
        index.containers.push_back({Vfs::EContainerKind::Session, size, {}});
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

// Answers from a table; records which checks were asked, in order.
class CProbe final : public Install::IStartProbe
{
public:
    explicit CProbe(std::string facts) : m_facts(std::move(facts)) {}
    bool PlacesKnown() override { return Ask('k'); }
    bool RunsFromInstallFolder() override { return Ask('f'); }
    bool IndexTrusted() override { return Ask('i'); }
    bool HoldsContainer() override { return Ask('c'); }
    bool InstalledExecutableExists() override { return Ask('e'); }
    std::string asked;

private:
    bool Ask(char fact)
    {
        asked += fact;
        return m_facts.find(fact) != std::string::npos;
    }
    std::string m_facts;
};

TEST(InstallRules, EachStartCheckIsAskedOnlyWhenTheEarlierOnesLetItGoOn)
{
    using Install::EStart;
    const struct
    {
        const char* facts;
        EStart start;
        const char* asked;
    } cases[] = {
        {"", EStart::RunHere, "k"},
        {"kfi", EStart::RunHere, "kf"}, // the installed launcher never reads the index to decide
        {"k", EStart::RunHere, "kfi"},
        {"kic", EStart::RunHere, "kfic"},
        {"ki", EStart::Install, "kfice"},
        {"kie", EStart::StartInstalled, "kfice"},
    };
    for (const auto& c : cases)
    {
        CProbe probe(c.facts);
        EXPECT_EQ(Install::DecideStart(probe), c.start) << c.facts;
        EXPECT_EQ(probe.asked, c.asked) << c.facts;
    }
}

TEST(InstallRules, RegistryDataIsUtf16WithItsZeroOrFourBytes)
{
    using Bytes = std::vector<std::uint8_t>;
    const auto text = [](std::string utf8) { return Install::RegistryData({"V", String, std::move(utf8)}); };
    EXPECT_EQ(text("Q"), (Bytes{'Q', 0, 0, 0}));
    EXPECT_EQ(text(""), (Bytes{0, 0}));
    // é, an em dash, and U+1F600 as a surrogate pair.
    EXPECT_EQ(text("\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80"),
        (Bytes{0xE9, 0x00, 0x14, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    // Invalid text is stored empty: a cut sequence, an overlong form, a surrogate, above U+10FFFF.
    for (const char* invalid : {"ok\xC3", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"})
    {
        EXPECT_EQ(text(invalid), (Bytes{0, 0})) << invalid;
    }
    EXPECT_EQ(Install::RegistryData({"N", Number, "", 0x01020304}), (Bytes{4, 3, 2, 1}));
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

TEST(InstallRules, UninstallCopiesAreKnownByTheirWholeName)
{
    std::array<std::uint8_t, 16> random{};
    random.fill(0xA5);
    const std::string name = Install::UninstallCopyName(random);
    EXPECT_EQ(name, "Quillmere-uninstall-a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5.exe");
    EXPECT_TRUE(Install::IsUninstallCopyName(name));
    for (const char* other : {"Quillmere-uninstall-notes.exe", "Quillmere.exe", "Quillmere-uninstall-.exe",
             "Quillmere-uninstall-A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5.exe",
             "Quillmere-uninstall-a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5.exe.started"})
    {
        EXPECT_FALSE(Install::IsUninstallCopyName(other)) << other;
    }
}
