// The drawing surface of one embedded widget: a GDI+ graphics object on an
// off-screen bitmap the size of the screen, selected into a memory device
// context compatible with the desktop list view, and the resources shared by
// everything that draws on it: a use-counted image cache, a font cache, the
// fonts shipped beside the library and a stack of saved translations.
//
// The desktop surface creates it on attach and destroys it on detach; every
// window, control and scene element draws through it on the shell's UI
// thread. Coordinates are pixels of the design (a 96-dpi screen's), moved by
// the translation that the window tree pushes around each window while
// painting; every graphics the canvas draws on turns them into its own
// pixels at the canvas's scale (1 at 100 %, 2 at 200 %), so that text, shapes
// and pictures are set at the screen's size rather than stretched to it.
#pragma once

#include "gfx/GdiPlus.h"
#include "gfx/Layer.h"
#include "gfx/TextCache.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// windows.h names its DrawText function through a macro; the Canvas has its own.
#undef DrawText

class Canvas;

// One counted use of a picture in a canvas's image cache, given back when the
// holder goes. Moved, never copied; null when the picture could not be had.
class ImageUse {
public:
    ImageUse() = default;
    ~ImageUse() { reset(); }
    ImageUse(ImageUse&& other) noexcept;
    ImageUse& operator=(ImageUse&& other) noexcept;
    ImageUse(const ImageUse&) = delete;
    ImageUse& operator=(const ImageUse&) = delete;

    gdip::GpImage* get() const { return image_; }
    explicit operator bool() const { return image_ != nullptr; }
    void reset();

private:
    friend class Canvas;
    ImageUse(Canvas* canvas, gdip::GpImage* image) : canvas_(canvas), image_(image) {}

    Canvas* canvas_ = nullptr;  // borrowed; holds the cache
    gdip::GpImage* image_ = nullptr;
};

// Font style bits, as page builders and the cache's keys combine them.
enum FontStyle : int {
    FontRegular = 0,
    FontBold = 1,
    FontItalic = 2,
    FontUnderline = 4,
};

class Canvas {
public:
    // Starts GDI+ and builds the back buffer for the given window. With
    // writeAhead, a thread of its own writes the buffer's memory once while
    // the caller goes on (see WaitForBackBuffer).
    explicit Canvas(HWND window, bool writeAhead = false);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // (Re)creates the back buffer at the size of the window's client area
    // (which on the desktop spans every screen; the primary screen's size
    // when there is no window) and a new graphics on it. When the buffer
    // cannot be made, graphics stays null and nothing can be drawn.
    void RebuildBackBuffer();
    // Waits until the back buffer was written ahead, if it is being: before
    // anything is drawn on it. Under Wine in a virtual machine the first
    // write to each page of fresh memory costs some ten microseconds, a
    // screen-sized buffer's first paint tens of milliseconds.
    void WaitForBackBuffer();

    // Images by the caller's path text (relative to the library's folder, or
    // absolute); each acquire counts one use, held by the ImageUse it
    // returns, and the image goes with its last use. A picture that fails to
    // load is not cached: null now, another try next time.
    ImageUse AcquireImage(const wchar_t* path);
    int ImageUseCount(const gdip::GpImage* image) const;
    // Whether an image of that path text is held now: acquiring it decodes
    // nothing.
    bool HoldsImage(const std::wstring& path) const;

    // Fonts by family, pixel size and FontStyle bits (other bits are kept in
    // the key but ignored). The family "PT Sans Bold" is the bold face of
    // "PT Sans": the shipped files name one family with two faces. A family
    // that is not found, among the shipped fonts once any was added, falls
    // back to the generic sans-serif. The cache owns the fonts until it is
    // destroyed.
    gdip::GpFont* GetFont(const wchar_t* family, int size, int style);
    void AddPrivateFont(const wchar_t* path);
    // The font files that ship beside the library (gfx/Palette.h).
    void AddShippedFonts();

    void DrawImage(gdip::GpImage* image, float x, float y);
    void DrawImage(gdip::GpImage* image, float x, float y, float width, float height);
    // The part (sourceX, sourceY, width, height) of the image, unscaled, at (x, y).
    void DrawImagePart(gdip::GpImage* image, int x, int y, int sourceX, int sourceY, int width,
                       int height);
    // One line at (x, y), neither wrapped nor clipped.
    void DrawText(const wchar_t* text, gdip::GpFont* font, gdip::ARGB colour, float x, float y);
    // Wrapped inside the box.
    void DrawText(const wchar_t* text, gdip::GpFont* font, gdip::ARGB colour,
                  const gdip::RectF& box);
    void FillRect(float x, float y, float width, float height, gdip::ARGB colour);
    void FillRoundRect(float x, float y, float width, float height, float radius,
                       gdip::ARGB colour);

    float MeasureCharWidth(wchar_t character, gdip::GpFont* font);
    // The bounding box of a text laid out in a box of the given size.
    gdip::RectF MeasureText(const wchar_t* text, gdip::GpFont* font, float layoutWidth,
                            float layoutHeight);
    // The bounding box of the first length characters laid out in a box of
    // the given size; fitted and lines, when given, receive how many
    // characters fit and on how many lines.
    gdip::RectF MeasureRun(const wchar_t* text, int length, gdip::GpFont* font, float layoutWidth,
                           float layoutHeight, int* fitted, int* lines = nullptr);
    // The line spacing of a font on this surface, in pixels.
    float FontHeight(gdip::GpFont* font);

