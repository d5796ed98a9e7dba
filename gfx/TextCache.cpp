// TextCache; see TextCache.h.
#include "gfx/TextCache.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using namespace gdip;

namespace {

// Room around a line on the scratch layer for what reaches past its box:
// overhanging glyphs, antialiased edges, GDI+'s leading space.
constexpr int kMargin = 8;

// Whether a pixel of an opaque layer (B, G, R) is of the colour 0xRRGGBB.
bool IsColour(const uint8_t* pixel, uint32_t colour) {
    return pixel[0] == uint8_t(colour) && pixel[1] == uint8_t(colour >> 8) &&
           pixel[2] == uint8_t(colour >> 16);
}

bool SameColourEverywhere(Layer& layer, const RECT& area) {
    for (int y = area.top; y < area.bottom; ++y) {
        const uint8_t* pixel = layer.OpaqueRow(y) + size_t(area.left) * 3;
        for (int x = area.left; x < area.right; ++x, pixel += 3) {
            if (!IsColour(pixel, layer.fill()))
                return false;
        }
    }
    return true;
}

}  // namespace

bool TextCache::Key::operator==(const Key& other) const {
    return font == other.font && colour == other.colour && width == other.width &&
           fill == other.fill &&
           fractionX == other.fractionX && fractionY == other.fractionY && scale == other.scale &&
           text == other.text;
}

size_t TextCache::KeyHash::operator()(const Key& key) const {
    size_t hash = std::hash<std::wstring>()(key.text);
    auto mix = [&hash](size_t value) {
        hash ^= value + 0x9E3779B97F4A7C15ull + (hash << 6) + (hash >> 2);
    };
    mix(std::hash<const void*>()(key.font));
    mix(key.colour);
    mix(size_t(key.width));
    mix(key.fill);
    mix(std::hash<float>()(key.fractionX));
    mix(std::hash<float>()(key.fractionY));
    mix(std::hash<float>()(key.scale));
    return hash;
}

void TextCache::Clear() {
    index_.clear();
    entries_.clear();
    bytes_ = 0;
}

bool TextCache::Draw(Layer& target, const RECT& clip, const wchar_t* text, GpFont* font,
                     ARGB colour, float x, float y, float lineHeight, float scale) {
    // A line in the target's own colour changes nothing there: what it
    // covers could not be told from what changed.
    if (!text || !font || target.empty() || !target.opaque() || x < 0 || lineHeight <= 0 ||
        lineHeight > 1000 || scale <= 0 || std::wcspbrk(text, L"\r\n") ||
        (colour & 0xFFFFFFu) == target.fill())
        return false;
    const float wholeX = std::floor(x), wholeY = std::floor(y);
    Key key{text, font, colour, target.width(), target.fill(), x - wholeX, y - wholeY, scale};
    const Entry* entry = nullptr;
    auto found = index_.find(key);
    if (found != index_.end()) {
        entries_.splice(entries_.begin(), entries_, found->second);
        entry = &*found->second;
    } else {
        entry = Set(std::move(key), font, lineHeight);
        if (!entry)
            return false;
    }

    const int originX = int(wholeX), originY = int(wholeY);
    RECT place{originX + entry->left, originY + entry->top,
               originX + entry->left + entry->width, originY + entry->top + entry->height};
    const RECT whole{0, 0, target.width(), target.height()};
    RECT shown{};
    if (!IntersectRect(&shown, &place, &clip) || !IntersectRect(&shown, &shown, &whole))
        return true;  // nothing of it shows here
    target.graphics.Check(GdipFlush(target.graphics.get(), FlushIntentionSync));
    GdiFlush();
    // A pixel round the box: the faintest edges of glyphs may blend to the
    // colour itself there.
    RECT checked{shown.left - 1, shown.top - 1, shown.right + 1, shown.bottom + 1};
    IntersectRect(&checked, &checked, &clip);
    IntersectRect(&checked, &checked, &whole);
    if (!SameColourEverywhere(target, checked))
        return false;
    // Over one colour the kept rows are the line as it would be set there.
    const size_t rowBytes = size_t(shown.right - shown.left) * 3;
    for (int row = shown.top; row < shown.bottom; ++row) {
        const uint8_t* from = entry->pixels.data() +
                              size_t(row - place.top) * size_t(entry->width) * 3 +
                              size_t(shown.left - place.left) * 3;
        std::memcpy(target.OpaqueRow(row) + size_t(shown.left) * 3, from, rowBytes);
    }
    return true;
}

const TextCache::Entry* TextCache::Set(Key key, GpFont* font, float lineHeight) {
    const int scratchWidth = key.width + 2 * kMargin;
    const int scratchHeight = int(std::ceil(lineHeight)) + 2 * kMargin;
    if (scratch_.width() != scratchWidth || scratch_.height() != scratchHeight ||
        scratch_.fill() != key.fill) {
        if (!scratch_.ResizeOpaque(scratchWidth, scratchHeight, key.fill))
            return nullptr;
    } else {
        scratch_.Clear(RECT{0, 0, scratchWidth, scratchHeight});
    }
    BrushPtr brush = MakeSolidBrush(key.colour);
    // Set in a world of the target's scale, at the same place within a pixel.
    GpGraphics* drawing = scratch_.graphics.get();
    scratch_.graphics.Check(GdipResetWorldTransform(drawing));
    if (key.scale != 1)
        scratch_.graphics.Check(GdipScaleWorldTransform(drawing, key.scale, key.scale, MatrixOrderAppend));
    RectF box((float(kMargin) + key.fractionX) / key.scale,
              (float(kMargin) + key.fractionY) / key.scale, 0, 0);
    const GpStatus set =
        brush ? scratch_.graphics.Check(GdipDrawString(drawing, key.text.c_str(), -1, font, &box,
                                                       nullptr, brush.get()))
              : GenericError;
    scratch_.graphics.Check(GdipResetWorldTransform(drawing));
    if (set != Ok)
        return nullptr;
    scratch_.graphics.Check(GdipFlush(scratch_.graphics.get(), FlushIntentionSync));
    GdiFlush();

    // The box of what changed.
    int left = scratchWidth, right = 0, top = scratchHeight, bottom = 0;
    for (int row = 0; row < scratchHeight; ++row) {
        const uint8_t* pixel = scratch_.OpaqueRow(row);
        for (int column = 0; column < scratchWidth; ++column, pixel += 3) {
            if (IsColour(pixel, key.fill))
                continue;
            left = std::min(left, column);
            right = std::max(right, column + 1);
            top = std::min(top, row);
            bottom = std::max(bottom, row + 1);
        }
    }
    Entry entry;
    entry.key = std::move(key);
    if (left < right) {
        entry.left = left - kMargin;
        entry.top = top - kMargin;
        entry.width = right - left;
        entry.height = bottom - top;
        entry.pixels.resize(size_t(entry.width) * size_t(entry.height) * 3);
        for (int row = top; row < bottom; ++row)
            std::memcpy(entry.pixels.data() + size_t(row - top) * size_t(entry.width) * 3,
                        scratch_.OpaqueRow(row) + size_t(left) * 3, size_t(entry.width) * 3);
    }
    bytes_ += entry.pixels.size();
    entries_.push_front(std::move(entry));
    index_.emplace(entries_.front().key, entries_.begin());
    while (bytes_ > budget_ && entries_.size() > 1) {
        bytes_ -= entries_.back().pixels.size();
        index_.erase(entries_.back().key);
        entries_.pop_back();
    }
    return &entries_.front();
}
