#include "shell/CommandLine.h"

#include <gtest/gtest.h>

namespace
{
using Shell::HandOverValue;

TEST(CommandLine, UninstallIsFoundAnywhere)
{
    EXPECT_TRUE(Shell::HasUninstallOption("\"C:\\Q\\Quillmere.exe\" --uninstall"));
    EXPECT_TRUE(Shell::HasUninstallOption("x--uninstallnow"));
    EXPECT_FALSE(Shell::HasUninstallOption("--uninstal"));
}

TEST(CommandLine, HandOverValueIsHexadecimalAfterSpaces)
{
    EXPECT_EQ(HandOverValue("Quillmere.exe --handover 1a4"), 0x1a4u);
    EXPECT_EQ(HandOverValue("--handover     00FFee,rest"), 0xffeeu);
    EXPECT_EQ(HandOverValue("--handoverBEEF"), 0xbeefu);
    EXPECT_EQ(HandOverValue("--handover FFFFFFFFFFFFFFFF"), UINT64_MAX);
    EXPECT_EQ(HandOverValue("--handover 0000000000000000001"), 1u); // leading zeros still fit

    EXPECT_EQ(HandOverValue("--handover 10000000000000000"), std::nullopt); // 65 bits
    EXPECT_EQ(HandOverValue("--handover 0x1a4"), 0u);                        // "0", then stops at 'x'
    EXPECT_EQ(HandOverValue("--handover zz"), std::nullopt);
    EXPECT_EQ(HandOverValue("--handover"), std::nullopt);
    EXPECT_EQ(HandOverValue("--handover\t12"), std::nullopt); // only spaces separate
    EXPECT_EQ(HandOverValue("no option 12"), std::nullopt);
}
}
