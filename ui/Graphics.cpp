#include "ui/Graphics.h"

#include "base/Text.h"
#include "ui/Localisation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace Ui
{
namespace
{
UniqueCom<IDWriteFactory> g_writeFactory;
UniqueCom<IWICImagingFactory> g_imagingFactory;
std::array<UniqueCom<IDWriteTextFormat>, kTextStyleCount> g_formats;

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

D2D1_POINT_2F PointF(int x, int y) noexcept
{
    return {static_cast<float>(x), static_cast<float>(y)};
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

UniqueCom<IDWriteTextFormat> MakeFormat(const SFormatSpec& spec, const wchar_t* locale) noexcept
{
    UniqueCom<IDWriteTextFormat> format;
    if (FAILED(g_writeFactory->CreateTextFormat(L"Segoe UI", nullptr, spec.weight, DWRITE_FONT_STYLE_NORMAL,
                                                DWRITE_FONT_STRETCH_NORMAL, spec.size, locale, format.put())))
    {
        return {};
    }
    format->SetTextAlignment(spec.alignment);
    format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    format->SetWordWrapping(spec.wrapping);
    UniqueCom<IDWriteInlineObject> ellipsis;
    if (SUCCEEDED(g_writeFactory->CreateEllipsisTrimmingSign(format.get(), ellipsis.put())))
    {
        const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
        format->SetTrimming(&trimming, ellipsis.get());
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
    return g_formats[static_cast<std::size_t>(style)].get();
}

// Decodes an image resource, crops it and scales it to an exact pixel size with the best
// filter the imaging component offers. Absent on any failure: the scene is drawn without it.
UniqueCom<ID2D1Bitmap> LoadImage(ID2D1RenderTarget* target, int resource, const WICRect& crop, UINT width,
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
    UniqueCom<IWICStream> stream;
    UniqueCom<IWICBitmapDecoder> decoder;
    UniqueCom<IWICBitmapFrameDecode> frame;
    UniqueCom<IWICFormatConverter> converter;
    UniqueCom<IWICBitmapClipper> clipper;
    UniqueCom<IWICBitmapScaler> scaler;
    if (FAILED(g_imagingFactory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(bytes), size)) ||
        FAILED(g_imagingFactory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                         decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) || FAILED(g_imagingFactory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(g_imagingFactory->CreateBitmapClipper(clipper.put())) ||
        FAILED(clipper->Initialize(converter.get(), &crop)) || FAILED(g_imagingFactory->CreateBitmapScaler(scaler.put())))
    {
        return {};
    }
    // High-quality cubic where the imaging component has it; Fant otherwise.
    constexpr auto kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);
    if (FAILED(scaler->Initialize(clipper.get(), width, height, kHighQualityCubic)) &&
        FAILED(scaler->Initialize(clipper.get(), width, height, WICBitmapInterpolationModeFant)))
    {
        return {};
    }
    const D2D1_BITMAP_PROPERTIES properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, dpi, dpi};
    UniqueCom<ID2D1Bitmap> bitmap;
    if (FAILED(target->CreateBitmapFromWicBitmap(scaler.get(), properties, bitmap.put())))
    {
        return {};
    }
    return bitmap;
}

UniqueCom<ID2D1LinearGradientBrush> MakeGradient(ID2D1RenderTarget* target, D2D1_POINT_2F from,
                                                 D2D1_COLOR_F fromColour, D2D1_POINT_2F to,
                                                 D2D1_COLOR_F toColour) noexcept
{
    const D2D1_GRADIENT_STOP stops[2]{{0.0f, fromColour}, {1.0f, toColour}};
    UniqueCom<ID2D1GradientStopCollection> collection;
    UniqueCom<ID2D1LinearGradientBrush> brush;
    if (FAILED(target->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP, collection.put())) ||
        FAILED(target->CreateLinearGradientBrush({from, to}, collection.get(), brush.put())))
    {
        return {};
    }
    return brush;
}

// The images and gradients a scene is drawn with; the renderer owns them.
struct SScenePaints
{
    ID2D1Bitmap* background = nullptr; // may be missing: the base colour shows instead
    ID2D1Bitmap* logo = nullptr;       // may be missing
    ID2D1Brush* rightFade = nullptr;
    ID2D1Brush* bottomFade = nullptr;
    ID2D1Brush* button = nullptr;
    ID2D1Brush* buttonHover = nullptr;
};

// One frame's scene, region by region, between the target's BeginDraw and EndDraw.
class CScene
{
public:
    CScene(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const SScenePaints& paints,
          const SFrame& frame) noexcept
        : m_target(target), m_brush(brush), m_paints(paints), m_frame(frame), m_view(*frame.view)
    {
    }

    void Background() const noexcept;
    void TitleButtons() const noexcept;
    void LanguageSelector() const;
    void SignInForm() const;
    void SignedInPanel() const;
    void MainButton() const;
    void StatusLine() const;
    void VersionAndLinks() const;
    void FocusRing() const noexcept;

private:
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

    [[nodiscard]] SRect RectOf(ControlId id) const noexcept { return ControlRect(id, m_frame.bottomRow); }
    [[nodiscard]] bool Hovered(ControlId id) const noexcept { return m_frame.hovered == static_cast<std::uint16_t>(id); }
    [[nodiscard]] bool Pressed(ControlId id) const noexcept { return m_frame.pressed == static_cast<std::uint16_t>(id); }
    [[nodiscard]] bool Focused(ControlId id) const noexcept { return m_frame.focused == static_cast<std::uint16_t>(id); }
    // Muted, or the text colour under the pointer.
    [[nodiscard]] std::uint32_t LinkColour(ControlId id) const noexcept
    {
        return Hovered(id) ? Colour::kText : Colour::kMuted;
    }

    ID2D1RenderTarget* m_target;
    ID2D1SolidColorBrush* m_brush;
    SScenePaints m_paints;
    const SFrame& m_frame;
    const SView& m_view;
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
    UniqueCom<ID2D1Factory> probe;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(probe.put()))))
    {
        return std::unexpected(failed);
    }
    probe.reset();
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(g_writeFactory.put()))) ||
        FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                reinterpret_cast<void**>(g_imagingFactory.put()))))
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
        format.reset();
    }
    g_imagingFactory.reset();
    g_writeFactory.reset();
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
    UniqueCom<IDWriteTextLayout> layout;
    DWRITE_TEXT_METRICS metrics{};
    if (FAILED(g_writeFactory->CreateTextLayout(wide.c_str(), static_cast<UINT32>(wide.size()), format, 1000.0f,
                                                100.0f, layout.put())) ||
        FAILED(layout->GetMetrics(&metrics)))
    {
        return 0;
    }
    return static_cast<int>(std::ceil(metrics.widthIncludingTrailingWhitespace - 1e-3f));
}

