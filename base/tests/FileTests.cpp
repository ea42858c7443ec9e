// Whole-file reading, the atomic write and the tree removal, in a folder of the test's own.
#include "base/File.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "base/tests/Links.h"
#include "base/tests/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
std::string Utf8(const std::filesystem::path& path)
{
    return Text::WideToUtf8(path.wstring());
}
}

// The ".tmp" is made afresh and shared with nobody: a program that held a left-over one
// open, writing, cannot reach into the file that takes the target's place. A file that ends
// before the size it was opened with (sysfs files, which Wine shows under Z:) is an error.
TEST(Files, TheAtomicWriteKeepsItsTemporaryToItselfAndAShortReadFails)
{
    const TempFolder folder(L"qm-files");
    const std::string target = Utf8(folder.path() / "a.cfg");
    ASSERT_TRUE(File::WriteWhole(target, std::string_view("old")));
    UniqueHandle other(CreateFileW(Text::Utf8ToWide(target + ".tmp").c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, 0, nullptr));
    const bool written = File::WriteAtomically(target, std::string_view("new"));
    DWORD put = 0;
    WriteFile(other.get(), "XXX", 3, &put, nullptr);
    EXPECT_EQ(File::ReadWhole(target).value_or(""), written ? "new" : "old");
    other.reset();
    ASSERT_TRUE(File::WriteAtomically(target, std::string_view("newer")));
    EXPECT_EQ(File::ReadWhole(target).value_or(""), "newer");

    const auto shortRead = File::ReadWhole("Z:\\sys\\devices\\system\\cpu\\online");
    EXPECT_TRUE(!shortRead && shortRead.error() == ERROR_HANDLE_EOF);
}

// A link in the tree, or the tree's folder given as a link, is never gone through. (Wine
// removes what a link points at where Windows removes the link, so here the links stay.)
TEST(Files, TheTreeRemovalNeverFollowsALink)
{
    const TempFolder folder(L"qm-files");
    const std::string kept = Utf8(folder.path() / "kept" / "keep.txt");
    const std::string goes = Utf8(folder.path() / "tree" / "inner" / "goes.txt");
    File::CreateParentFolders(kept);
    File::CreateParentFolders(goes);
    ASSERT_TRUE(File::WriteWhole(kept, std::string_view("kept")) && File::WriteWhole(goes, std::string_view("goes")));
    ASSERT_TRUE(MakeLink(folder.path() / "tree" / "inner", L"link", L"../../kept"));
    ASSERT_TRUE(MakeLink(folder.path(), L"tree-link", L"kept"));
    File::RemoveTree(Utf8(folder.path() / "tree-link"));
    File::RemoveTree(Utf8(folder.path() / "tree"));
    EXPECT_FALSE(File::Exists(goes));
    EXPECT_EQ(File::ReadWhole(kept).value_or(""), "kept");
    RemoveLink(folder.path() / "tree" / "inner", L"link");
    RemoveLink(folder.path(), L"tree-link");
}
