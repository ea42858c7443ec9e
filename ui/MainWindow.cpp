#include "ui/MainWindow.h"

#include "base/Text.h"
#include "ui/Localisation.h"

#include <commctrl.h>
#include <dwmapi.h>
#include <windowsx.h>

#include <utility>

namespace Ui
{
namespace
{
constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kFrameMs = 33;

// Newer DWM attributes than the MinGW headers know.
constexpr DWORD kDwmCornerPreference = 33;
constexpr DWORD kDwmBorderColour = 34;
constexpr DWORD kCornerRound = 2;
constexpr DWORD kCornerRoundSmall = 3;

constexpr COLORREF kTextColour = RGB(231, 231, 233);
constexpr COLORREF kFieldColour = RGB(35, 34, 40);
constexpr COLORREF kDimColour = RGB(107, 106, 114);

std::uint16_t Id(ControlId id) noexcept
{
    return static_cast<std::uint16_t>(id);
}

bool IsBottomRowLink(std::uint16_t id) noexcept
{
    return id >= Id(ControlId::CreateAccount) && id <= Id(ControlId::Repair);
}

// The closed language box never paints itself: the window draws the selector in its place.
LRESULT CALLBACK LanguageListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR)
{
    switch (message)
    {
    case WM_PAINT:
        ValidateRect(window, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, LanguageListProc, id);
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
}

CMainWindow::~CMainWindow()
{
    Destroy();
}

void CMainWindow::Create(HWND window, const SBrushes& brushes, const SView& view)
{
    m_window = window;
    m_brushes = brushes;
    m_dpi = static_cast<int>(GetDpiForWindow(window));
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));

    for (const SControlSpec& spec : kControlTable)
    {
        const wchar_t* className = L"STATIC";
        DWORD style = WS_CHILD;
        switch (spec.kind)
        {
        case ControlKind::Static:
            style |= SS_OWNERDRAW;
            break;
        case ControlKind::Edit:
            className = L"EDIT";
            style |= WS_TABSTOP | ES_AUTOHSCROLL |
                     (spec.id == ControlId::LoginBox ? ES_LOWERCASE : static_cast<DWORD>(ES_PASSWORD));
            break;
        case ControlKind::Button:
            className = L"BUTTON";
            style |= BS_OWNERDRAW | BS_NOTIFY;
            if (spec.id != ControlId::Minimise && spec.id != ControlId::Close)
            {
                style |= WS_TABSTOP;
            }
            break;
        case ControlKind::Combo:
            className = L"COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
            break;
        }
        HWND control = CreateWindowExW(0, className, L"", style, 0, 0, 0, 0, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id(spec.id))), instance, nullptr);
        m_controls[SlotOf(spec.id)] = control;
        if (control != nullptr && spec.kind != ControlKind::Edit)
        {
            SetWindowRgn(control, CreateRectRgn(0, 0, 0, 0), FALSE); // the system owns the region now
        }
    }

    if (HWND list = Control(ControlId::LanguageList))
    {
        SetWindowSubclass(list, LanguageListProc, 1, 0);
        for (const SLanguage& language : kLanguages)
        {
            const std::wstring name = Text::Utf8ToWide(language.name);
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        }
        SendMessageW(list, CB_SETMINVISIBLE, kLanguageCount, 0);
        SendMessageW(list, CB_SETCURSEL, view.language, 0);
        COMBOBOXINFO info{sizeof(info)};
        if (GetComboBoxInfo(list, &info) && info.hwndList != nullptr)
        {
            DwmSetWindowAttribute(info.hwndList, kDwmCornerPreference, &kCornerRoundSmall, sizeof(DWORD));
            DwmSetWindowAttribute(info.hwndList, kDwmBorderColour, &kDimColour, sizeof(COLORREF));
        }
    }
    SendMessageW(Control(ControlId::LoginBox), EM_LIMITTEXT, 30, 0);

    BOOL animations = TRUE;
    SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animations, 0);
    m_animations = animations != FALSE;
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);

    MakeFontAndListMetrics();
    m_view = view;
    m_view.language = kLanguageCount; // nothing applied yet: the first Show applies everything
    Show(view);

    const DWORD corner = kCornerRound;
    DwmSetWindowAttribute(window, kDwmCornerPreference, &corner, sizeof(corner));
    const DWMNCRENDERINGPOLICY policy = DWMNCRP_ENABLED;
    DwmSetWindowAttribute(window, DWMWA_NCRENDERING_POLICY, &policy, sizeof(policy));
    const MARGINS margins{0, 0, 0, 1};
    DwmExtendFrameIntoClientArea(window, &margins);
}

