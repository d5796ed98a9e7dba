// Layer; see Layer.h.
#include "gfx/Layer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace gdip;

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

void AlphaBlendPart(HDC dest, int destX, int destY, HDC source, int left, int top, int right,
                    int bottom) {
    if (left >= right || top >= bottom)
        return;
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dest, destX + left, destY + top, right - left, bottom - top, source, left, top,
                  right - left, bottom - top, blend);
}

}  // namespace

OpaqueRun LongestOpaqueRun(const uint32_t* row, int width) {
    OpaqueRun longest;
    int start = -1;
    for (int x = 0; x <= width; ++x) {
        bool opaque = x < width && (row[x] & kOpaque) == kOpaque;
        if (opaque && start < 0) {
            start = x;
        } else if (!opaque && start >= 0) {
            if (x - start > longest.right - longest.left)
                longest = OpaqueRun{start, x};
            start = -1;
        }
    }
    return longest;
}

void CopyByRuns(HDC dest, int destX, int destY, HDC source, const std::vector<OpaqueRun>& runs,
                const RECT& part) {
    const int left = int(part.left), right = int(part.right);
    int y = std::max(0, int(part.top));
    const int bottom = std::min(int(runs.size()), int(part.bottom));
    while (y < bottom) {
        const OpaqueRun run = runs[size_t(y)];
        int end = y + 1;
        while (end < bottom && runs[size_t(end)].left == run.left &&
               runs[size_t(end)].right == run.right)
            ++end;
        int opaqueLeft = std::clamp(run.left, left, right);
        int opaqueRight = std::clamp(run.right, opaqueLeft, right);
        AlphaBlendPart(dest, destX, destY, source, left, y, opaqueLeft, end);
        if (opaqueLeft < opaqueRight)
            BitBlt(dest, destX + opaqueLeft, destY + y, opaqueRight - opaqueLeft, end - y, source,
                   opaqueLeft, y, SRCCOPY);
        AlphaBlendPart(dest, destX, destY, source, opaqueRight, y, right, end);
        y = end;
    }
}

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
    bits_ = nullptr;
    stride_ = 0;
    width_ = height_ = 0;
    opaque_ = false;
    fill_ = 0;
    runs_.clear();
    stale_.clear();
    anyStale_ = false;
}

bool Layer::Allocate(int width, int height, int bitsPerPixel) {
    Release();
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = WORD(bitsPerPixel);
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
    bits_ = static_cast<uint8_t*>(bits);
    // DIB rows are padded to whole DWORDs.
    stride_ = (size_t(width) * size_t(bitsPerPixel) / 8 + 3) & ~size_t(3);
    width_ = width;
    height_ = height;
    return true;
}

bool Layer::ResizeOpaque(int width, int height, uint32_t fill) {
    if (!Allocate(width, height, 24))
        return false;
    opaque_ = true;
    fill_ = fill & 0xFFFFFFu;
    GpGraphics* created = nullptr;
    if (GdipCreateFromHDC(dc_.get(), &created) != Ok) {
        Release();
        return false;
    }
    UsePanelDrawing(graphics, created);
    Clear(RECT{0, 0, width, height});
    return true;
}

bool Layer::Resize(int width, int height) {
    if (!Allocate(width, height, 32))
        return false;
    std::memset(bits_, 0, stride_ * size_t(height));
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, int(stride_), PixelFormat32bppPARGB, bits_,
                                  &bitmap) != Ok) {
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
    runs_.assign(size_t(height), OpaqueRun{});
    stale_.assign(size_t(height), false);
    return true;
}

bool Layer::Cut(const RECT& part, RECT& cut) const {
    cut = RECT{std::max(0, int(part.left)), std::max(0, int(part.top)),
               std::min(width_, int(part.right)), std::min(height_, int(part.bottom))};
    return !empty() && cut.left < cut.right && cut.top < cut.bottom;
}

void Layer::Clear(const RECT& part) {
    RECT cut{};
    if (!Cut(part, cut))
        return;
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
    GdiFlush();
    for (int y = cut.top; y < cut.bottom; ++y) {
        if (!opaque_) {
            std::memset(Row(y) + cut.left, 0, size_t(cut.right - cut.left) * 4);
            continue;
        }
        uint8_t* pixel = bits_ + size_t(y) * stride_ + size_t(cut.left) * 3;
        for (int x = cut.left; x < cut.right; ++x, pixel += 3) {
            pixel[0] = uint8_t(fill_);
            pixel[1] = uint8_t(fill_ >> 8);
            pixel[2] = uint8_t(fill_ >> 16);
        }
    }
    MarkChanged(cut.top, cut.bottom);
}

void Layer::MarkChanged(int top, int bottom) {
    // The opaque kind has no runs to survey.
    if (opaque_)
        return;
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
        runs_[size_t(y)] = LongestOpaqueRun(Row(y), width_);
        stale_[size_t(y)] = false;
    }
    anyStale_ = false;
}

void Layer::Blend(HDC dest, int destX, int destY, int left, int top, int right, int bottom) {
    AlphaBlendPart(dest, destX, destY, dc_.get(), left, top, right, bottom);
}

void Layer::DrawOn(Layer& target, int x, int y, const RECT& part) {
    RECT cut{};
    if (!Cut(part, cut) || target.empty())
        return;
    if (!opaque_ || target.opaque_) {
        target.graphics.Check(GdipFlush(target.graphics.get(), FlushIntentionSync));
        if (opaque_)
            CopyTo(target.dc(), x, y, cut);
        else
            Blend(target.dc(), x, y, cut.left, cut.top, cut.right, cut.bottom);
        target.MarkChanged(y + cut.top, y + cut.bottom);
        return;
    }
    // Copied by hand: GDI would leave the alpha bytes of the target clear.
    RECT onTarget = cut;
    OffsetRect(&onTarget, x, y);
    RECT kept{};
    if (!target.Cut(onTarget, kept))
        return;
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
    GdiFlush();
    for (int row = kept.top; row < kept.bottom; ++row) {
        const uint8_t* from = bits_ + size_t(row - y) * stride_ + size_t(kept.left - x) * 3;
        uint32_t* to = target.Row(row) + kept.left;
        for (int column = kept.left; column < kept.right; ++column, from += 3)
            *to++ = kOpaque | uint32_t(from[2]) << 16 | uint32_t(from[1]) << 8 | from[0];
    }
    target.MarkChanged(kept.top, kept.bottom);
}

void Layer::ScrollRows(int distance) {
    if (empty() || distance == 0 || distance >= height_ || -distance >= height_)
        return;
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
    GdiFlush();
    const size_t moved = stride_ * size_t(height_ - std::abs(distance));
    if (distance > 0)
        std::memmove(bits_, bits_ + size_t(distance) * stride_, moved);
    else
        std::memmove(bits_ + size_t(-distance) * stride_, bits_, moved);
    MarkChanged(0, height_);
}

void Layer::CopyTo(HDC dest, int destX, int destY, const RECT& part) {
    RECT cut{};
    if (!Cut(part, cut))
        return;
    if (opaque_) {
        graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
        BitBlt(dest, destX + cut.left, destY + cut.top, cut.right - cut.left, cut.bottom - cut.top,
               dc_.get(), cut.left, cut.top, SRCCOPY);
        return;
    }
    SurveyRows();
    CopyByRuns(dest, destX, destY, dc_.get(), runs_, cut);
}