CRenderer::Outcome CRenderer::Draw(HWND window, HDC paintDc, int dpi, const SFrame& frame, bool sceneDirty)
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
    m_target->DrawBitmap(m_scene.get(), RectF(0, 0, m_sizeDip.width, m_sizeDip.height), 1.0f,
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

void CRenderer::Release() noexcept
{
    m_logo.reset();
    m_background.reset();
    m_buttonHover.reset();
    m_button.reset();
    m_bottomFade.reset();
    m_rightFade.reset();
    m_scene.reset();
    m_sceneTarget.reset();
    m_brush.reset();
    m_target = nullptr;
    m_dcTarget.reset();
    m_hwndTarget.reset();
    m_factory.reset();
}

bool CRenderer::Occluded() const noexcept
{
    return m_hwndTarget && (m_hwndTarget->CheckWindowState() & D2D1_WINDOW_STATE_OCCLUDED) != 0;
}

bool CRenderer::MakeResources(HWND window, HDC paintDc, int dpi) noexcept
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
                                 reinterpret_cast<void**>(m_factory.put()))))
    {
        return false;
    }
    if (RunsUnderWine())
    {
        const D2D1_RENDER_TARGET_PROPERTIES properties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                       {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE},
                                                       dpiF, dpiF, D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE,
                                                       D2D1_FEATURE_LEVEL_DEFAULT};
        if (FAILED(m_factory->CreateDCRenderTarget(&properties, m_dcTarget.put())))
        {
            return false;
        }
        m_target = m_dcTarget.get();
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
        if (FAILED(m_factory->CreateHwndRenderTarget(properties, hwndProperties, m_hwndTarget.put())))
        {
            return false;
        }
        m_target = m_hwndTarget.get();
    }
    if (FAILED(m_target->CreateSolidColorBrush(Rgb(Colour::kText), m_brush.put())) ||
        FAILED(m_target->CreateCompatibleRenderTarget(m_sizeDip, pixels, m_sceneTarget.put())) ||
        FAILED(m_sceneTarget->GetBitmap(m_scene.put())))
    {
        return false;
    }
    ID2D1RenderTarget* target = m_target;
    const D2D1_POINT_2F buttonTop = PointF(0, ControlRect(ControlId::SignIn, {}).y);
    const D2D1_POINT_2F buttonBottom = PointF(0, ControlRect(ControlId::SignIn, {}).Bottom());
    m_rightFade = MakeGradient(target, PointF(kRightFadeRect.x, 0), Rgb(Colour::kBase, 0.0f),
                               PointF(kRightFadeRect.Right(), 0), Rgb(Colour::kBase));
    m_bottomFade = MakeGradient(target, PointF(0, kBottomFadeRect.y), Rgb(Colour::kBase, 0.0f),
                                PointF(0, kBottomFadeRect.Bottom()), Rgb(Colour::kBase));
    m_button = MakeGradient(target, buttonTop, Rgb(Colour::kButtonTop), buttonBottom, Rgb(Colour::kButtonBottom));
    m_buttonHover =
        MakeGradient(target, buttonTop, Rgb(Colour::kButtonHoverTop), buttonBottom, Rgb(Colour::kButtonHoverBottom));
    if (!m_rightFade || !m_bottomFade || !m_button || !m_buttonHover)
    {
        return false;
    }
    m_background = LoadImage(target, kBackgroundResource, kBackgroundCrop, pixels.width, pixels.height, dpiF);
    m_logo = LoadImage(target, kSheetResource, kLogoCrop, static_cast<UINT>(Scale(kLogoRect.width, dpi)),
                       static_cast<UINT>(Scale(kLogoRect.height, dpi)), dpiF);
    return true;
}

