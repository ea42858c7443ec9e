// The decoder against a plain reference that decodes any lead and continuation bytes first and
// judges the value afterwards; accepted text must encode back to exactly its bytes.
#include "base/Text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace
{
struct SReference
{
    bool valid = false;
    char32_t point = 0;
    std::size_t length = 0;
};

SReference Reference(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::size_t length = 0;
    char32_t point = 0;
    char32_t minimum = 0;
    if (text.empty())
    {
        return {};
    }
    if (byte(0) < 0x80)
    {
        return {true, byte(0), 1};
    }
    if ((byte(0) & 0xE0) == 0xC0)
    {
        length = 2, point = byte(0) & 0x1F, minimum = 0x80;
    }
    else if ((byte(0) & 0xF0) == 0xE0)
    {
        length = 3, point = byte(0) & 0x0F, minimum = 0x800;
    }
    else if ((byte(0) & 0xF8) == 0xF0)
    {
        length = 4, point = byte(0) & 0x07, minimum = 0x10000;
    }
    if (length == 0 || text.size() < length)
    {
        return {};
    }
    for (std::size_t k = 1; k < length; ++k)
    {
        if ((byte(k) & 0xC0) != 0x80)
        {
            return {};
        }
        point = (point << 6) | (byte(k) & 0x3F);
    }
    const bool valid = point >= minimum && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
    return {valid, point, length};
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view rest = input;
    std::string encoded;
    bool whole = true;
    while (!rest.empty())
    {
        const SReference expected = Reference(rest);
        const std::string_view before = rest;
        char32_t point = 0;
        const bool decoded = Text::NextCodePoint(rest, point);
        if (decoded != expected.valid)
        {
            std::abort();
        }
        if (!decoded)
        {
            // A refused sequence is left in place; step over one byte to test what follows.
            if (rest.data() != before.data() || rest.size() != before.size())
            {
                std::abort();
            }
            whole = false;
            rest.remove_prefix(1);
            continue;
        }
        if (point != expected.point || before.size() - rest.size() != expected.length)
        {
            std::abort();
        }
        Text::AppendUtf8(encoded, point);
    }
    if (Text::IsUtf8(input) != whole || (whole && encoded != input))
    {
        std::abort();
    }
    return 0;
}
