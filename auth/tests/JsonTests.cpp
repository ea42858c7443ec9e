#include "auth/Json.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>

using Auth::DecodeBase64Url;
using Auth::EncodeBase64Url;
using Auth::Json::FindValue;
using Auth::Json::ParseU32;
using Auth::Json::ParseU64;

namespace
{
Auth::Json::SValue Find(std::string_view body, std::string_view key)
{
    return FindValue(std::span<const char>(body.data(), body.size()), key);
}

std::vector<std::uint8_t> Counting(std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}
}

TEST(FindValue, ReadsStringsAndDigitRuns)
{
    const std::string_view body = R"({"state":"abc","retry":30,"empty":""})";
    EXPECT_EQ(Find(body, "state").text, "abc");
    EXPECT_EQ(Find(body, "retry").text, "30");
    const auto empty = Find(body, "empty");
    EXPECT_TRUE(empty.found);
    EXPECT_EQ(empty.text, "");
    EXPECT_FALSE(Find(body, "missing"));
    EXPECT_FALSE(Find(body, "stat")); // a key is matched whole, with its quotes
}

TEST(FindValue, TakesTheFirstOccurrenceAtAnyDepth)
{
    EXPECT_EQ(Find(R"({"user":{"login":"inner"},"login":"outer"})", "login").text, "inner");
    // Even text inside another string counts once it reads "login":
    EXPECT_EQ(Find(R"({"note":"see "login":7","login":"x"})", "login").text, "7");
}

TEST(FindValue, QuirksOfTheScanner)
{
    EXPECT_FALSE(Find(R"({"retry": 30})", "retry"));          // no whitespace is skipped
    EXPECT_EQ(Find(R"({"retry":"30"})", "retry").text, "30"); // quoted numbers are text
    EXPECT_EQ(ParseU32(Find(R"({"retry":"30"})", "retry")), 30u);
    EXPECT_EQ(Find(R"({"m":"a\"b"})", "m").text, "a\\"); // backslash has no meaning
    for (auto body : {R"({"k":true})", R"({"k":null})", R"({"k":-5})", R"({"k":false})", R"({"k":.5})"})
    {
        EXPECT_FALSE(Find(body, "k")) << body;
    }
    EXPECT_EQ(Find(R"({"k":12.5})", "k").text, "12");
    EXPECT_FALSE(Find(R"({"k":)", "k"));      // nothing after the colon
    EXPECT_FALSE(Find(R"({"k":"open)", "k")); // unterminated string
    EXPECT_FALSE(Find("", "k"));
}

TEST(ParseNumbers, LimitsAndPrefixes)
{
    EXPECT_EQ(ParseU32(Find(R"({"n":4294967295})", "n")), 4294967295u);
    EXPECT_EQ(ParseU32(Find(R"({"n":4294967296})", "n")), 0u);
    EXPECT_EQ(ParseU32(Find(R"({"n":"30s"})", "n")), 30u);
    EXPECT_EQ(ParseU32(Find(R"({"n":"x30"})", "n")), 0u);
    EXPECT_EQ(ParseU32(Find(R"({"n":"000042"})", "n")), 42u);
    EXPECT_EQ(ParseU32(Find("{}", "n")), 0u);

    EXPECT_EQ(ParseU64(Find(R"({"n":18446744073709551615})", "n")), 18446744073709551615ull);
    EXPECT_EQ(ParseU64(Find(R"({"n":18446744073709551616})", "n")), std::nullopt);
    EXPECT_EQ(ParseU64(Find(R"({"n":""})", "n")), std::nullopt);
    EXPECT_EQ(ParseU64(Find("{}", "n")), std::nullopt);
    EXPECT_EQ(ParseU64(Find(R"({"n":0})", "n")), 0u);
}

TEST(Base64Url, EncodedLengthsAndAlphabet)
{
    for (auto [bytes, chars] : std::array<std::pair<std::size_t, std::size_t>, 6>{
             {{32, 43}, {64, 86}, {96, 128}, {8, 11}, {1, 2}, {0, 0}}})
    {
        EXPECT_EQ(EncodeBase64Url(Counting(bytes)).size(), chars) << bytes;
    }
    const std::array<std::uint8_t, 3> high{0xFB, 0xFF, 0xBF};
    EXPECT_EQ(EncodeBase64Url(high), "-_-_");
    const std::array<std::uint8_t, 3> abc{'a', 'b', 'c'};
    EXPECT_EQ(EncodeBase64Url(abc), "YWJj");
}

TEST(Base64Url, RoundTripsEveryLength)
{
    for (std::size_t n = 0; n < 70; ++n)
    {
        const auto bytes = Counting(n);
        const auto decoded = DecodeBase64Url(EncodeBase64Url(bytes));
        ASSERT_TRUE(decoded) << n;
        EXPECT_EQ(*decoded, bytes);
    }
}

TEST(Base64Url, RefusesAnythingButTheCanonicalText)
{
    EXPECT_FALSE(DecodeBase64Url("YWJjZ"));    // length 5
    EXPECT_FALSE(DecodeBase64Url("YWI="));     // padding
    EXPECT_FALSE(DecodeBase64Url("YW+j"));     // standard alphabet
    EXPECT_FALSE(DecodeBase64Url("YW/j"));
    EXPECT_FALSE(DecodeBase64Url("YW j"));
    EXPECT_FALSE(DecodeBase64Url("YWJj\n"));
    EXPECT_FALSE(DecodeBase64Url(std::string_view("YW\0j", 4)));
    EXPECT_FALSE(DecodeBase64Url("YR")); // 'R' leaves non-zero bits after the byte

    // 32 bytes take 43 characters; the last carries 4 bits that must be zero.
    std::string text = EncodeBase64Url(Counting(32));
    ASSERT_EQ(text.size(), 43u);
    ASSERT_EQ(text.back(), '8'); // 0x1F << 2 -> 60 -> '8'
    text.back() = '9';
    EXPECT_FALSE(DecodeBase64Url(text));

    const auto empty = DecodeBase64Url("");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(SecureWipe, ZeroesAndToleratesNothing)
{
    std::array<std::uint8_t, 33> secret;
    secret.fill(0xA5);
    Secure::Wipe(secret);
    for (auto b : secret)
    {
        EXPECT_EQ(b, 0);
    }
    Secure::Wipe(nullptr, 10);
    Secure::Wipe(secret.data(), 0);
}
