#include "ui/Graphics.h"

#include "base/Text.h"
#include "ui/Localisation.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Ui
{
namespace
{
ComPtr<IDWriteFactory> g_writeFactory;
ComPtr<IWICImagingFactory> g_imagingFactory;
std::array<ComPtr<IDWriteTextFormat>, kTextStyleCount> g_formats;

constexpr int kBackgroundResource = 101;
constexpr int kSheetResource = 102;
constexpr WICRect kBackgroundCrop{0, 5, 2624, 1613};
constexpr WICRect kLogoCrop{258, 443, 2286, 604};

constexpr D2D1_COLOR_F Rgb(std::uint32_t rgb, float alpha = 1.0f) noexcept
{
    return {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, alpha};
}

namespace Colour
{
constexpr std::uint32_t kBase = 0x17161B;
constexpr std::uint32_t kField = 0x232228;
constexpr std::uint32_t kRaised = 0x36353B;
constexpr std::uint32_t kRaisedHover = 0x45444B;
constexpr std::uint32_t kText = 0xE7E7E9;
constexpr std::uint32_t kMuted = 0xB4B2B4;
constexpr std::uint32_t kDim = 0x6B6A72;
constexpr std::uint32_t kAccent = 0xFF8C1A;
constexpr std::uint32_t kButtonTop = 0xC8561A;
constexpr std::uint32_t kButtonBottom = 0xA63A16;
constexpr std::uint32_t kButtonHoverTop = 0xD4601C;
constexpr std::uint32_t kButtonHoverBottom = 0xB2421A;
constexpr std::uint32_t kButtonPressed = 0xA63A16;
constexpr std::uint32_t kError = 0xE88070;
constexpr std::uint32_t kGood = 0x7FBF8A;
constexpr std::uint32_t kAttention = 0xE0A458;
constexpr std::uint32_t kWhite = 0xFFFFFF;
}

constexpr D2D1_RECT_F RectF(float left, float top, float right, float bottom) noexcept
{
    return {left, top, right, bottom};
}

D2D1_RECT_F RectF(const SRect& rect) noexcept
{
    return {static_cast<float>(rect.x), static_cast<float>(rect.y), static_cast<float>(rect.Right()),
            static_cast<float>(rect.Bottom())};
}

D2D1_ROUNDED_RECT Rounded(const D2D1_RECT_F& rect, float radius) noexcept
{
    return {rect, radius, radius};
}

D2D1_ELLIPSE Circle(float x, float y, float radius) noexcept
{
    return {{x, y}, radius, radius};
}

struct SFormatSpec
{
    float size;
    DWRITE_FONT_WEIGHT weight;
    DWRITE_TEXT_ALIGNMENT alignment;
    DWRITE_WORD_WRAPPING wrapping;
};

constexpr std::array<SFormatSpec, kTextStyleCount> kFormatSpecs{{
    {14.0f, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_TEXT_ALIGNMENT_LEADING, DWRITE_WORD_WRAPPING_WRAP},
    {14.0f, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_TEXT_ALIGNMENT_LEADING, DWRITE_WORD_WRAPPING_NO_WRAP},
    {14.0f, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_TEXT_ALIGNMENT_CENTER, DWRITE_WORD_WRAPPING_NO_WRAP},
    {13.0f, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_TEXT_ALIGNMENT_LEADING, DWRITE_WORD_WRAPPING_NO_WRAP},
    {13.0f, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_TEXT_ALIGNMENT_TRAILING, DWRITE_WORD_WRAPPING_NO_WRAP},
    {24.0f, DWRITE_FONT_WEIGHT_SEMI_BOLD, DWRITE_TEXT_ALIGNMENT_CENTER, DWRITE_WORD_WRAPPING_NO_WRAP},
}};

ComPtr<IDWriteTextFormat> MakeFormat(const SFormatSpec& spec, const wchar_t* locale) noexcept
{
    ComPtr<IDWriteTextFormat> format;
    if (FAILED(g_writeFactory->CreateTextFormat(L"Segoe UI", nullptr, spec.weight, DWRITE_FONT_STYLE_NORMAL,
                                                DWRITE_FONT_STRETCH_NORMAL, spec.size, locale, format.Put())))
    {
        return {};
    }
    format->SetTextAlignment(spec.alignment);
    format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    format->SetWordWrapping(spec.wrapping);
    ComPtr<IDWriteInlineObject> ellipsis;
    if (SUCCEEDED(g_writeFactory->CreateEllipsisTrimmingSign(format.Get(), ellipsis.Put())))
    {
        const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
        format->SetTrimming(&trimming, ellipsis.Get());
    }
    return format;
}

// Wine draws a window target through a GL surface that hides the child windows beneath it.
bool RunsUnderWine() noexcept
{
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

IDWriteTextFormat* Format(TextStyle style) noexcept
{
    return g_formats[static_cast<std::size_t>(style)].Get();
}

// Decodes an image resource, crops it and scales it to an exact pixel size with the best
// filter the imaging component offers. Absent on any failure: the scene is drawn without it.
ComPtr<ID2D1Bitmap> LoadImage(ID2D1RenderTarget* target, int resource, const WICRect& crop, UINT width,
                              UINT height, float dpi) noexcept
{
    if (!g_imagingFactory || width == 0 || height == 0)
    {
        return {};
    }
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    if (bytes == nullptr || size == 0)
    {
        return {};
    }
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    ComPtr<IWICBitmapClipper> clipper;
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(g_imagingFactory->CreateStream(stream.Put())) ||
        FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(bytes), size)) ||
        FAILED(g_imagingFactory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                         decoder.Put())) ||
        FAILED(decoder->GetFrame(0, frame.Put())) || FAILED(g_imagingFactory->CreateFormatConverter(converter.Put())) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(g_imagingFactory->CreateBitmapClipper(clipper.Put())) ||
        FAILED(clipper->Initialize(converter.Get(), &crop)) || FAILED(g_imagingFactory->CreateBitmapScaler(scaler.Put())))
    {
        return {};
    }
    // High-quality cubic where the imaging component has it; Fant otherwise.
    constexpr auto kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);
    if (FAILED(scaler->Initialize(clipper.Get(), width, height, kHighQualityCubic)) &&
        FAILED(scaler->Initialize(clipper.Get(), width, height, WICBitmapInterpolationModeFant)))
    {
        return {};
    }
    const D2D1_BITMAP_PROPERTIES properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, dpi, dpi};
    ComPtr<ID2D1Bitmap> bitmap;
    if (FAILED(target->CreateBitmapFromWicBitmap(scaler.Get(), properties, bitmap.Put())))
    {
        return {};
    }
    return bitmap;
}

