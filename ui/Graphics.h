// The window's drawing: the Direct2D, DirectWrite and imaging factories, the text formats,
// and a renderer that paints a frame from a snapshot of the view. Device resources are made
// lazily, kept while they work, and released on hide, DPI change and a lost device.
#pragma once

#include "base/Handle.h"
#include "ui/Layout.h"

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace Ui
{
enum class TextStyle : std::uint8_t
{
    Status,        // 14 DIP, wraps: the status line
    Panel,         // 14 DIP: "Signed in as"
    Label,         // 14 DIP centred: Sign Out
    Small,         // 13 DIP: captions, links, version, bottom row, language code
    SmallTrailing, // 13 DIP right-aligned: Forgot Password
    Button,        // 24 DIP semi-bold centred: the main button
};
inline constexpr std::size_t kTextStyleCount = 6;

// Made once before the window exists; an error is the player's text for a missing component.
[[nodiscard]] std::expected<void, std::string> CreateFactories();
void ReleaseFactories() noexcept;
// The text formats carry the current language's locale: made again when it changes.
void MakeTextFormats() noexcept;
// Width of a one-line text in a style, trailing white space included, rounded up to whole
// DIP; 0 when the style's format is missing.
[[nodiscard]] int MeasureTextWidth(TextStyle style, std::string_view text);

// Everything one frame is drawn from.
struct SFrame
{
    const SView* view = nullptr;
    BottomRow bottomRow{};
    std::uint16_t hovered = 0; // control ids; 0 for none
    std::uint16_t pressed = 0;
    std::uint16_t focused = 0;
    bool showFocusCues = false;
    bool animate = false;
    double clockMs = 0.0;
};

class CRenderer
{
public:
    CRenderer() noexcept = default;
    CRenderer(const CRenderer&) = delete;
    CRenderer& operator=(const CRenderer&) = delete;

    enum class Outcome
    {
        Drawn,
        Skipped, // resources could not be made; try again at the next paint
        Lost,    // the device went away; everything was released, paint again
    };
    // paintDc: the DC of BeginPaint (used only where a window target cannot be).
    [[nodiscard]] Outcome Draw(HWND window, HDC paintDc, int dpi, const SFrame& frame, bool sceneDirty);

    void Release() noexcept;
    [[nodiscard]] bool HasTarget() const noexcept { return m_target != nullptr; }
    [[nodiscard]] bool Occluded() const noexcept;

    // For tests: the next frame's EndDraw reports a lost device, whatever the device says, and
    // the real handling follows; how many times the device resources were made.
    void LoseDeviceAtNextFrame() noexcept { m_loseDevice = true; }
    [[nodiscard]] std::uint32_t DevicesMade() const noexcept { return m_devicesMade; }

private:
    [[nodiscard]] bool MakeResources(HWND window, HDC paintDc, int dpi) noexcept;
    [[nodiscard]] bool DrawScene(const SFrame& frame);
    void DrawEmbers(double clockMs) noexcept;

    UniqueCom<ID2D1Factory> m_factory;
    // The window target; or, under Wine, whose window target covers the child edit boxes with
    // its GL surface, a DC target bound to the paint DC. m_target is whichever exists.
    UniqueCom<ID2D1HwndRenderTarget> m_hwndTarget;
    UniqueCom<ID2D1DCRenderTarget> m_dcTarget;
    ID2D1RenderTarget* m_target = nullptr;
    RECT m_client{};
    UniqueCom<ID2D1SolidColorBrush> m_brush;
    UniqueCom<ID2D1BitmapRenderTarget> m_sceneTarget;
    UniqueCom<ID2D1Bitmap> m_scene;
    UniqueCom<ID2D1LinearGradientBrush> m_rightFade;
    UniqueCom<ID2D1LinearGradientBrush> m_bottomFade;
    UniqueCom<ID2D1LinearGradientBrush> m_button;
    UniqueCom<ID2D1LinearGradientBrush> m_buttonHover;
    UniqueCom<ID2D1Bitmap> m_background;
    UniqueCom<ID2D1Bitmap> m_logo;
    D2D1_SIZE_F m_sizeDip{};
    bool m_loseDevice = false;
    std::uint32_t m_devicesMade = 0;
};
}
