#include "base/Text.h"

#include <gtest/gtest.h>

TEST(Text, ConvertsStrictlyBothWays)
{
    EXPECT_EQ(Text::Utf8ToWide("Čeština Ελληνικά"), L"Čeština Ελληνικά");
    EXPECT_EQ(Text::WideToUtf8(L"Русский 😀"), "Русский 😀");
    EXPECT_EQ(Text::Utf8ToWide(""), L"");

    // Any invalid sequence gives an empty result, never a replacement character.
    for (const char* bad : {"a\xC3(", "\xC0\xAF", "\xED\xA0\x80", "abc\xFF", "\xF4\x90\x80\x80", "\xE2\x82"})
    {
        EXPECT_EQ(Text::Utf8ToWide(bad), L"") << bad;
    }
    EXPECT_EQ(Text::WideToUtf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "");
    EXPECT_EQ(Text::WideToUtf8(std::wstring(1, wchar_t(0xDC00))), "");
}

TEST(Text, WrapsErrorNumbers)
{
    EXPECT_EQ(Text::WithWindowsError("the file cannot be opened", 5), "the file cannot be opened (Windows error 5)");
    EXPECT_EQ(Text::WithWinHttpError("the server cannot be reached", 12029),
              "the server cannot be reached (WinHTTP error 12029)");
}
