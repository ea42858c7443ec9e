// Starting children: the Windows error comes back as a value, and a child started with a list
// of handles to inherit runs like one started with none.
#include "base/Handle.h"
#include "base/Process.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::wstring Cmd()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\cmd.exe";
}

DWORD ExitCodeOf(const SUniqueProcess& started)
{
    DWORD code = STILL_ACTIVE;
    EXPECT_EQ(WaitForSingleObject(started.process.get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(started.process.get(), &code));
    return code;
}
}

TEST(Process, AMissingProgramIsItsWindowsErrorAndAStartedOneRunsWithOrWithoutInheritedHandles)
{
    const auto missing = Process::Start({.application = L"C:\\no-such-folder\\none.exe", .commandLine = L"none.exe"});
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error() == ERROR_PATH_NOT_FOUND || missing.error() == ERROR_FILE_NOT_FOUND) << missing.error();

    const auto plain = Process::Start({.application = Cmd(), .commandLine = L"cmd.exe /c exit 7"});
    ASSERT_TRUE(plain) << plain.error();
    EXPECT_EQ(ExitCodeOf(*plain), 7u);

    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    const UniqueHandle readEnd(read);
    const UniqueHandle writeEnd(write);
    ASSERT_TRUE(SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT));
    const HANDLE inherited[] = {write};
    const auto listed = Process::Start({.application = Cmd(), .commandLine = L"cmd.exe /c exit 9", .inherit = inherited});
    ASSERT_TRUE(listed) << listed.error();
    EXPECT_EQ(ExitCodeOf(*listed), 9u);
}
