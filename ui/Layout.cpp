#include "ui/Layout.h"

#include <cmath>
#include <numbers>

namespace Ui
{
BottomRow LayoutBottomRow(int releaseNameWidth, const std::array<int, 4>& labelWidths,
                          const std::array<bool, 4>& included) noexcept
{
    constexpr int kLeft = kReleaseNameRect.x;
    BottomRow row{};
    int cursor = kLeft + releaseNameWidth;
    for (std::size_t i = 0; i < row.size(); ++i)
    {
        if (!included[i])
        {
            continue;
        }
        const int x = cursor > kLeft ? cursor + kBottomRowGap : cursor;
        row[i] = {x, kReleaseNameRect.y, labelWidths[i] + 2, kReleaseNameRect.height};
        cursor = row[i].Right();
    }
    return row;
}

SRect ControlRect(ControlId id, const BottomRow& bottomRow) noexcept
{
    for (std::size_t i = 0; i < kBottomRowIds.size(); ++i)
    {
        if (kBottomRowIds[i] == id)
        {
            return bottomRow[i];
        }
    }
    for (const SControlSpec& spec : kControlTable)
    {
        if (spec.id == id)
        {
            return spec.rect;
        }
    }
    return {};
}

SRect ChildRect(ControlId id, const BottomRow& bottomRow, int dpi) noexcept
{
    SRect dip = ControlRect(id, bottomRow);
    if (id == ControlId::LoginBox || id == ControlId::PasswordBox)
    {
        dip = {dip.x + 10, dip.y + 9, dip.width - 20, dip.height - 18};
    }
    return {Scale(dip.x, dpi), Scale(dip.y, dpi), Scale(dip.width, dpi), Scale(dip.height, dpi)};
}

std::optional<ControlId> HitTest(int x, int y, int dpi, const BottomRow& bottomRow,
                                 const std::array<bool, kControlCount>& shownAndEnabled) noexcept
{
    for (const SControlSpec& spec : kControlTable)
    {
        // The language caption only names the list that shares its rectangle for screen
        // readers; the pointer always reaches the list.
        if (!shownAndEnabled[SlotOf(spec.id)] || spec.id == ControlId::LanguageCaption)
        {
            continue;
        }
        const SRect dip = ControlRect(spec.id, bottomRow);
        const int left = Scale(dip.x, dpi);
        const int top = Scale(dip.y, dpi);
        const int right = Scale(dip.Right(), dpi);
        const int bottom = Scale(dip.Bottom(), dpi);
        if (left <= x && x < right && top <= y && y < bottom)
        {
            return spec.id;
        }
    }
    return std::nullopt;
}

double EmberRandom(std::uint32_t seed, std::uint32_t stream) noexcept
{
    std::uint32_t y = seed ^ (0x9E3779B9u + stream * 0x9E37u);
    y ^= y >> 15;
    y *= 0x85EBCA77u;
    y ^= y >> 13;
    y *= 0xC2B2AE3Du;
    y ^= y >> 16;
    return y * 0x1p-32;
}

SEmber EmberAt(int index, double clockMs) noexcept
{
    const double t = clockMs / 1000.0;
    const std::uint32_t i = static_cast<std::uint32_t>(index);
    const std::uint32_t a = i * 0x9E3779B1u;
    const double period = 6.0 + 8.0 * EmberRandom(a, 1);
    const double s = (EmberRandom(a, 2) * period + t) / period;
    const double cycle = std::floor(s);
    const double f = s - cycle;
    const std::uint32_t n = static_cast<std::uint32_t>(static_cast<std::int64_t>(cycle));
    const std::uint32_t b = i * 0xDDE6C400u + n * 0x9E3779B1u;
    auto u = [b](std::uint32_t k) { return EmberRandom(b, k); };

    constexpr double pi = std::numbers::pi;
    SEmber ember{};
    ember.x = std::sin(2.0 * pi * ((u(5) + 0.5) * f + u(6))) * (5.0 + 11.0 * u(4)) + 30.0 + 530.0 * u(7);
    ember.y = 440.0 - 170.0 * u(8) - (80.0 + 90.0 * u(3)) * f;
    ember.r = 0.7 + u(9);
    ember.alpha = std::sin(pi * f) * (0.35 + 0.45 * u(10));
    return ember;
}
}
