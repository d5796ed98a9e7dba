// Canvas surface, resource caches and drawing operations; see Canvas.h.
#include "gfx/Canvas.h"

#include "base/ModulePath.h"
#include "gfx/Palette.h"

#include <algorithm>
#include <cwchar>
#include <tuple>
#include <utility>

using namespace gdip;

namespace gdip {

ImagePtr LoadPicture(const wchar_t* path) {
    if (!path)
        return nullptr;
    GpImage* image = nullptr;
    GpStatus status = GdipLoadImageFromFile(ModuleRelativePath(path).c_str(), &image);
    ImagePtr owner(image);
    if (status != Ok)
        return nullptr;
    return owner;
}

PathPtr RoundRectPath(float x, float y, float width, float height, float radius) {
    GpPath* created = nullptr;
    if (GdipCreatePath(FillModeAlternate, &created) != Ok)
        return nullptr;
    PathPtr path(created);
    // Every corner box is placed on whole pixels.
    REAL side = REAL(int(2 * radius));
    REAL left = REAL(int(x)), top = REAL(int(y));
    REAL right = REAL(int(x + width - 2 * radius)), bottom = REAL(int(y + height - 2 * radius));
    GdipAddPathArc(created, left, top, side, side, 180, 90);
    GdipAddPathArc(created, right, top, side, side, 270, 90);
    GdipAddPathArc(created, right, bottom, side, side, 0, 90);
    GdipAddPathArc(created, left, bottom, side, side, 90, 90);
    GdipClosePathFigure(created);
    return path;
}

}  // namespace gdip

ImageUse::ImageUse(ImageUse&& other) noexcept
    : canvas_(std::exchange(other.canvas_, nullptr)),
      image_(std::exchange(other.image_, nullptr)) {}

ImageUse& ImageUse::operator=(ImageUse&& other) noexcept {
    if (this != &other) {
        reset();
        canvas_ = std::exchange(other.canvas_, nullptr);
        image_ = std::exchange(other.image_, nullptr);
    }
    return *this;
}

void ImageUse::reset() {
    if (canvas_ && image_)
        canvas_->ReleaseImage(image_);
    canvas_ = nullptr;
    image_ = nullptr;
}

namespace {

// Whether GDI in this process already offers the shipped family with both
// of its faces. Wine's GDI+ hands every font file added to a private
// collection to GDI as a memory font and never removes it, so adding the
// files again at each attach would keep one more copy of them every time;
// once they are there, the process's own fonts serve. Windows' GDI+ keeps
// private fonts to itself: there this holds only where the family is
// installed, and the installed family serves as well.
bool ProcessHasShippedFaces() {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, kRegularFamily, LF_FACESIZE - 1);
    struct Faces {
        bool regular = false;
        bool bold = false;
    } faces;
    gdi::MemoryDC dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    EnumFontFamiliesExW(
        dc.get(), &wanted,
        [](const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM param) -> int {
            auto* found = reinterpret_cast<Faces*>(param);
            if (type & TRUETYPE_FONTTYPE) {
                if (font->lfWeight >= FW_BOLD)
                    found->bold = true;
                else if (!font->lfItalic)
                    found->regular = true;
            }
            return 1;
        },
        LPARAM(&faces), 0);
    return faces.regular && faces.bold;
}

}  // namespace

Canvas::Canvas(HWND window) : window_(window) {
    gdi::WindowDC dc(window);
    memoryDC_.reset(CreateCompatibleDC(dc.get()));
    RebuildBackBuffer();
}

Canvas::~Canvas() = default;

