// Whole-file reading, the atomic write and the tree removal, in a folder of the test's own.
#include "shell/File.h"
#include "shell/Handle.h"
#include "shell/Text.h"
#include "shell/tests/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string Utf8(const std::filesystem::path& path)
{
    return WideToUtf8(path.wstring());
}

std::string Contents(const std::string& path)
{
    return ReadWholeFile(path).value_or("(unreadable)");
}
}

// The ".tmp" is shared with nobody: a program that held a left-over one open, writing,
// cannot reach into the file that takes the target's place.
TEST(Files, TheAtomicWriteKeepsItsTemporaryToItself)
{
    const TempFolder folder(L"qm-files");
    const std::string target = Utf8(folder.path() / "a.cfg");
    ASSERT_TRUE(WriteWholeFile(target, std::string_view("old")));
    UniqueHandle other(CreateFileW(Utf8ToWide(target + ".tmp").c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(other);

    const bool written = WriteFileAtomically(target, std::string_view("new"));
    DWORD put = 0;
    WriteFile(other.get(), "XXX", 3, &put, nullptr);
    EXPECT_EQ(Contents(target), written ? "new" : "old");
    other.reset();

    ASSERT_TRUE(WriteFileAtomically(target, std::string_view("newer")));
    EXPECT_EQ(Contents(target), "newer");
    EXPECT_FALSE(PathExists(target + ".tmp"));
}

// A file that ends before the size it was opened with is an error, never its first part.
TEST(Files, AShortReadIsAnError)
{
    // Linux's sysfs files say 4096 bytes and hold a few; Wine shows them under Z:.
    const std::string shrinking = "Z:\\sys\\devices\\system\\cpu\\online";
    if (!PathExists(shrinking))
    {
        GTEST_SKIP() << shrinking << " is not there";
    }
    const auto read = ReadWholeFile(shrinking);
    ASSERT_FALSE(read.has_value()) << *read;
    EXPECT_EQ(read.error(), static_cast<unsigned long>(ERROR_HANDLE_EOF));
}