void CMainWindow::Show(const SView& view)
{
    const bool firstOrRelabel = view.language != m_view.language;
    const bool rowChanged = firstOrRelabel || view.releaseName != m_view.releaseName || view.hasCdn != m_view.hasCdn ||
                            view.linkHasAddress != m_view.linkHasAddress;
    const SView previous = std::exchange(m_view, view);
    HWND focused = GetFocus();
    if (focused != nullptr && GetParent(focused) != m_window)
    {
        focused = nullptr; // the language list's drop-down, or another window's
    }
    if (firstOrRelabel)
    {
        MakeTextFormats();
    }
    if (rowChanged)
    {
        LayOutBottomRow();
        PositionControls();
    }

    for (const SControlSpec& spec : kControlTable)
    {
        HWND control = Control(spec.id);
        const SControlView& now = m_view[spec.id];
        if (control == nullptr)
        {
            continue;
        }
        if (spec.kind != ControlKind::Edit && spec.kind != ControlKind::Combo &&
            (firstOrRelabel || now.text != previous[spec.id].text))
        {
            SetWindowTextW(control, Text::Utf8ToWide(now.text).c_str());
        }
        EnableWindow(control, now.enabled);
        bool shown = now.shown;
        for (std::size_t i = 0; i < kBottomRowIds.size(); ++i)
        {
            if (kBottomRowIds[i] == spec.id && m_bottomRow[i].Empty())
            {
                shown = false;
            }
        }
        if ((IsWindowVisible(control) || (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE)) != shown)
        {
            ShowWindow(control, shown ? SW_SHOWNA : SW_HIDE);
        }
    }
    HWND list = Control(ControlId::LanguageList);
    if (list != nullptr && SendMessageW(list, CB_GETCURSEL, 0, 0) != static_cast<LRESULT>(m_view.language))
    {
        SendMessageW(list, CB_SETCURSEL, m_view.language, 0);
    }
    KeepFocus(focused);
    Redraw();
}

// A control that is disabled or hidden while it has the focus drops it, and keys would go
// nowhere: the focus moves on to the next control that takes it, as a dialog's does.
void CMainWindow::KeepFocus(HWND focused) const noexcept
{
    if (focused == nullptr || (IsWindowEnabled(focused) && IsWindowVisible(focused)))
    {
        return;
    }
    HWND next = GetNextDlgTabItem(m_window, focused, FALSE);
    if (next != nullptr && next != focused)
    {
        SetFocus(next);
    }
}

std::string CMainWindow::LoginText() const
{
    HWND box = Control(ControlId::LoginBox);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
    return Text::WideToUtf8(text);
}

std::string CMainWindow::TakePassword() const
{
    HWND box = Control(ControlId::PasswordBox);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    const int length = GetWindowTextW(box, text.data(), static_cast<int>(text.size()));
    std::string password = Text::WideToUtf8(std::wstring_view(text.data(), static_cast<std::size_t>(length)));
    SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
    return password;
}

void CMainWindow::ClearPassword() const noexcept
{
    SetWindowTextW(Control(ControlId::PasswordBox), L"");
}

