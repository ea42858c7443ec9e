// The launcher window's mechanics: its 19 child controls (invisible except the two edit
// boxes), layout at the window's DPI, painting, hit testing and dragging, hover, pressed and
// focus state, the language list, DWM attributes, cloaking, the animation timer and device
// loss. What the controls mean is the controller's: clicks, the title buttons' and the
// language list's included, reach it as WM_COMMAND, and it hands back what to show as a view.
#pragma once

#include "base/Handle.h"
#include "ui/Graphics.h"
#include "ui/View.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

namespace Ui
{
using UniqueFont = UniqueResource<SPointerTraits<HFONT, &DeleteObject>>;

struct SBrushes
{
    HBRUSH field = nullptr;     // edit, list and static backgrounds
    HBRUSH highlight = nullptr; // the highlighted language entry
};

class CMainWindow
{
public:
    CMainWindow() noexcept = default;
    CMainWindow(const CMainWindow&) = delete;
    CMainWindow& operator=(const CMainWindow&) = delete;
    ~CMainWindow();

    // In WM_CREATE: builds the controls, fonts, list and layout for this view.
    void Create(HWND window, const SBrushes& brushes, const SView& view);

    // Handles what belongs to the window's mechanics. true: consumed, result holds the answer.
    // Messages it only watches (WM_ACTIVATE, WM_SIZE, ...) return false so their owner sees them.
    [[nodiscard]] bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Applies a view: visibility, enabling and texts of the controls, the language list's
    // selection, and the bottom row when the language or the version label changed; redraws.
    void Show(const SView& view);
    [[nodiscard]] const SView& View() const noexcept { return m_view; }

    [[nodiscard]] std::string LoginText() const;
    // The password box's text as UTF-8; the wide copy is wiped. The caller wipes the result.
    [[nodiscard]] std::string TakePassword() const;
    void ClearPassword() const noexcept;
    void Focus(ControlId id) const noexcept;
    // Focuses the shown view's first control (FirstFocus).
    void FocusFirstControl() const noexcept;
    // Remembers the focus, focuses the language list and drops it down; the focus goes back
    // when it closes.
    void OpenLanguageList();
    // The index the language list has selected (the player's pick), or -1.
    [[nodiscard]] int LanguageSelection() const noexcept;
    [[nodiscard]] HWND Control(ControlId id) const noexcept { return m_controls[SlotOf(id)]; }

    // In WM_DESTROY: stops the animation, releases the device resources and the font.
    void Destroy() noexcept;

    // Marks the scene dirty and invalidates the window.
    void Redraw() noexcept;

    // For tests: the next frame loses its device (CRenderer::LoseDeviceAtNextFrame), and how
    // many times the device resources were made.
    void LoseDeviceAtNextFrame() noexcept { m_renderer.LoseDeviceAtNextFrame(); }
    [[nodiscard]] std::uint32_t DevicesMade() const noexcept { return m_renderer.DevicesMade(); }

private:
    void MakeFontAndListMetrics();
    void LayOutBottomRow();
    void PositionControls() const;
    void KeepFocus(HWND focused) const noexcept;
    void UpdateTimer();
    void SetHovered(std::uint16_t id);
    void Click(ControlId id);
    void Paint();
    void Cloak(bool cloak) noexcept;
    void DrawListItem(const DRAWITEMSTRUCT& item) const;

    // The message handlers, by family.
    void OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam);
    void OnWindowState(UINT message, WPARAM wParam);
    [[nodiscard]] bool OnTimer(HWND window, WPARAM timer);
    [[nodiscard]] LRESULT OnControlColour(UINT message, WPARAM wParam) const;
    [[nodiscard]] LRESULT OnDrawItem(LPARAM lParam) const;
    [[nodiscard]] bool OnMeasureItem(LPARAM lParam, LRESULT& result) const;
    [[nodiscard]] bool OnPointer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    [[nodiscard]] LRESULT OnNcHitTest(HWND window, LPARAM lParam) const;
    [[nodiscard]] bool OnSetCursor(HWND window, WPARAM wParam, LPARAM lParam, LRESULT& result) const;
    void OnMouseMove(LPARAM lParam);
    void OnMouseLeave();
    void OnLButtonDown(HWND window, LPARAM lParam);
    void OnLButtonUp(LPARAM lParam);
    void OnCaptureChanged();
    void OnSetFocus();
    [[nodiscard]] bool OnCommand(WPARAM wParam, LPARAM lParam);
    [[nodiscard]] bool OnListNotification(WORD code);
    [[nodiscard]] bool OnEditNotification(std::uint16_t id, WORD code);
    [[nodiscard]] bool OnButtonNotification(std::uint16_t id, WORD code);
    [[nodiscard]] std::uint16_t HitAt(int x, int y) const noexcept;
    [[nodiscard]] bool Active(ControlId id) const noexcept;

    HWND m_window = nullptr;
    int m_dpi = 96;
    std::array<HWND, kControlCount> m_controls{};
    SView m_view{};
    BottomRow m_bottomRow{};
    SBrushes m_brushes{};
    UniqueFont m_font;
    CRenderer m_renderer;

    std::uint16_t m_hovered = 0;
    std::uint16_t m_pressed = 0;
    std::uint16_t m_focused = 0;
    std::uint16_t m_lastFocused = 0;
    HWND m_focusBeforeList = nullptr;

    bool m_sceneDirty = true;
    bool m_cloaked = false;
    bool m_animations = true;
    bool m_active = false;
    bool m_timerRunning = false;
    bool m_skipNextTick = false;
    double m_clockMs = 0.0;
    DWORD m_lastTick = 0;
};
}