ComPtr<ID2D1LinearGradientBrush> MakeGradient(ID2D1RenderTarget* target, D2D1_POINT_2F from, D2D1_COLOR_F fromColour,
                                              D2D1_POINT_2F to, D2D1_COLOR_F toColour) noexcept
{
    const D2D1_GRADIENT_STOP stops[2]{{0.0f, fromColour}, {1.0f, toColour}};
    ComPtr<ID2D1GradientStopCollection> collection;
    ComPtr<ID2D1LinearGradientBrush> brush;
    if (FAILED(target->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP, collection.Put())) ||
        FAILED(target->CreateLinearGradientBrush({from, to}, collection.Get(), brush.Put())))
    {
        return {};
    }
    return brush;
}

class SceneDrawer
{
public:
    SceneDrawer(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) noexcept : m_target(target), m_brush(brush) {}

    ID2D1SolidColorBrush* Paint(std::uint32_t rgb, float alpha = 1.0f) const noexcept
    {
        m_brush->SetColor(Rgb(rgb, alpha));
        return m_brush;
    }

    void Text(std::string_view text, TextStyle style, const D2D1_RECT_F& rect, std::uint32_t rgb) const
    {
        IDWriteTextFormat* format = Format(style);
        if (format == nullptr || text.empty())
        {
            return;
        }
        const std::wstring wide = Text::Utf8ToWide(text);
        m_target->DrawText(wide.c_str(), static_cast<UINT32>(wide.size()), format, rect, Paint(rgb));
    }

    void FocusRing(const SRect& rect, float radius) const noexcept
    {
        const D2D1_RECT_F grown = RectF(rect.x - 2.0f, rect.y - 2.0f, rect.Right() + 2.0f, rect.Bottom() + 2.0f);
        m_target->DrawRoundedRectangle(Rounded(grown, radius), Paint(Colour::kAccent), 1.5f);
    }

    ID2D1RenderTarget* operator->() const noexcept { return m_target; }

private:
    ID2D1RenderTarget* m_target;
    ID2D1SolidColorBrush* m_brush;
};