bool CRenderer::DrawScene(const SFrame& frame)
{
    const CScene scene(m_sceneTarget.get(), m_brush.get(),
                      {m_background.get(), m_logo.get(), m_rightFade.get(), m_bottomFade.get(), m_button.get(),
                       m_buttonHover.get()},
                      frame);
    m_sceneTarget->BeginDraw();
    scene.Background();
    scene.TitleButtons();
    scene.LanguageSelector();
    if (!frame.view->signedIn)
    {
        scene.SignInForm();
    }
    else
    {
        scene.SignedInPanel();
    }
    scene.MainButton();
    scene.StatusLine();
    scene.VersionAndLinks();
    scene.FocusRing();
    return SUCCEEDED(m_sceneTarget->EndDraw());
}

// The picture, darkened towards the right and the bottom, and the logo on it.
void CScene::Background() const noexcept
{
    const D2D1_RECT_F all = RectF(0, 0, kWindowWidthDip, kWindowHeightDip);
    m_target->Clear(Rgb(Colour::kBase));
    if (m_paints.background != nullptr)
    {
        m_target->DrawBitmap(m_paints.background, all, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR);
    }
    m_target->FillRectangle(all, m_paints.rightFade);
    m_target->FillRectangle(all, m_paints.bottomFade);
    if (m_paints.logo != nullptr)
    {
        m_target->DrawBitmap(m_paints.logo, RectF(kLogoRect));
    }
}

// Minimise and Close: a line and a cross, on a raised square under the pointer.
void CScene::TitleButtons() const noexcept
{
    constexpr float kHalf = 6; // half the glyph's width
    for (ControlId id : {ControlId::Minimise, ControlId::Close})
    {
        const D2D1_RECT_F rect = RectF(RectOf(id));
        if (Hovered(id))
        {
            m_target->FillRoundedRectangle(Rounded(rect, 4), Paint(Colour::kRaised));
        }
        const float cx = (rect.left + rect.right) / 2;
        const float cy = (rect.top + rect.bottom) / 2;
        ID2D1Brush* glyph = Paint(LinkColour(id));
        if (id == ControlId::Minimise)
        {
            m_target->DrawLine({cx - kHalf, cy + 0.5f}, {cx + kHalf, cy + 0.5f}, glyph, 1.0f);
        }
        else
        {
            m_target->DrawLine({cx - kHalf, cy - kHalf}, {cx + kHalf, cy + kHalf}, glyph, 1.0f);
            m_target->DrawLine({cx + kHalf, cy - kHalf}, {cx - kHalf, cy + kHalf}, glyph, 1.0f);
        }
    }
}

