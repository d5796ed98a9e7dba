// A retained picture: 32-bit premultiplied pixels in a top-down DIB section,
// drawn on by GDI+ through a bitmap that shares the same memory and by GDI
// through the layer's own device context, and copied to another device
// context as a whole or in part: with BitBlt where its pixels are opaque and
// AlphaBlend where they are not (about forty times dearer under Wine).
//
// Which pixels are opaque is found row by row after drawing, and only for
// the rows that changed: each row keeps its longest run of opaque pixels,
// and rows of the same run are copied as one band.
//
// A layer is made and used on one thread. An empty layer (nothing allocated,
// or allocation failed) draws nothing and copies nothing.
#pragma once

#include "gfx/GdiPlus.h"

#include <cstdint>
#include <vector>

// Gives a new graphics the settings everything of the panel is drawn with
// (pixels, antialiased shapes and text, half-pixel offsets) and keeps it.
void UsePanelDrawing(gdip::GraphicsObject& graphics, gdip::GpGraphics* created);

// Adds a part to a list of parts to draw again: nothing when a listed part
// holds it; past a handful of parts, one rectangle around them all, which
// is cheaper to redraw than many.
void AddStalePart(std::vector<RECT>& parts, RECT part);

class Layer {
public:
    Layer() = default;
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // (Re)allocates the pixels, all transparent, with the drawing settings of
    // the canvas. False, and an empty layer, when the memory cannot be had.
    bool Resize(int width, int height);
    void Release();

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return !graphics; }
    HDC dc() const { return dc_.get(); }
    // One row of premultiplied BGRA pixels; y must lie inside.
    uint32_t* Row(int y) { return pixels_ + size_t(y) * size_t(width_); }

    // Makes the part transparent and marks its rows for the opacity survey.
    void Clear(const RECT& part);
    // Rows whose pixels changed since the last copy.
    void MarkChanged(int top, int bottom);
    // Copies the part (layer coordinates, cut to the layer) to (destX,
    // destY) and the rest of the part after it, blending what is not opaque.
    void CopyTo(HDC dest, int destX, int destY, const RECT& part);
    // Blends the part over dest, where the layer's origin lies at (destX,
    // destY), without looking for opaque runs: for mostly clear layers.
    void BlendTo(HDC dest, int destX, int destY, const RECT& part);
    // Moves every row up by distance (down when negative), as a view does
    // when its content scrolls by that much; the rows left behind keep
    // their old pixels for the caller to draw again.
    void ScrollRows(int distance);

    // Draws on the pixels; null while the layer is empty.
    gdip::GraphicsObject graphics;

private:
    struct Run {
        int left = 0;   // the longest opaque run of a row: [left, right)
        int right = 0;
    };

    void SurveyRows();
    void Blend(HDC dest, int destX, int destY, int left, int top, int right, int bottom);

    int width_ = 0;
    int height_ = 0;
    uint32_t* pixels_ = nullptr;  // owned by the DIB section
    gdi::MemoryDC dc_;
    gdi::Bitmap dib_;
    gdi::OriginalSelection selection_;  // the DIB section, selected into dc_
    gdip::BitmapPtr bitmap_;            // GDI+'s view of the same pixels
    std::vector<Run> runs_;             // one per row
    std::vector<bool> stale_;           // rows to survey before the next copy
    bool anyStale_ = false;
};