void CMainWindow::Focus(ControlId id) const noexcept
{
    if (HWND control = Control(id))
    {
        SetFocus(control);
    }
}

int CMainWindow::LanguageSelection() const noexcept
{
    return static_cast<int>(SendMessageW(Control(ControlId::LanguageList), CB_GETCURSEL, 0, 0));
}

void CMainWindow::Destroy() noexcept
{
    if (m_timerRunning && m_window != nullptr)
    {
        KillTimer(m_window, kAnimationTimer);
        m_timerRunning = false;
    }
    m_renderer.Release();
    m_font.reset();
}

void CMainWindow::Redraw() noexcept
{
    m_sceneDirty = true;
    if (m_window != nullptr)
    {
        InvalidateRect(m_window, nullptr, FALSE);
    }
}

void CMainWindow::MakeFontAndListMetrics()
{
    UniqueFont font(CreateFontW(-Scale(14, m_dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
    for (HWND control : m_controls)
    {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    }
    m_font = std::move(font); // the old one goes once no control uses it

    HWND list = Control(ControlId::LanguageList);
    SendMessageW(list, CB_SETITEMHEIGHT, 0, Scale(28, m_dpi));
    SendMessageW(list, CB_SETDROPPEDWIDTH, Scale(168, m_dpi), 0);
    const int field = Scale(26, m_dpi);
    SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    RECT box{};
    GetWindowRect(list, &box);
    const int extra = (box.bottom - box.top) - field;
    if (extra >= 0 && extra < field)
    {
        SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Scale(32, m_dpi) - extra);
    }
}

void CMainWindow::LayOutBottomRow()
{
    std::array<int, 4> widths{};
    std::array<bool, 4> included{m_view.linkHasAddress[0], m_view.linkHasAddress[1], m_view.linkHasAddress[2],
                                 m_view.hasCdn};
    for (std::size_t i = 0; i < kBottomRowIds.size(); ++i)
    {
        widths[i] = MeasureTextWidth(TextStyle::Small, m_view[kBottomRowIds[i]].text);
    }
    m_bottomRow = LayoutBottomRow(MeasureTextWidth(TextStyle::Small, m_view.releaseName), widths, included);
}

void CMainWindow::PositionControls() const
{
    for (const SControlSpec& spec : kControlTable)
    {
        const SRect rect = ChildRect(spec.id, m_bottomRow, m_dpi);
        SetWindowPos(Control(spec.id), nullptr, rect.x, rect.y, rect.width, rect.height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

bool CMainWindow::Active(ControlId id) const noexcept
{
    HWND control = Control(id);
    return control != nullptr && IsWindowVisible(control) && IsWindowEnabled(control);
}

std::uint16_t CMainWindow::HitAt(int x, int y) const noexcept
{
    std::array<bool, kControlCount> active{};
    for (const SControlSpec& spec : kControlTable)
    {
        active[SlotOf(spec.id)] = Active(spec.id);
    }
    const std::optional<ControlId> hit = HitTest(x, y, m_dpi, m_bottomRow, active);
    return hit ? Id(*hit) : 0;
}

void CMainWindow::SetHovered(std::uint16_t id)
{
    if (id == m_hovered)
    {
        return;
    }
    m_hovered = id;
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, m_window, 0};
    TrackMouseEvent(&track);
    Redraw();
}

// Every click, the language list's and the title buttons' included, goes to the owner as a
// button's; it answers with what to do.
void CMainWindow::Click(ControlId id)
{
    SendMessageW(m_window, WM_COMMAND, MAKEWPARAM(Id(id), BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void CMainWindow::FocusFirstControl() const noexcept
{
    Focus(FirstFocus(m_view.signedIn));
}

void CMainWindow::OpenLanguageList()
{
    HWND list = Control(ControlId::LanguageList);
    m_focusBeforeList = GetFocus();
    SetFocus(list);
    SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
}

void CMainWindow::UpdateTimer()
{
    const bool run = m_animations && m_window != nullptr && IsWindowVisible(m_window) && m_active &&
                     !IsIconic(m_window) && !m_renderer.Occluded();
    if (run && !m_timerRunning)
    {
        m_timerRunning = SetTimer(m_window, kAnimationTimer, kFrameMs, nullptr) != 0;
        m_skipNextTick = true;
    }
    else if (!run && m_timerRunning)
    {
        KillTimer(m_window, kAnimationTimer);
        m_timerRunning = false;
    }
}

void CMainWindow::Cloak(bool cloak) noexcept
{
    const BOOL value = cloak ? TRUE : FALSE;
    DwmSetWindowAttribute(m_window, DWMWA_CLOAK, &value, sizeof(value));
    m_cloaked = cloak;
}

void CMainWindow::Paint()
{
    PAINTSTRUCT paint{};
    BeginPaint(m_window, &paint);
    if (!IsIconic(m_window))
    {
        SFrame frame;
        frame.view = &m_view;
        frame.bottomRow = m_bottomRow;
        frame.hovered = m_hovered;
        frame.pressed = m_pressed;
        frame.focused = m_focused;
        frame.showFocusCues = (SendMessageW(m_window, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
        frame.animate = m_animations;
        frame.clockMs = m_clockMs;
        switch (m_renderer.Draw(m_window, paint.hdc, m_dpi, frame, m_sceneDirty))
        {
        case CRenderer::Outcome::Drawn:
            m_sceneDirty = false;
            break;
        case CRenderer::Outcome::Skipped:
        case CRenderer::Outcome::Lost:
            m_sceneDirty = true;
            break;
        }
    }
    EndPaint(m_window, &paint);
    if (m_cloaked)
    {
        Cloak(false);
    }
}

void CMainWindow::DrawListItem(const DRAWITEMSTRUCT& item) const
{
    if (item.itemID >= kLanguageCount || (item.itemState & ODS_COMBOBOXEDIT) != 0)
    {
        return;
    }
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    FillRect(dc, &rect, (item.itemState & ODS_SELECTED) != 0 ? m_brushes.highlight : m_brushes.field);
    HGDIOBJ oldFont = SelectObject(dc, m_font.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColour);
    constexpr UINT kFlags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    if (item.itemID == m_view.language)
    {
        RECT bullet{rect.left + Scale(9, m_dpi), rect.top, rect.left + Scale(24, m_dpi), rect.bottom};
        DrawTextW(dc, L"\u2022", 1, &bullet, kFlags);
    }
    const std::wstring name = Text::Utf8ToWide(kLanguages[item.itemID].name);
    RECT text{rect.left + Scale(24, m_dpi), rect.top, rect.right - Scale(8, m_dpi), rect.bottom};
    DrawTextW(dc, name.c_str(), static_cast<int>(name.size()), &text, kFlags);
    SelectObject(dc, oldFont);
}

// The window's messages, one handler per family.
bool CMainWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message)
    {
    case WM_NCHITTEST:
    case WM_SETCURSOR:
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        return OnPointer(window, message, wParam, lParam, result);
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_SETFOCUS:
        OnSetFocus();
        return true;
    case WM_UPDATEUISTATE:
        Redraw();
        return false; // the default handling records the new state
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        result = OnControlColour(message, wParam);
        return true;
    case WM_DRAWITEM:
        result = OnDrawItem(lParam);
        return true;
    case WM_MEASUREITEM:
        return OnMeasureItem(lParam, result);
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_DPICHANGED:
        OnDpiChanged(window, wParam, lParam);
        return true;
    case WM_SHOWWINDOW:
    case WM_SIZE:
    case WM_ACTIVATE:
    case WM_WINDOWPOSCHANGED:
    case WM_SETTINGCHANGE:
        OnWindowState(message, wParam);
        return false; // watched only: the owner sees them too
    case WM_TIMER:
        return OnTimer(window, wParam);
    case WM_PAINT:
        Paint();
        return true;
    default:
        return false;
    }
}

// ---- Size, DPI and the window's state --------------------------------------------------

void CMainWindow::OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    m_dpi = HIWORD(wParam);
    m_renderer.Release();
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    MakeFontAndListMetrics();
    PositionControls();
    Redraw();
}

// Showing, hiding, minimising, activation and settings: the cloak, the device resources and
// whether the animation timer runs.
void CMainWindow::OnWindowState(UINT message, WPARAM wParam)
{
    switch (message)
    {
    case WM_SHOWWINDOW:
        if (wParam != FALSE && !m_renderer.HasTarget())
        {
            Cloak(true);
        }
        else if (wParam == FALSE)
        {
            m_renderer.Release();
            m_sceneDirty = true;
        }
        break;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED && m_cloaked)
        {
            Cloak(false);
        }
        break;
    case WM_ACTIVATE:
        m_active = LOWORD(wParam) != WA_INACTIVE;
        break;
    case WM_SETTINGCHANGE: {
        BOOL animations = TRUE;
        SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animations, 0);
        m_animations = animations != FALSE;
        Redraw();
        break;
    }
    default:
        break;
    }
    UpdateTimer();
}

bool CMainWindow::OnTimer(HWND window, WPARAM timer)
{
    if (timer != kAnimationTimer)
    {
        return false;
    }
    const DWORD now = static_cast<DWORD>(GetMessageTime());
    if (!m_skipNextTick)
    {
        m_clockMs += static_cast<DWORD>(now - m_lastTick);
    }
    m_skipNextTick = false;
    m_lastTick = now;
    InvalidateRect(window, nullptr, FALSE);
    UpdateTimer();
    return true;
}

// ---- Painting ----------------------------------------------------------------------------

LRESULT CMainWindow::OnControlColour(UINT message, WPARAM wParam) const
{
    if (message == WM_CTLCOLORBTN)
    {
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, kTextColour);
    SetBkColor(dc, kFieldColour);
    return reinterpret_cast<LRESULT>(m_brushes.field);
}

LRESULT CMainWindow::OnDrawItem(LPARAM lParam) const
{
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->CtlID == Id(ControlId::LanguageList))
    {
        DrawListItem(*item);
    }
    return TRUE;
}

bool CMainWindow::OnMeasureItem(LPARAM lParam, LRESULT& result) const
{
    auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    if (item->CtlID != Id(ControlId::LanguageList))
    {
        return false;
    }
    item->itemHeight = static_cast<UINT>(Scale(item->itemID == static_cast<UINT>(-1) ? 26 : 28, m_dpi));
    result = TRUE;
    return true;
}

// ---- Mouse -------------------------------------------------------------------------------

// Hit testing, the cursor, hover, presses and releases.
bool CMainWindow::OnPointer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message)
    {
    case WM_NCHITTEST:
        result = OnNcHitTest(window, lParam);
        return true;
    case WM_SETCURSOR:
        return OnSetCursor(window, wParam, lParam, result);
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return true;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return true;
    case WM_LBUTTONDOWN:
        OnLButtonDown(window, lParam);
        return true;
    case WM_LBUTTONUP:
        OnLButtonUp(lParam);
        return true;
    case WM_CAPTURECHANGED:
        OnCaptureChanged();
        return true;
    default:
        return false;
    }
}

// The background drags the window; the controls are client area.
LRESULT CMainWindow::OnNcHitTest(HWND window, LPARAM lParam) const
{
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(window, &point);
    return HitAt(point.x, point.y) != 0 ? HTCLIENT : HTCAPTION;
}

// The hand over the bottom row's links; the class cursor elsewhere.
bool CMainWindow::OnSetCursor(HWND window, WPARAM wParam, LPARAM lParam, LRESULT& result) const
{
    if (LOWORD(lParam) != HTCLIENT || reinterpret_cast<HWND>(wParam) != window)
    {
        return false;
    }
    POINT point{};
    GetCursorPos(&point);
    ScreenToClient(window, &point);
    if (!IsBottomRowLink(HitAt(point.x, point.y)))
    {
        return false;
    }
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    result = TRUE;
    return true;
}

void CMainWindow::OnMouseMove(LPARAM lParam)
{
    UpdateTimer();
    SetHovered(HitAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
}

void CMainWindow::OnMouseLeave()
{
    m_hovered = 0;
    Redraw();
}

// A press on an edit box's frame focuses the box; on another control it is held until the
// button comes up.
void CMainWindow::OnLButtonDown(HWND window, LPARAM lParam)
{
    const std::uint16_t id = HitAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (id == Id(ControlId::LoginBox) || id == Id(ControlId::PasswordBox))
    {
        SetFocus(Control(static_cast<ControlId>(id)));
    }
    else if (id != 0)
    {
        m_pressed = id;
        SetCapture(window);
        Redraw();
    }
}

// A click is a release over the control that was pressed.
void CMainWindow::OnLButtonUp(LPARAM lParam)
{
    const std::uint16_t pressed = m_pressed;
    if (pressed != 0)
    {
        ReleaseCapture();
        if (HitAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)) == pressed)
        {
            Click(static_cast<ControlId>(pressed));
        }
    }
}