float FocusRadius(ControlId id) noexcept
{
    switch (id)
    {
    case ControlId::SignIn:
    case ControlId::Play:
        return 12.0f;
    case ControlId::SignOut:
        return 8.0f;
    case ControlId::LanguageList:
        return 6.0f;
    case ControlId::CreateAccount:
    case ControlId::ForgotPassword:
    case ControlId::Website:
    case ControlId::Discord:
    case ControlId::Support:
    case ControlId::Repair:
        return 3.0f;
    default:
        return 0.0f;
    }
}
}

std::expected<void, std::string> CreateFactories()
{
    const std::string failed(TextIn(CurrentLanguageIndex(), TextId::GraphicsFailed));
    ComPtr<ID2D1Factory> probe;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(probe.Put()))))
    {
        return std::unexpected(failed);
    }
    probe.Reset();
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(g_writeFactory.Put()))) ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                reinterpret_cast<void**>(g_imagingFactory.Put()))))
    {
        ReleaseFactories();
        return std::unexpected(failed);
    }
    MakeTextFormats();
    return {};
}

void ReleaseFactories() noexcept
{
    for (auto& format : g_formats)
    {
        format.Reset();
    }
    g_imagingFactory.Reset();
    g_writeFactory.Reset();
}

void MakeTextFormats() noexcept
{
    if (!g_writeFactory)
    {
        return;
    }
    const std::wstring& locale = CurrentLocaleName();
    for (std::size_t i = 0; i < kTextStyleCount; ++i)
    {
        g_formats[i] = MakeFormat(kFormatSpecs[i], locale.c_str());
    }
}

int MeasureTextWidth(TextStyle style, std::string_view text)
{
    IDWriteTextFormat* format = Format(style);
    if (format == nullptr || text.empty())
    {
        return 0;
    }
    const std::wstring wide = Text::Utf8ToWide(text);
    ComPtr<IDWriteTextLayout> layout;
    DWRITE_TEXT_METRICS metrics{};
    if (FAILED(g_writeFactory->CreateTextLayout(wide.c_str(), static_cast<UINT32>(wide.size()), format, 1000.0f,
                                                100.0f, layout.Put())) ||
        FAILED(layout->GetMetrics(&metrics)))
    {
        return 0;
    }
    return static_cast<int>(std::ceil(metrics.widthIncludingTrailingWhitespace - 1e-3f));
}