    // The screen's pixels per pixel of the design; 1 until set. Setting
    // another scale lets go of the kept lines and makes our pictures come
    // in the drawings for it; what was drawn before must be drawn again.
    float scale() const { return scale_; }
    void SetScale(float scale);

    // The world transform's offsets, in the target's pixels (left as they
    // are when it cannot be read); true when it does nothing but scale by
    // the canvas's scale and move by them.
    bool WorldOffset(float& dx, float& dy);
    // Saves the translation part of the world transform.
    void PushTranslation();
    // Restores the last saved translation, or none when none is saved; the
    // canvas's scale stays.
    void PopTranslation();

    HDC memoryDC() const { return memoryDC_.get(); }

    // For its lifetime, everything drawn through the canvas goes to the
    // layer (whose graphics stands in for the canvas's own) instead of the
    // back buffer. Scopes nest; each puts back what it found.
    class DrawingOnLayer {
    public:
        DrawingOnLayer(Canvas& canvas, Layer& layer);
        ~DrawingOnLayer();
        DrawingOnLayer(const DrawingOnLayer&) = delete;
        DrawingOnLayer& operator=(const DrawingOnLayer&) = delete;

    private:
        Canvas& canvas_;
        Layer& layer_;
        Layer* previous_;
    };
    // Draws parts of a layer again, each cleared first: draw is called once a
    // part (in the layer's pixels) with everything drawn clipped to it,
    // scaled by the canvas's scale and then moved by (dx, dy) of the layer's
    // pixels. Parts reaching past the layer are cut to it. draw must leave
    // the clip as it finds it.
    void RedrawParts(Layer& layer, const std::vector<RECT>& parts, float dx, float dy,
                     const std::function<void(const RECT&)>& draw);
    // The layer being drawn on; null while drawing goes to the back buffer.
    Layer* targetLayer() const { return target_; }

private:
    friend class ImageUse;

    // Members are declared in the order they are made; each is destroyed
    // before the ones above it, so GDI+ shuts down after its last object and
    // the back buffer leaves the memory DC before either is deleted.
    gdip::Session gdiplus_;
    HWND window_ = nullptr;             // whose client area the back buffer covers
    gdi::MemoryDC memoryDC_;            // compatible with the desktop list view
    gdi::Bitmap backBuffer_;            // the window's client size
    gdi::OriginalSelection selection_;  // the back buffer, selected into memoryDC_
    KernelHandle writer_;               // writing the back buffer ahead, while it runs

public:
    gdip::GraphicsObject graphics;  // draws on memoryDC
    std::vector<std::pair<float, float>> transformStack;

private:
    struct ImageEntry {
        std::wstring key;  // the caller's text
        float scale = 1;   // the canvas's scale it was loaded at
        gdip::ImagePtr image;
        int useCount = 0;
        // Drawn in its place once the scale changed: the drawing for the
        // canvas's scale now (null when there is none), of the same size.
        gdip::ImagePtr redrawn;
        float redrawnScale = 0;
        // A picture that has no drawing for the scale (a feed's), drawn
        // again at the size it was last shown at on a layer, for that scale.
        gdip::ImagePtr scaledCopy;
        float copyScale = 0;
    };
    struct FontEntry {
        std::wstring family;
        int size = 0;
        int style = 0;
        gdip::FontObject font;
    };

    gdip::FontFamilyPtr FindFamily(const wchar_t* family);
    // What is drawn for a picture of the image cache: the drawing for the
    // canvas's scale, loaded once after the scale changed, or the picture
    // itself.
    gdip::GpImage* DrawingOf(gdip::GpImage* image);
    // For a picture of the image cache drawn at a scale it has no drawing
    // for, onto a layer: a copy at the size it takes there, made once for
    // that size and scale; null where the picture is drawn as it is.
    gdip::GpImage* ScaledCopyOf(gdip::GpImage* image, float width, float height);
    // Blends a part of a picture at its own size onto the layer being drawn
    // on, within the clip; false (nothing drawn) when the picture has no
    // section, the size differs or the place is not a whole pixel, for
    // GDI+ to draw it instead.
    bool BlendPicture(gdip::GpImage* image, float x, float y, float width, float height,
                      int sourceX, int sourceY);
    // Sets one line on a layer of the opaque kind from the text cache, while
    // RedrawParts draws a part of it; false when it must be set as usual.
    bool DrawKeptText(const wchar_t* text, gdip::GpFont* font, gdip::ARGB colour, float x,
                      float y);
    void ReleaseImage(gdip::GpImage* image);

    // The world transform of the canvas's scale and then a move by (dx, dy).
    void SetTransform(float dx, float dy);

    float scale_ = 1;
    Layer* target_ = nullptr;  // borrowed, while a DrawingOnLayer lasts
    // While RedrawParts draws: the layer and the part, which is the clip.
    Layer* redrawnLayer_ = nullptr;  // borrowed
    RECT redrawnPart_{0, 0, 0, 0};
    gdi::MemoryDC pictureDC_;  // holds a picture's section while it is blended
    gdip::FontCollectionObject privateFonts_;  // null until a font file is added
    std::vector<FontEntry> fonts_;             // may use the private families
    std::vector<ImageEntry> images_;
    // The pixel bytes of the pictures' scaled copies together, and their
    // budget: a map and a page of offers at 200 %.
    static constexpr uint64_t kScaledCopyBytes = 8u << 20;
    uint64_t copyBytes_ = 0;
    TextCache keptText_;  // keys hold fonts of fonts_
};
