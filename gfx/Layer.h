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
// The opaque kind holds 24-bit pixels laid on one colour and is drawn on
// through its device context: for a view whose whole background is that
// colour. Under Wine, GDI+ sets text on such a context with GDI, about three
// times faster than its own rasteriser does on premultiplied pixels.
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

// The longest run of opaque pixels in a row of premultiplied pixels:
// [left, right), empty when there is none.
struct OpaqueRun {
    int left = 0;
    int right = 0;
};
OpaqueRun LongestOpaqueRun(const uint32_t* row, int width);
// Copies a part of source's premultiplied pixels, whose rows have the given
// runs, to dest with source's origin at (destX, destY): BitBlt for the runs,
// AlphaBlend for the rest; rows of the same run go as one band. The part
// must lie within the rows given.
void CopyByRuns(HDC dest, int destX, int destY, HDC source, const std::vector<OpaqueRun>& runs,
                const RECT& part);

class Layer {
public:
    Layer() = default;
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // (Re)allocates the pixels, all transparent, with the drawing settings of
    // the canvas. False, and an empty layer, when the memory cannot be had.
    bool Resize(int width, int height);
    // (Re)allocates the pixels of the opaque kind, all of colour fill
    // (0xRRGGBB). False, and an empty layer, when that cannot be done.
    bool ResizeOpaque(int width, int height, uint32_t fill);
    void Release();

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return !graphics; }
    HDC dc() const { return dc_.get(); }
    bool opaque() const { return opaque_; }
    uint32_t fill() const { return fill_; }
    // One row of premultiplied BGRA pixels; y must lie inside, and the layer
    // must not be of the opaque kind.
    uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(bits_ + size_t(y) * stride_); }
    // One row of the opaque kind's pixels, three bytes (B, G, R) each; y
    // must lie inside.
    uint8_t* OpaqueRow(int y) { return bits_ + size_t(y) * stride_; }

    // Makes the part transparent (of the fill colour, for the opaque kind)
    // and marks its rows for the opacity survey.
    void Clear(const RECT& part);
    // Rows whose pixels changed since the last copy.
    void MarkChanged(int top, int bottom);
    // Copies the part (layer coordinates, cut to the layer) to (destX,
    // destY) and the rest of the part after it, blending what is not opaque.
    void CopyTo(HDC dest, int destX, int destY, const RECT& part);
    // Puts the part on another layer, this layer's origin at (x, y) of it:
    // blended, or copied as opaque pixels from the opaque kind.
    void DrawOn(Layer& target, int x, int y, const RECT& part);
    // Moves every row up by distance (down when negative), as a view does
    // when its content scrolls by that much; the rows left behind keep
    // their old pixels for the caller to draw again.
    void ScrollRows(int distance);

    // Draws on the pixels; null while the layer is empty.
    gdip::GraphicsObject graphics;

private:
    void SurveyRows();
    void Blend(HDC dest, int destX, int destY, int left, int top, int right, int bottom);

    // The DIB section's pixels, top-down; false when it cannot be had.
    bool Allocate(int width, int height, int bitsPerPixel);
    // The part cut to the layer; false when nothing is left of it.
    bool Cut(const RECT& part, RECT& cut) const;

    int width_ = 0;
    int height_ = 0;
    uint8_t* bits_ = nullptr;  // owned by the DIB section
    size_t stride_ = 0;        // bytes from one row to the next
    bool opaque_ = false;
    uint32_t fill_ = 0;        // 0xRRGGBB, of the opaque kind
    gdi::MemoryDC dc_;
    gdi::Bitmap dib_;
    gdi::OriginalSelection selection_;  // the DIB section, selected into dc_
    gdip::BitmapPtr bitmap_;            // GDI+'s view of the same pixels
    std::vector<OpaqueRun> runs_;       // one per row
    std::vector<bool> stale_;           // rows to survey before the next copy
    bool anyStale_ = false;
};
