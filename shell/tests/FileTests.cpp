// Whole-file reading, the atomic write and the tree removal, in a folder of the test's own.
#include "shell/File.h"
#include "shell/Handle.h"
#include "shell/Text.h"
#include "shell/tests/Links.h"
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

// The ".tmp" is made afresh and shared with nobody: a program that held a left-over one
// open, writing, cannot reach into the file that takes the target's place.
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

// A link in the tree, or the tree's folder given as a link, is never gone through: what it
// points at stays whole. (Wine shows only links to folders as links, and removes what a link
// points at where Windows removes the link; so here the links themselves may stay.)
TEST(Files, TheTreeRemovalNeverFollowsALink)
{
    const TempFolder folder(L"qm-files");
    const std::filesystem::path tree = folder.path() / "tree";
    CreateDirectoryW((folder.path() / "kept").c_str(), nullptr);
    const std::string kept = Utf8(folder.path() / "kept" / "keep.txt");
    ASSERT_TRUE(WriteWholeFile(kept, std::string_view("kept")));
    CreateParentFolders(Utf8(tree / "inner" / "file.txt"));
    ASSERT_TRUE(WriteWholeFile(Utf8(tree / "inner" / "file.txt"), std::string_view("goes")));
    ASSERT_TRUE(MakeLink(tree / "inner", L"folder-link", L"../../kept"));
    ASSERT_TRUE(MakeLink(folder.path(), L"tree-link", L"kept"));

    RemoveTree(Utf8(folder.path() / "tree-link"));
    EXPECT_EQ(Contents(kept), "kept");
    RemoveTree(Utf8(tree));
    EXPECT_FALSE(PathExists(Utf8(tree / "inner" / "file.txt")));
    EXPECT_EQ(Contents(kept), "kept");
    RemoveLink(tree / "inner", L"folder-link");
    RemoveLink(folder.path(), L"tree-link");
}