void CMainWindow::OnCaptureChanged()
{
    m_pressed = 0;
    Redraw();
}

// ---- Keyboard focus and commands ---------------------------------------------------------

// The window's focus goes on to the control that had it last, or to the first one.
void CMainWindow::OnSetFocus()
{
    const auto last = static_cast<ControlId>(m_lastFocused);
    if (m_lastFocused != 0 && Active(last))
    {
        Focus(last);
    }
    else
    {
        FocusFirstControl();
    }
}

// The controls' focus notifications and the language list's closing are the window's; the
// rest, clicks included, are left to the owner.
bool CMainWindow::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (lParam == 0)
    {
        return false; // IDOK and IDCANCEL from the dialog navigation
    }
    const std::uint16_t id = LOWORD(wParam);
    const WORD code = HIWORD(wParam);
    if (id == Id(ControlId::LanguageList))
    {
        return OnListNotification(code);
    }
    if (id == Id(ControlId::LoginBox) || id == Id(ControlId::PasswordBox))
    {
        return OnEditNotification(id, code);
    }
    return OnButtonNotification(id, code);
}

bool CMainWindow::OnListNotification(WORD code)
{
    switch (code)
    {
    case CBN_SETFOCUS:
        m_focused = m_lastFocused = Id(ControlId::LanguageList);
        Redraw();
        return true;
    case CBN_KILLFOCUS:
        m_focused = 0;
        Redraw();
        return true;
    case CBN_CLOSEUP:
        SendMessageW(Control(ControlId::LanguageList), CB_SETCURSEL, m_view.language, 0);
        if (m_focusBeforeList != nullptr && IsWindow(m_focusBeforeList))
        {
            SetFocus(m_focusBeforeList);
        }
        m_focusBeforeList = nullptr;
        return true;
    default:
        return false;
    }
}

bool CMainWindow::OnEditNotification(std::uint16_t id, WORD code)
{
    if (code != EN_SETFOCUS && code != EN_KILLFOCUS)
    {
        return false;
    }
    m_focused = code == EN_SETFOCUS ? id : 0;
    m_lastFocused = code == EN_SETFOCUS ? id : m_lastFocused;
    Redraw();
    return true;
}

bool CMainWindow::OnButtonNotification(std::uint16_t id, WORD code)
{
    switch (code)
    {
    case BN_SETFOCUS:
        m_focused = m_lastFocused = id;
        Redraw();
        return true;
    case BN_KILLFOCUS:
        m_focused = 0;
        Redraw();
        return true;
    default:
        return false;
    }
}
}