// The closed language list: a globe, the language's short label and a chevron.
void CScene::LanguageSelector() const
{
    constexpr float kGlobeX = 15;       // the globe's centre from the left edge
    constexpr float kGlobeRadius = 6.5f;
    constexpr float kMeridianRadius = 2.75f;
    constexpr float kLabelLeft = 27;    // the label's inset from the left edge
    constexpr float kLabelRight = 16;   // and from the right edge, before the chevron
    const ControlId id = ControlId::LanguageList;
    const D2D1_RECT_F rect = RectF(RectOf(id));
    if (Hovered(id))
    {
        m_target->FillRoundedRectangle(Rounded(rect, 4), Paint(Colour::kRaised));
    }
    const std::uint32_t colour = !m_view[id].enabled ? Colour::kDim : LinkColour(id);
    const float middle = (rect.top + rect.bottom) / 2;
    const float cx = rect.left + kGlobeX;
    ID2D1Brush* ink = Paint(colour);
    m_target->DrawEllipse(D2D1_ELLIPSE{{cx, middle}, kGlobeRadius, kGlobeRadius}, ink, 1.0f);
    m_target->DrawEllipse(D2D1_ELLIPSE{{cx, middle}, kMeridianRadius, kGlobeRadius}, ink, 1.0f);
    m_target->DrawLine({cx - kGlobeRadius, middle}, {cx + kGlobeRadius, middle}, ink, 1.0f);
    m_target->DrawLine({rect.right - 14.5f, middle - 1.5f}, {rect.right - 11, middle + 2}, ink, 1.0f);
    m_target->DrawLine({rect.right - 11, middle + 2}, {rect.right - 7.5f, middle - 1.5f}, ink, 1.0f);
    const std::size_t language = m_view.language < kLanguageCount ? m_view.language : kEnglish;
    Text(kLanguages[language].label, TextStyle::Small,
         RectF(rect.left + kLabelLeft, rect.top, rect.right - kLabelRight, rect.bottom), colour);
}

// Signed out: the captions, the two edit boxes' frames and, with a readable release, the
// account links under them.
void CScene::SignInForm() const
{
    Text(m_view[ControlId::LoginCaption].text, TextStyle::Small, RectF(RectOf(ControlId::LoginCaption)),
         Colour::kMuted);
    Text(m_view[ControlId::PasswordCaption].text, TextStyle::Small, RectF(RectOf(ControlId::PasswordCaption)),
         Colour::kMuted);
    for (ControlId id : {ControlId::LoginBox, ControlId::PasswordBox})
    {
        const D2D1_RECT_F rect = RectF(RectOf(id));
        m_target->FillRoundedRectangle(Rounded(rect, 6), Paint(Colour::kField));
        const D2D1_RECT_F inset = RectF(rect.left + 0.5f, rect.top + 0.5f, rect.right - 0.5f, rect.bottom - 0.5f);
        m_target->DrawRoundedRectangle(Rounded(inset, 6), Paint(Focused(id) ? Colour::kAccent : Colour::kDim), 1.0f);
    }
    if (m_view.releaseReadable)
    {
        Text(m_view[ControlId::CreateAccount].text, TextStyle::Small, RectF(RectOf(ControlId::CreateAccount)),
             LinkColour(ControlId::CreateAccount));
        Text(m_view[ControlId::ForgotPassword].text, TextStyle::SmallTrailing, RectF(RectOf(ControlId::ForgotPassword)),
             LinkColour(ControlId::ForgotPassword));
    }
}

// Signed in: the panel with "Signed in as" and Sign Out.
void CScene::SignedInPanel() const
{
    m_target->FillRoundedRectangle(Rounded(RectF(kSignedInPanelRect), 8), Paint(Colour::kField));
    Text(m_view[ControlId::SignedInLine].text, TextStyle::Panel, RectF(RectOf(ControlId::SignedInLine)), Colour::kText);
    const ControlId id = ControlId::SignOut;
    m_target->FillRoundedRectangle(Rounded(RectF(RectOf(id)), 6),
                                   Paint(Hovered(id) && !Pressed(id) ? Colour::kRaisedHover : Colour::kRaised));
    Text(m_view[id].text, TextStyle::Label, RectF(RectOf(id)), m_view[id].enabled ? Colour::kText : Colour::kMuted);
}