Renderer::Outcome Renderer::Draw(HWND window, HDC paintDc, int dpi, const SFrame& frame, bool sceneDirty)
{
    bool fresh = false;
    if (!m_target)
    {
        if (!MakeResources(window, paintDc, dpi))
        {
            Release();
            return Outcome::Skipped;
        }
        ++m_devicesMade;
        fresh = true;
    }
    if ((sceneDirty || fresh) && !DrawScene(frame))
    {
        Release();
        InvalidateRect(window, nullptr, FALSE);
        return Outcome::Lost;
    }
    if (m_dcTarget && !fresh && FAILED(m_dcTarget->BindDC(paintDc, &m_client)))
    {
        Release();
        return Outcome::Skipped;
    }
    m_target->BeginDraw();
    m_target->DrawBitmap(m_scene.Get(), RectF(0, 0, m_sizeDip.width, m_sizeDip.height), 1.0f,
                         D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
    if (frame.animate)
    {
        DrawEmbers(frame.clockMs);
    }
    HRESULT ended = m_target->EndDraw();
    if (std::exchange(m_loseDevice, false))
    {
        ended = D2DERR_RECREATE_TARGET;
    }
    if (ended == static_cast<HRESULT>(D2DERR_RECREATE_TARGET))
    {
        Release();
        InvalidateRect(window, nullptr, FALSE);
        return Outcome::Lost;
    }
    return Outcome::Drawn;
}

void Renderer::Release() noexcept
{
    m_logo.Reset();
    m_background.Reset();
    m_buttonHover.Reset();
    m_button.Reset();
    m_bottomFade.Reset();
    m_rightFade.Reset();
    m_scene.Reset();
    m_sceneTarget.Reset();
    m_brush.Reset();
    m_target = nullptr;
    m_dcTarget.Reset();
    m_hwndTarget.Reset();
    m_factory.Reset();
}

bool Renderer::Occluded() const noexcept
{
    return m_hwndTarget && (m_hwndTarget->CheckWindowState() & D2D1_WINDOW_STATE_OCCLUDED) != 0;
}

bool Renderer::MakeResources(HWND window, HDC paintDc, int dpi) noexcept
{
    GetClientRect(window, &m_client);
    const D2D1_SIZE_U pixels{static_cast<UINT32>(m_client.right), static_cast<UINT32>(m_client.bottom)};
    if (pixels.width == 0 || pixels.height == 0)
    {
        return false;
    }
    const float dpiF = static_cast<float>(dpi);
    m_sizeDip = {pixels.width * 96.0f / dpiF, pixels.height * 96.0f / dpiF};
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(m_factory.Put()))))
    {
        return false;
    }
    if (RunsUnderWine())
    {
        const D2D1_RENDER_TARGET_PROPERTIES properties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                       {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE},
                                                       dpiF, dpiF, D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE,
                                                       D2D1_FEATURE_LEVEL_DEFAULT};
        if (FAILED(m_factory->CreateDCRenderTarget(&properties, m_dcTarget.Put())))
        {
            return false;
        }
        m_target = m_dcTarget.Get();
        if (FAILED(m_dcTarget->BindDC(paintDc, &m_client)))
        {
            return false;
        }
    }
    else
    {
        const D2D1_RENDER_TARGET_PROPERTIES properties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                       {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                                       dpiF, dpiF, D2D1_RENDER_TARGET_USAGE_NONE,
                                                       D2D1_FEATURE_LEVEL_DEFAULT};
        const D2D1_HWND_RENDER_TARGET_PROPERTIES hwndProperties{window, pixels, D2D1_PRESENT_OPTIONS_IMMEDIATELY};
        if (FAILED(m_factory->CreateHwndRenderTarget(properties, hwndProperties, m_hwndTarget.Put())))
        {
            return false;
        }
        m_target = m_hwndTarget.Get();
    }
    if (FAILED(m_target->CreateSolidColorBrush(Rgb(Colour::kText), m_brush.Put())) ||
        FAILED(m_target->CreateCompatibleRenderTarget(m_sizeDip, pixels, m_sceneTarget.Put())) ||
        FAILED(m_sceneTarget->GetBitmap(m_scene.Put())))
    {
        return false;
    }
    ID2D1RenderTarget* target = m_target;
    m_rightFade = MakeGradient(target, {600, 0}, Rgb(Colour::kBase, 0.0f), {700, 0}, Rgb(Colour::kBase));
    m_bottomFade = MakeGradient(target, {0, 400}, Rgb(Colour::kBase, 0.0f), {0, 486}, Rgb(Colour::kBase));
    m_button = MakeGradient(target, {0, 492}, Rgb(Colour::kButtonTop), {0, 556}, Rgb(Colour::kButtonBottom));
    m_buttonHover =
        MakeGradient(target, {0, 492}, Rgb(Colour::kButtonHoverTop), {0, 556}, Rgb(Colour::kButtonHoverBottom));
    if (!m_rightFade || !m_bottomFade || !m_button || !m_buttonHover)
    {
        return false;
    }
    m_background = LoadImage(target, kBackgroundResource, kBackgroundCrop, pixels.width, pixels.height, dpiF);
    m_logo = LoadImage(target, kSheetResource, kLogoCrop, static_cast<UINT>(Scale(340, dpi)),
                       static_cast<UINT>(Scale(90, dpi)), dpiF);
    return true;
}

