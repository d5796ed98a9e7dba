// Layer; see Layer.h.
#include "gfx/Layer.h"

#include <algorithm>
#include <cstring>

using namespace gdip;

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

// The longest run of opaque pixels in a row.
void LongestOpaqueRun(const uint32_t* row, int width, int& left, int& right) {
    left = right = 0;
    int start = -1;
    for (int x = 0; x <= width; ++x) {
        bool opaque = x < width && (row[x] & kOpaque) == kOpaque;
        if (opaque && start < 0) {
            start = x;
        } else if (!opaque && start >= 0) {
            if (x - start > right - left) {
                left = start;
                right = x;
            }
            start = -1;
        }
    }
}

}  // namespace

void UsePanelDrawing(gdip::GraphicsObject& graphics, GpGraphics* created) {
    graphics.native.reset(created);
    graphics.Check(GdipSetPageUnit(created, UnitPixel));
    graphics.Check(GdipSetSmoothingMode(created, SmoothingModeAntiAlias));
    graphics.Check(GdipSetTextRenderingHint(created, TextRenderingHintAntiAlias));
    graphics.Check(GdipSetPixelOffsetMode(created, PixelOffsetModeHalf));
    graphics.Check(GdipSetTextContrast(created, 2));
}

void AddStalePart(std::vector<RECT>& parts, RECT part) {
    if (IsRectEmpty(&part))
        return;
    for (const RECT& known : parts) {
        RECT both{};
        UnionRect(&both, &known, &part);
        if (EqualRect(&both, &known))
            return;
    }
    constexpr size_t kMostParts = 6;
    if (parts.size() >= kMostParts) {
        for (const RECT& known : parts)
            UnionRect(&part, &part, &known);
        parts.clear();
    }
    parts.push_back(part);
}

Layer::~Layer() {
    Release();
}

void Layer::Release() {
    // GDI+ goes before the memory it draws on, the section leaves the DC
    // before either is deleted.
    graphics.native.reset();
    bitmap_.reset();
    selection_.Restore();
    dib_.reset();
    dc_.reset();
    pixels_ = nullptr;
    width_ = height_ = 0;
    runs_.clear();
    stale_.clear();
    anyStale_ = false;
}

bool Layer::Resize(int width, int height) {
    Release();
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_.reset(CreateCompatibleDC(nullptr));
    if (!dc_)
        return false;
    dib_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib_ || !bits) {
        Release();
        return false;
    }
    selection_.Select(dc_.get(), dib_.get());
    pixels_ = static_cast<uint32_t*>(bits);
    std::memset(pixels_, 0, size_t(width) * size_t(height) * 4);
    width_ = width;
    height_ = height;

    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB,
                                  static_cast<BYTE*>(bits), &bitmap) != Ok) {
        Release();
        return false;
    }
    bitmap_.reset(bitmap);
    GpGraphics* created = nullptr;
    if (GdipGetImageGraphicsContext(bitmap, &created) != Ok) {
        Release();
        return false;
    }
    UsePanelDrawing(graphics, created);
    runs_.assign(size_t(height), Run{});
    stale_.assign(size_t(height), false);
    return true;
}

void Layer::Clear(const RECT& part) {
    int left = std::max(0, int(part.left)), right = std::min(width_, int(part.right));
    int top = std::max(0, int(part.top)), bottom = std::min(height_, int(part.bottom));
    if (empty() || left >= right || top >= bottom)
        return;
    GdiFlush();
    for (int y = top; y < bottom; ++y)
        std::memset(Row(y) + left, 0, size_t(right - left) * 4);
    MarkChanged(top, bottom);
}

void Layer::MarkChanged(int top, int bottom) {
    top = std::max(0, top);
    bottom = std::min(height_, bottom);
    for (int y = top; y < bottom; ++y)
        stale_[size_t(y)] = true;
    anyStale_ = anyStale_ || top < bottom;
}

void Layer::SurveyRows() {
    if (!anyStale_)
        return;
    // GDI may still hold drawing for the section in a batch.
    GdiFlush();
    for (int y = 0; y < height_; ++y) {
        if (!stale_[size_t(y)])
            continue;
        LongestOpaqueRun(Row(y), width_, runs_[size_t(y)].left, runs_[size_t(y)].right);
        stale_[size_t(y)] = false;
    }
    anyStale_ = false;
}

void Layer::Blend(HDC dest, int destX, int destY, int left, int top, int right, int bottom) {
    if (left >= right || top >= bottom)
        return;
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dest, destX + left, destY + top, right - left, bottom - top, dc_.get(), left, top,
               right - left, bottom - top, blend);
}

void Layer::BlendTo(HDC dest, int destX, int destY, const RECT& part) {
    int left = std::max(0, int(part.left)), right = std::min(width_, int(part.right));
    int top = std::max(0, int(part.top)), bottom = std::min(height_, int(part.bottom));
    if (!empty())
        Blend(dest, destX, destY, left, top, right, bottom);
}

void Layer::ScrollRows(int distance) {
    if (empty() || distance == 0 || distance >= height_ || -distance >= height_)
        return;
    GdiFlush();
    size_t rowBytes = size_t(width_) * 4;
    if (distance > 0)
        std::memmove(Row(0), Row(distance), rowBytes * size_t(height_ - distance));
    else
        std::memmove(Row(-distance), Row(0), rowBytes * size_t(height_ + distance));
    MarkChanged(0, height_);
}

void Layer::CopyTo(HDC dest, int destX, int destY, const RECT& part) {
    int left = std::max(0, int(part.left)), right = std::min(width_, int(part.right));
    int top = std::max(0, int(part.top)), bottom = std::min(height_, int(part.bottom));
    if (empty() || left >= right || top >= bottom)
        return;
    SurveyRows();
    int y = top;
    while (y < bottom) {
        const Run run = runs_[size_t(y)];
        int end = y + 1;
        while (end < bottom && runs_[size_t(end)].left == run.left &&
               runs_[size_t(end)].right == run.right)
            ++end;
        int opaqueLeft = std::clamp(run.left, left, right);
        int opaqueRight = std::clamp(run.right, opaqueLeft, right);
        Blend(dest, destX, destY, left, y, opaqueLeft, end);
        if (opaqueLeft < opaqueRight)
            BitBlt(dest, destX + opaqueLeft, destY + y, opaqueRight - opaqueLeft, end - y,
                   dc_.get(), opaqueLeft, y, SRCCOPY);
        Blend(dest, destX, destY, opaqueRight, y, right, end);
        y = end;
    }
}