void Canvas::RebuildBackBuffer() {
    gdi::WindowDC screen(GetDesktopWindow());
    RECT client{};
    if (!window_ || !GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0)
        client = RECT{0, 0, GetDeviceCaps(screen.get(), HORZRES),
                      GetDeviceCaps(screen.get(), VERTRES)};

    // The graphics holds memoryDC; let it go before the bitmap under it changes.
    graphics.native.reset();
    if (!memoryDC_)
        return;
    gdi::Bitmap bitmap(CreateCompatibleBitmap(screen.get(), client.right, client.bottom));
    if (!bitmap)
        return;
    selection_.Select(memoryDC_.get(), bitmap.get());
    backBuffer_ = std::move(bitmap);

    GpGraphics* created = nullptr;
    if (graphics.Check(GdipCreateFromHDC(memoryDC_.get(), &created)) != Ok)
        return;
    graphics.native.reset(created);
    graphics.Check(GdipSetPageUnit(created, UnitPixel));
    graphics.Check(GdipSetSmoothingMode(created, SmoothingModeAntiAlias));
    graphics.Check(GdipSetTextRenderingHint(created, TextRenderingHintAntiAlias));
    graphics.Check(GdipSetPixelOffsetMode(created, PixelOffsetModeHalf));
    graphics.Check(GdipSetTextContrast(created, 2));
}

ImageUse Canvas::AcquireImage(const wchar_t* path) {
    if (!path)
        return ImageUse();
    for (ImageEntry& entry : images_) {
        if (entry.key == path) {
            ++entry.useCount;
            return ImageUse(this, entry.image.get());
        }
    }
    ImagePtr image = LoadPicture(path);
    if (!image)
        return ImageUse();
    images_.push_back(ImageEntry{path, std::move(image), 1});
    return ImageUse(this, images_.back().image.get());
}

void Canvas::ReleaseImage(GpImage* image) {
    auto found = std::find_if(images_.begin(), images_.end(),
                              [image](const ImageEntry& e) { return e.image.get() == image; });
    if (found == images_.end())
        return;
    if (--found->useCount < 1)
        images_.erase(found);
}

int Canvas::ImageUseCount(const GpImage* image) const {
    for (const ImageEntry& entry : images_)
        if (entry.image.get() == image)
            return entry.useCount;
    return 0;
}

FontFamilyPtr Canvas::FindFamily(const wchar_t* family) {
    GpFontFamily* found = nullptr;
    // Once fonts are shipped, only their families are looked up by name.
    if (family && GdipCreateFontFamilyFromName(family, privateFonts_.get(), &found) == Ok)
        return FontFamilyPtr(found);
    found = nullptr;
    GdipGetGenericFontFamilySansSerif(&found);
    return FontFamilyPtr(found);
}

GpFont* Canvas::GetFont(const wchar_t* family, int size, int style) {
    // Pages name the bold face as a family of its own; the shipped files
    // make it the bold style of the regular family.
    if (family && std::wcscmp(family, kBoldFamily) == 0) {
        family = kRegularFamily;
        style |= FontBold;
    }
    std::wstring name = family ? family : L"";
    for (FontEntry& entry : fonts_) {
        if (entry.family == name && entry.size == size && entry.style == style)
            return entry.font.get();
    }
    FontEntry entry{name, size, style, {}};
    FontFamilyPtr found = FindFamily(family);
    GpFont* font = nullptr;
    if (entry.font.Check(GdipCreateFont(found.get(), REAL(size), style & 7, UnitPixel, &font)) !=
        Ok) {
        // The family may lack the style (a bold-only face asked for regular).
        FontFamilyPtr fallback = FindFamily(nullptr);
        font = nullptr;
        entry.font.Check(GdipCreateFont(fallback.get(), REAL(size), style & 7, UnitPixel, &font));
    }
    entry.font.native.reset(font);
    fonts_.push_back(std::move(entry));
    return fonts_.back().font.get();
}

void Canvas::AddPrivateFont(const wchar_t* path) {
    if (!privateFonts_) {
        GpFontCollection* collection = nullptr;
        if (privateFonts_.Check(GdipNewPrivateFontCollection(&collection)) != Ok)
            return;
        privateFonts_.native.reset(collection);
    }
    privateFonts_.Check(
        GdipPrivateAddFontFile(privateFonts_.get(), ModuleRelativePath(path).c_str()));
}

void Canvas::AddShippedFonts() {
    if (ProcessHasShippedFaces())
        return;
    for (const wchar_t* file : kShippedFontFiles)
        AddPrivateFont(file);
}

void Canvas::DrawImage(GpImage* image, float x, float y) {
    if (!image || !graphics)
        return;
    UINT width = 0, height = 0;
    GdipGetImageWidth(image, &width);
    GdipGetImageHeight(image, &height);
    DrawImage(image, x, y, float(width), float(height));
}

