// The window's geometry and animation as plain arithmetic: the control table in DIP, scaling
// to pixels, the bottom row, hit testing and the rising embers. No Windows API here; the
// window layer feeds in the DPI, measured text widths and the clock.
#pragma once

#include "ui/View.h"

#include <array>
#include <cstdint>
#include <optional>

namespace Ui
{
inline constexpr int kWindowWidthDip = 960;
inline constexpr int kWindowHeightDip = 590;

// n × dpi ÷ 96 rounded to the nearest integer, halves away from zero (as MulDiv does).
[[nodiscard]] constexpr int Scale(int n, int dpi) noexcept
{
    const long long product = static_cast<long long>(n) * dpi;
    const long long half = 48;
    return static_cast<int>(product >= 0 ? (product + half) / 96 : -((-product + half) / 96));
}

struct SRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    [[nodiscard]] constexpr int Right() const noexcept { return x + width; }
    [[nodiscard]] constexpr int Bottom() const noexcept { return y + height; }
    [[nodiscard]] constexpr bool Empty() const noexcept { return width <= 0 || height <= 0; }
    friend constexpr bool operator==(const SRect&, const SRect&) = default;
};

// The window at this DPI, centred in the work area of its monitor; at the work area's top when
// it is taller than the work area.
[[nodiscard]] constexpr SRect WindowRect(int dpi, const SRect& workArea) noexcept
{
    const int width = Scale(kWindowWidthDip, dpi);
    const int height = Scale(kWindowHeightDip, dpi);
    const int halfSpare = (workArea.height - height) / 2;
    return {workArea.x + (workArea.width - width) / 2, halfSpare >= 1 ? workArea.y + halfSpare : workArea.y, width,
        height};
}

enum class ControlKind : std::uint8_t
{
    Static,
    Edit,
    Button,
    Combo,
};

struct SControlSpec
{
    ControlId id;
    ControlKind kind;
    SRect rect; // DIP; empty for the bottom row, which is laid out from measured text
    bool signedInMark;
    bool alwaysMark;
};

// In creation order, which is also the hit-test order and the tab order.
inline constexpr std::array<SControlSpec, kControlCount> kControlTable{{
    {ControlId::LoginCaption, ControlKind::Static, {680, 304, 248, 20}, false, false},
    {ControlId::LoginBox, ControlKind::Edit, {680, 326, 248, 38}, false, false},
    {ControlId::PasswordCaption, ControlKind::Static, {680, 372, 248, 20}, false, false},
    {ControlId::PasswordBox, ControlKind::Edit, {680, 394, 248, 38}, false, false},
    {ControlId::SignIn, ControlKind::Button, {680, 492, 248, 64}, false, false},
    {ControlId::CreateAccount, ControlKind::Button, {680, 442, 120, 22}, false, false},
    {ControlId::ForgotPassword, ControlKind::Button, {800, 442, 128, 22}, false, false},
    {ControlId::SignedInLine, ControlKind::Static, {636, 56, 184, 44}, true, false},
    {ControlId::Play, ControlKind::Button, {680, 492, 248, 64}, true, false},
    {ControlId::SignOut, ControlKind::Button, {826, 62, 104, 32}, true, false},
    {ControlId::Website, ControlKind::Button, {}, false, true},
    {ControlId::Discord, ControlKind::Button, {}, false, true},
    {ControlId::Support, ControlKind::Button, {}, false, true},
    {ControlId::Repair, ControlKind::Button, {}, false, true},
    {ControlId::LanguageCaption, ControlKind::Static, {784, 8, 72, 32}, false, true},
    {ControlId::LanguageList, ControlKind::Combo, {784, 8, 72, 32}, false, true},
    {ControlId::Status, ControlKind::Static, {54, 488, 602, 44}, false, true},
    {ControlId::Minimise, ControlKind::Button, {864, 8, 40, 32}, false, true},
    {ControlId::Close, ControlKind::Button, {912, 8, 40, 32}, false, true},
}};

// What is only drawn, in DIP: the logo, the signed-in panel behind its line and Sign Out, the
// status line (a dot before it moves its text to the status control's left edge; a progress
// bar under it shortens it), the version label that starts the bottom row, and the two fades
// over the background picture (clear at one edge of the rectangle, the base colour at the
// other: the right fade from left to right, the bottom fade from top to bottom).
inline constexpr SRect kLogoRect{36, 33, 340, 90};
inline constexpr SRect kSignedInPanelRect{620, 56, 316, 44};
inline constexpr SRect kStatusLineRect{36, 488, 620, 44};
inline constexpr int kStatusLineOverBarHeight = 28;
inline constexpr SRect kStatusDotRect{36, 505, 10, 10};
inline constexpr SRect kProgressBarRect{36, 522, 620, 4};
inline constexpr SRect kReleaseNameRect{36, 536, 620, 20};
inline constexpr int kBottomRowGap = 18; // between the version label and each link; a dot in its middle
inline constexpr SRect kRightFadeRect{600, 0, 100, kWindowHeightDip};
inline constexpr SRect kBottomFadeRect{0, 400, kWindowWidthDip, 86};

// Website, Discord, Support and Repair after the version label, in that order.
inline constexpr std::array<ControlId, 4> kBottomRowIds{ControlId::Website, ControlId::Discord,
                                                        ControlId::Support, ControlId::Repair};
using BottomRow = std::array<SRect, 4>;

// Lays out the bottom row from whole-DIP text widths: the version label's, then each link's
// label. A link left out (included false) gets an empty rectangle.
[[nodiscard]] BottomRow LayoutBottomRow(int releaseNameWidth, const std::array<int, 4>& labelWidths,
                                        const std::array<bool, 4>& included) noexcept;

// A control's rectangle in DIP: from the table, or from the bottom row.
[[nodiscard]] SRect ControlRect(ControlId id, const BottomRow& bottomRow) noexcept;

// Where the control's child window goes in pixels: the DIP rectangle scaled, the two edit
// boxes inset by 10 × 9 DIP so their text sits inside the drawn frame.
[[nodiscard]] SRect ChildRect(ControlId id, const BottomRow& bottomRow, int dpi) noexcept;

// The first control in table order whose scaled rectangle holds the pixel point and that is
// shown and enabled; nothing when the point is on the background. The language caption is
// never hit: the list in the same rectangle is.
[[nodiscard]] std::optional<ControlId> HitTest(int x, int y, int dpi, const BottomRow& bottomRow,
                                               const std::array<bool, kControlCount>& shownAndEnabled) noexcept;

// Deterministic hash of a seed and a stream number into [0, 1).
[[nodiscard]] double EmberRandom(std::uint32_t seed, std::uint32_t stream) noexcept;

struct SEmber
{
    double x;     // DIP
    double y;     // DIP
    double r;     // core radius, DIP; the glow is three times as wide
    double alpha; // core opacity; the glow has 0.22 of it
};
inline constexpr int kEmberCount = 24;

// Ember i (0 to 23) at the animation clock in milliseconds. Stateless: the same clock always
// gives the same picture.
[[nodiscard]] SEmber EmberAt(int index, double clockMs) noexcept;
}
