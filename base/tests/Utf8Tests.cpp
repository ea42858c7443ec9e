#include "base/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace
{
struct SEdge
{
    std::string_view bytes;
    char32_t point;
};
}

TEST(Utf8, EachLengthDecodesAtItsEdgesAndEncodesBackToTheSameBytes)
{
    using namespace std::string_view_literals;
    for (const SEdge& edge : {SEdge{"\x00"sv, 0x0}, SEdge{"\x7F", 0x7F}, SEdge{"\xC2\x80", 0x80},
                              SEdge{"\xDF\xBF", 0x7FF}, SEdge{"\xE0\xA0\x80", 0x800}, SEdge{"\xED\x9F\xBF", 0xD7FF},
                              SEdge{"\xEE\x80\x80", 0xE000}, SEdge{"\xEF\xBF\xBF", 0xFFFF},
                              SEdge{"\xF0\x90\x80\x80", 0x10000}, SEdge{"\xF4\x8F\xBF\xBF", 0x10FFFF}})
    {
        std::string text(edge.bytes);
        text += "z";
        std::string_view rest = text;
        char32_t point = 0;
        ASSERT_TRUE(Text::NextCodePoint(rest, point)) << testing::PrintToString(edge.bytes);
        EXPECT_EQ(static_cast<std::uint32_t>(point), static_cast<std::uint32_t>(edge.point));
        EXPECT_EQ(rest, "z");
        std::string encoded;
        Text::AppendUtf8(encoded, point);
        EXPECT_EQ(encoded, edge.bytes);
    }
}

TEST(Utf8, OverlongsSurrogatesValuesPastTheLastAndCutSequencesAreRefusedAndNotConsumed)
{
    for (const std::string_view bad : {"", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", // overlong
                                       "\xED\xA0\x80", "\xED\xBF\xBF",                           // surrogates
                                       "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",          // too large
                                       "\x80", "\xBF", "\xE2\x82", "\xF0\x9F\x98", "\xE2\x28\xA1", "\xC3\xC3"})
    {
        std::string_view rest = bad;
        char32_t point = 0;
        EXPECT_FALSE(Text::NextCodePoint(rest, point)) << testing::PrintToString(bad);
        EXPECT_EQ(rest.data(), bad.data());
        EXPECT_EQ(rest.size(), bad.size());
    }
}

TEST(Utf8, AWholeTextIsUtf8OnlyWhenEverySequenceIs)
{
    EXPECT_TRUE(Text::IsUtf8(""));
    EXPECT_TRUE(Text::IsUtf8("Čeština \xF0\x9F\x8E\xAE ok"));
    EXPECT_FALSE(Text::IsUtf8("Čeština \xF0\x9F\x8E"));
    EXPECT_FALSE(Text::IsUtf8("ok\xED\xA0\x80ok"));
}