bool Renderer::DrawScene(const SFrame& frame)
{
    const SView& view = *frame.view;
    const SceneDrawer draw(m_sceneTarget.Get(), m_brush.Get());
    auto rectOf = [&](ControlId id) { return ControlRect(id, frame.bottomRow); };
    auto hovered = [&](ControlId id) { return frame.hovered == static_cast<std::uint16_t>(id); };
    auto pressed = [&](ControlId id) { return frame.pressed == static_cast<std::uint16_t>(id); };
    auto focused = [&](ControlId id) { return frame.focused == static_cast<std::uint16_t>(id); };
    const D2D1_RECT_F all = RectF(0, 0, kWindowWidthDip, kWindowHeightDip);

    draw->BeginDraw();
    draw->Clear(Rgb(Colour::kBase));
    if (m_background)
    {
        draw->DrawBitmap(m_background.Get(), all, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
    }
    draw->FillRectangle(all, m_rightFade.Get());
    draw->FillRectangle(all, m_bottomFade.Get());
    if (m_logo)
    {
        draw->DrawBitmap(m_logo.Get(), RectF(36, 33, 376, 123));
    }

    // Title buttons.
    for (ControlId id : {ControlId::Minimise, ControlId::Close})
    {
        const D2D1_RECT_F rect = RectF(rectOf(id));
        if (hovered(id))
        {
            draw->FillRoundedRectangle(Rounded(rect, 4), draw.Paint(Colour::kRaised));
        }
        const float cx = (rect.left + rect.right) / 2;
        const float cy = (rect.top + rect.bottom) / 2;
        ID2D1Brush* glyph = draw.Paint(hovered(id) ? Colour::kText : Colour::kMuted);
        if (id == ControlId::Minimise)
        {
            draw->DrawLine({cx - 6, cy + 0.5f}, {cx + 6, cy + 0.5f}, glyph, 1.0f);
        }
        else
        {
            draw->DrawLine({cx - 6, cy - 6}, {cx + 6, cy + 6}, glyph, 1.0f);
            draw->DrawLine({cx + 6, cy - 6}, {cx - 6, cy + 6}, glyph, 1.0f);
        }
    }

    // Language selector.
    {
        const ControlId id = ControlId::LanguageList;
        const D2D1_RECT_F rect = RectF(rectOf(id));
        const bool enabled = view[id].enabled;
        if (hovered(id))
        {
            draw->FillRoundedRectangle(Rounded(rect, 4), draw.Paint(Colour::kRaised));
        }
        const std::uint32_t colour = !enabled ? Colour::kDim : hovered(id) ? Colour::kText : Colour::kMuted;
        const float middle = (rect.top + rect.bottom) / 2;
        const float cx = rect.left + 15;
        ID2D1Brush* ink = draw.Paint(colour);
        draw->DrawEllipse(D2D1_ELLIPSE{{cx, middle}, 6.5f, 6.5f}, ink, 1.0f);
        draw->DrawEllipse(D2D1_ELLIPSE{{cx, middle}, 2.75f, 6.5f}, ink, 1.0f);
        draw->DrawLine({cx - 6.5f, middle}, {cx + 6.5f, middle}, ink, 1.0f);
        draw->DrawLine({rect.right - 14.5f, middle - 1.5f}, {rect.right - 11, middle + 2}, ink, 1.0f);
        draw->DrawLine({rect.right - 11, middle + 2}, {rect.right - 7.5f, middle - 1.5f}, ink, 1.0f);
        const std::size_t language = view.language < kLanguageCount ? view.language : kEnglish;
        draw.Text(kLanguages[language].label, TextStyle::Small, RectF(rect.left + 27, rect.top, rect.right - 16, rect.bottom),
                  colour);
    }

    if (!view.signedIn)
    {
        draw.Text(view[ControlId::LoginCaption].text, TextStyle::Small, RectF(rectOf(ControlId::LoginCaption)),
                  Colour::kMuted);
        draw.Text(view[ControlId::PasswordCaption].text, TextStyle::Small, RectF(rectOf(ControlId::PasswordCaption)),
                  Colour::kMuted);
        for (ControlId id : {ControlId::LoginBox, ControlId::PasswordBox})
        {
            const D2D1_RECT_F rect = RectF(rectOf(id));
            draw->FillRoundedRectangle(Rounded(rect, 6), draw.Paint(Colour::kField));
            const D2D1_RECT_F inset = RectF(rect.left + 0.5f, rect.top + 0.5f, rect.right - 0.5f, rect.bottom - 0.5f);
            draw->DrawRoundedRectangle(Rounded(inset, 6), draw.Paint(focused(id) ? Colour::kAccent : Colour::kDim), 1.0f);
        }
        if (view.releaseReadable)
        {
            draw.Text(view[ControlId::CreateAccount].text, TextStyle::Small, RectF(rectOf(ControlId::CreateAccount)),
                      hovered(ControlId::CreateAccount) ? Colour::kText : Colour::kMuted);
            draw.Text(view[ControlId::ForgotPassword].text, TextStyle::SmallTrailing,
                      RectF(rectOf(ControlId::ForgotPassword)),
                      hovered(ControlId::ForgotPassword) ? Colour::kText : Colour::kMuted);
        }
    }
    else
    {
        draw->FillRoundedRectangle(Rounded(RectF(620, 56, 936, 100), 8), draw.Paint(Colour::kField));
        draw.Text(view[ControlId::SignedInLine].text, TextStyle::Panel, RectF(rectOf(ControlId::SignedInLine)),
                  Colour::kText);
        const ControlId id = ControlId::SignOut;
        draw->FillRoundedRectangle(Rounded(RectF(rectOf(id)), 6),
                                   draw.Paint(hovered(id) && !pressed(id) ? Colour::kRaisedHover : Colour::kRaised));
        draw.Text(view[id].text, TextStyle::Label, RectF(rectOf(id)), view[id].enabled ? Colour::kText : Colour::kMuted);
    }

    // The main button.
    {
        const ControlId id = view.signedIn ? ControlId::Play : ControlId::SignIn;
        const D2D1_ROUNDED_RECT shape = Rounded(RectF(rectOf(id)), 10);
        const bool enabled = view[id].enabled;
        if (!enabled)
        {
            draw->FillRoundedRectangle(shape, draw.Paint(Colour::kField));
        }
        else if (pressed(id))
        {
            draw->FillRoundedRectangle(shape, draw.Paint(Colour::kButtonPressed));
        }
        else
        {
            draw->FillRoundedRectangle(shape, hovered(id) ? m_buttonHover.Get() : m_button.Get());
        }
        draw.Text(view[id].text, TextStyle::Button, shape.rect, enabled ? Colour::kWhite : Colour::kMuted);
    }

    // Status line, with the progress bar under it.
    {
        const bool withBar = view.progressFraction >= 0.0f;
        const float bottom = withBar ? 516.0f : 532.0f;
        std::uint32_t colour = Colour::kText;
        float left = 36.0f;
        switch (view.statusKind)
        {
        case StatusKind::Neutral:
            break;
        case StatusKind::Error:
            colour = Colour::kError;
            break;
        case StatusKind::Connection:
        case StatusKind::Good:
        case StatusKind::Attention:
            colour = view.statusKind == StatusKind::Connection ? Colour::kError
                     : view.statusKind == StatusKind::Good     ? Colour::kGood
                                                               : Colour::kAttention;
            draw->FillEllipse(Circle(41, 510, 5), draw.Paint(colour));
            left = 54.0f;
            break;
        }
        draw.Text(view.statusText, TextStyle::Status, RectF(left, 488, 656, bottom), colour);
        if (withBar)
        {
            draw->FillRoundedRectangle(Rounded(RectF(36, 522, 656, 526), 2), draw.Paint(Colour::kRaised));
            const float fraction = std::min(view.progressFraction, 1.0f);
            if (fraction > 0.0f)
            {
                draw->FillRoundedRectangle(Rounded(RectF(36, 522, 36 + 620 * fraction, 526), 2),
                                           draw.Paint(Colour::kAccent));
            }
        }
    }

    // Version label and the bottom row.
    draw.Text(view.releaseName, TextStyle::Small, RectF(36, 536, 656, 556), Colour::kMuted);
    for (std::size_t i = 0; i < kBottomRowIds.size(); ++i)
    {
        const SRect& rect = frame.bottomRow[i];
        if (rect.Empty())
        {
            continue;
        }
        if (rect.x > 36)
        {
            draw->FillEllipse(Circle(rect.x - 9.0f, 546, 1), draw.Paint(Colour::kMuted));
        }
        draw.Text(view[kBottomRowIds[i]].text, TextStyle::Small, RectF(rect),
                  hovered(kBottomRowIds[i]) ? Colour::kText : Colour::kMuted);
    }

    if (frame.showFocusCues && frame.focused != 0)
    {
        const auto id = static_cast<ControlId>(frame.focused);
        if (const float radius = FocusRadius(id); radius > 0.0f)
        {
            draw.FocusRing(rectOf(id), radius);
        }
    }
    return SUCCEEDED(draw->EndDraw());
}

void Renderer::DrawEmbers(double clockMs) noexcept
{
    ID2D1SolidColorBrush* brush = m_brush.Get();
    for (int i = 0; i < kEmberCount; ++i)
    {
        const SEmber ember = EmberAt(i, clockMs);
        const float x = static_cast<float>(ember.x);
        const float y = static_cast<float>(ember.y);
        const float r = static_cast<float>(ember.r);
        const float alpha = static_cast<float>(ember.alpha);
        brush->SetColor(Rgb(Colour::kAccent, 0.22f * alpha));
        m_target->FillEllipse(Circle(x, y, 3 * r), brush);
        brush->SetColor(Rgb(Colour::kAccent, alpha));
        m_target->FillEllipse(Circle(x, y, r), brush);
    }
}
}
