#include "ui/Layout.h"

#include <gtest/gtest.h>

namespace
{
using namespace Ui;

std::array<bool, kControlCount> AllActive()
{
    std::array<bool, kControlCount> active{};
    active.fill(true);
    return active;
}

TEST(Layout, ScalesLikeMulDivWithHalvesAwayFromZero)
{
    EXPECT_EQ(Scale(590, 120), 738); // 737.5
    EXPECT_EQ(Scale(590, 144), 885);
    EXPECT_EQ(Scale(-5, 120), -6);   // -6.25 rounds to -6, not toward zero on the half
    EXPECT_EQ(Scale(-2, 120), -3);   // -2.5
    EXPECT_EQ(Scale(1, 96), 1);

    // The login box's real edit control at 120 DPI: inset inside its frame.
    EXPECT_EQ(ChildRect(ControlId::LoginBox, {}, 120), (SRect{863, 419, 285, 25}));
    EXPECT_EQ(ChildRect(ControlId::PasswordCaption, {}, 144), (SRect{1020, 558, 372, 30}));

    // The window is sized for its own DPI, centred on its monitor's work area (here the second
    // monitor, right of a 1920-pixel one), and kept below the work area's top.
    EXPECT_EQ(WindowRect(144, {1920, 0, 2560, 1400}), (SRect{1920 + 560, 257, 1440, 885}));
    EXPECT_EQ(WindowRect(120, {0, 40, 1280, 700}), (SRect{40, 40, 1200, 738}));
}

TEST(Layout, BottomRowFollowsTheVersionLabel)
{
    const BottomRow withName = LayoutBottomRow(40, {50, 60, 70, 45}, {true, false, false, true});
    EXPECT_EQ(withName[0], (SRect{94, 536, 52, 20}));
    EXPECT_TRUE(withName[1].Empty());
    EXPECT_TRUE(withName[2].Empty());
    EXPECT_EQ(withName[3], (SRect{164, 536, 47, 20}));

    // Without a release name the first link starts at the left edge, with no separator gap.
    const BottomRow noName = LayoutBottomRow(0, {50, 60, 70, 45}, {true, false, false, false});
    EXPECT_EQ(noName[0], (SRect{36, 536, 52, 20}));
    EXPECT_EQ(ControlRect(ControlId::Website, noName), noName[0]);
}

TEST(Layout, HitTestTakesTheFirstShownEnabledControl)
{
    std::array<bool, kControlCount> active{};
    active[SlotOf(ControlId::Play)] = true;
    active[SlotOf(ControlId::LanguageList)] = true;
    // PLAY at 144 DPI spans pixels 1020..1391 × 738..833.
    EXPECT_EQ(HitTest(1020, 738, 144, {}, active), ControlId::Play);
    EXPECT_EQ(HitTest(1391, 833, 144, {}, active), ControlId::Play);
    EXPECT_EQ(HitTest(1392, 833, 144, {}, active), std::nullopt);
    // The caption comes first and shares the list's rectangle; the pointer reaches the list.
    EXPECT_EQ(HitTest(800, 20, 96, {}, AllActive()), ControlId::LanguageList);

    // A disabled PLAY is background: the window drags from there.
    active[SlotOf(ControlId::Play)] = false;
    EXPECT_EQ(HitTest(700, 500, 96, {}, active), std::nullopt);
    // Sign In shares the rectangle and comes first in the table.
    EXPECT_EQ(HitTest(700, 500, 96, {}, AllActive()), ControlId::SignIn);

    // Bottom-row links hit where they were laid out.
    const BottomRow row = LayoutBottomRow(0, {50, 0, 0, 0}, {true, false, false, false});
    EXPECT_EQ(HitTest(40, 540, 96, row, AllActive()), ControlId::Website);
    EXPECT_EQ(HitTest(40, 540, 96, {}, AllActive()), std::nullopt);
}

TEST(Layout, EmbersAreAFunctionOfTheClockAndStayInTheirBand)
{
    EXPECT_DOUBLE_EQ(EmberRandom(0, 0), EmberRandom(0, 0));
    EXPECT_NE(EmberRandom(1, 0), EmberRandom(1, 1));
    for (int i = 0; i < kEmberCount; ++i)
    {
        for (double clock : {0.0, 33.0, 12'345.0, 4.0e9})
        {
            const SEmber ember = EmberAt(i, clock);
            const SEmber again = EmberAt(i, clock);
            EXPECT_EQ(ember.x, again.x);
            EXPECT_EQ(ember.y, again.y);
            EXPECT_GE(ember.x, 30.0 - 16.0);
            EXPECT_LE(ember.x, 560.0 + 16.0);
            EXPECT_LE(ember.y, 440.0);
            EXPECT_GE(ember.y, 440.0 - 170.0 - 170.0);
            EXPECT_GE(ember.r, 0.7);
            EXPECT_LT(ember.r, 1.7);
            EXPECT_GE(ember.alpha, 0.0);
            EXPECT_LE(ember.alpha, 0.8);
        }
    }
    // Embers differ from one another, and move with the clock.
    EXPECT_NE(EmberAt(0, 1000.0).x, EmberAt(1, 1000.0).x);
    EXPECT_NE(EmberAt(5, 1000.0).y, EmberAt(5, 1033.0).y);
}
}