void Canvas::DrawImage(GpImage* image, float x, float y, float width, float height) {
    if (image && graphics)
        graphics.Check(GdipDrawImageRect(graphics.get(), image, x, y, width, height));
}

void Canvas::DrawImagePart(GpImage* image, int x, int y, int sourceX, int sourceY, int width,
                           int height) {
    if (image && graphics && width > 0 && height > 0)
        graphics.Check(GdipDrawImageRectRectI(graphics.get(), image, x, y, width, height, sourceX,
                                              sourceY, width, height, UnitPixel, nullptr,
                                              nullptr, nullptr));
}

void Canvas::DrawText(const wchar_t* text, GpFont* font, ARGB colour, float x, float y) {
    DrawText(text, font, colour, RectF(x, y, 0, 0));
}

void Canvas::DrawText(const wchar_t* text, GpFont* font, ARGB colour, const RectF& box) {
    if (!text || !graphics)
        return;
    BrushPtr brush = MakeSolidBrush(colour);
    graphics.Check(GdipDrawString(graphics.get(), text, -1, font, &box, nullptr, brush.get()));
}

void Canvas::FillRect(float x, float y, float width, float height, ARGB colour) {
    BrushPtr brush = MakeSolidBrush(colour);
    if (graphics && brush)
        graphics.Check(GdipFillRectangle(graphics.get(), brush.get(), x, y, width, height));
}

void Canvas::FillRoundRect(float x, float y, float width, float height, float radius,
                           ARGB colour) {
    PathPtr path = graphics ? RoundRectPath(x, y, width, height, radius) : nullptr;
    if (!path)
        return;
    BrushPtr brush = MakeSolidBrush(colour);
    graphics.Check(GdipFillPath(graphics.get(), brush.get(), path.get()));
}

float Canvas::MeasureCharWidth(wchar_t character, GpFont* font) {
    return MeasureText(std::wstring(1, character).c_str(), font, 0, 0).Width;
}

RectF Canvas::MeasureText(const wchar_t* text, GpFont* font, float layoutWidth,
                          float layoutHeight) {
    return MeasureRun(text, -1, font, layoutWidth, layoutHeight, nullptr);
}

RectF Canvas::MeasureRun(const wchar_t* text, int length, GpFont* font, float layoutWidth,
                         float layoutHeight, int* fitted, int* lines) {
    RectF bounds(0, 0, 0, 0);
    INT codepoints = 0, filled = 0;
    if (text && graphics) {
        RectF layout(0, 0, layoutWidth, layoutHeight);
        graphics.Check(GdipMeasureString(graphics.get(), text, length, font, &layout, nullptr,
                                         &bounds, &codepoints, &filled));
    }
    if (fitted)
        *fitted = codepoints;
    if (lines)
        *lines = filled;
    return bounds;
}

float Canvas::FontHeight(GpFont* font) {
    REAL height = 0;
    if (font && graphics)
        graphics.Check(GdipGetFontHeight(font, graphics.get(), &height));
    return height;
}

void Canvas::PushTranslation() {
    float dx = 0, dy = 0;
    GpMatrix* matrix = nullptr;
    if (graphics && graphics.Check(GdipCreateMatrix(&matrix)) == Ok) {
        if (graphics.Check(GdipGetWorldTransform(graphics.get(), matrix)) == Ok) {
            REAL m[6] = {};
            graphics.Check(GdipGetMatrixElements(matrix, m));
            dx = m[4];
            dy = m[5];
        }
        GdipDeleteMatrix(matrix);
    }
    transformStack.emplace_back(dx, dy);
}

void Canvas::PopTranslation() {
    float dx = 0, dy = 0;
    if (!transformStack.empty()) {
        std::tie(dx, dy) = transformStack.back();
        transformStack.pop_back();
    }
    if (!graphics)
        return;
    graphics.Check(GdipResetWorldTransform(graphics.get()));
    graphics.Check(GdipTranslateWorldTransform(graphics.get(), dx, dy, MatrixOrderAppend));
}