// Sign In or PLAY: the gradient, lighter under the pointer, flat while pressed or disabled.
void CScene::MainButton() const
{
    const ControlId id = m_view.signedIn ? ControlId::Play : ControlId::SignIn;
    const D2D1_ROUNDED_RECT shape = Rounded(RectF(RectOf(id)), 10);
    const bool enabled = m_view[id].enabled;
    if (!enabled)
    {
        m_target->FillRoundedRectangle(shape, Paint(Colour::kField));
    }
    else if (Pressed(id))
    {
        m_target->FillRoundedRectangle(shape, Paint(Colour::kButtonPressed));
    }
    else
    {
        m_target->FillRoundedRectangle(shape, Hovered(id) ? m_paints.buttonHover : m_paints.button);
    }
    Text(m_view[id].text, TextStyle::Button, shape.rect, enabled ? Colour::kWhite : Colour::kMuted);
}

// The status line in its kind's colour, after a dot for the kinds that have one, and the
// progress bar under it while a fraction is known.
void CScene::StatusLine() const
{
    const bool withBar = m_view.progressFraction >= 0.0f;
    const SRect line = kStatusLineRect;
    const float bottom = static_cast<float>(withBar ? line.y + kStatusLineOverBarHeight : line.Bottom());
    std::uint32_t colour = Colour::kText;
    float left = static_cast<float>(line.x);
    switch (m_view.statusKind)
    {
    case StatusKind::Neutral:
        break;
    case StatusKind::Error:
        colour = Colour::kError;
        break;
    case StatusKind::Connection:
    case StatusKind::Good:
    case StatusKind::Attention: {
        colour = m_view.statusKind == StatusKind::Connection ? Colour::kError
                 : m_view.statusKind == StatusKind::Good     ? Colour::kGood
                                                             : Colour::kAttention;
        const SRect dot = kStatusDotRect;
        m_target->FillEllipse(Circle(dot.x + dot.width / 2.0f, dot.y + dot.height / 2.0f, dot.width / 2.0f),
                              Paint(colour));
        left = static_cast<float>(RectOf(ControlId::Status).x);
        break;
    }
    }
    const D2D1_RECT_F text = RectF(left, static_cast<float>(line.y), static_cast<float>(line.Right()), bottom);
    Text(m_view.statusText, TextStyle::Status, text, colour);
    if (withBar)
    {
        const SRect bar = kProgressBarRect;
        m_target->FillRoundedRectangle(Rounded(RectF(bar), 2), Paint(Colour::kRaised));
        const float fraction = std::min(m_view.progressFraction, 1.0f);
        if (fraction > 0.0f)
        {
            m_target->FillRoundedRectangle(
                Rounded(RectF(static_cast<float>(bar.x), static_cast<float>(bar.y), bar.x + bar.width * fraction,
                              static_cast<float>(bar.Bottom())),
                        2),
                Paint(Colour::kAccent));
        }
    }
}

// The version label, then the links that have somewhere to go, a dot between each two.
void CScene::VersionAndLinks() const
{
    Text(m_view.releaseName, TextStyle::Small, RectF(kReleaseNameRect), Colour::kMuted);
    const float dotY = kReleaseNameRect.y + kReleaseNameRect.height / 2.0f;
    for (std::size_t i = 0; i < kBottomRowIds.size(); ++i)
    {
        const SRect& rect = m_frame.bottomRow[i];
        if (rect.Empty())
        {
            continue;
        }
        if (rect.x > kReleaseNameRect.x)
        {
            m_target->FillEllipse(Circle(rect.x - kBottomRowGap / 2.0f, dotY, 1), Paint(Colour::kMuted));
        }
        Text(m_view[kBottomRowIds[i]].text, TextStyle::Small, RectF(rect), LinkColour(kBottomRowIds[i]));
    }
}

// Around the focused control, when the keyboard has been used.
void CScene::FocusRing() const noexcept
{
    if (!m_frame.showFocusCues || m_frame.focused == 0)
    {
        return;
    }
    const auto id = static_cast<ControlId>(m_frame.focused);
    const float radius = FocusRadius(id);
    if (radius <= 0.0f)
    {
        return;
    }
    const SRect rect = RectOf(id);
    const D2D1_RECT_F grown = RectF(rect.x - 2.0f, rect.y - 2.0f, rect.Right() + 2.0f, rect.Bottom() + 2.0f);
    m_target->DrawRoundedRectangle(Rounded(grown, radius), Paint(Colour::kAccent), 1.5f);
}

void CRenderer::DrawEmbers(double clockMs) noexcept
{
    ID2D1SolidColorBrush* brush = m_brush.get();
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
