#include "base/Path.h"

#include <gtest/gtest.h>

TEST(Paths, TheFolderEndsBeforeTheLastSeparatorOfEitherKindButARootKeepsItsOwn)
{
    EXPECT_EQ(Path::FolderOf("C:\\a/b\\Quillmere.exe"), "C:\\a/b");
    EXPECT_EQ(Path::FolderOf("C:\\a\\b/Quillmere.exe"), "C:\\a\\b");
    EXPECT_EQ(Path::FolderOf("C:\\Quillmere.exe"), "C:\\");
    EXPECT_EQ(Path::FolderOf("C:/Quillmere.exe"), "C:/");
    EXPECT_EQ(Path::FolderOf("\\\\server\\share\\Quillmere.exe"), "\\\\server\\share");
    EXPECT_EQ(Path::FolderOf("Quillmere.exe"), "");
    EXPECT_EQ(Path::FolderOf(""), "");
}
