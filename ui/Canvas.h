// The drawing surface of one embedded widget: a GDI+ graphics object on an
// off-screen bitmap the size of the screen, selected into a memory device
// context compatible with the desktop list view, and the resources shared by
// everything that draws on it: a use-counted image cache, a font cache, the
// fonts shipped beside the library and a stack of saved translations.
//
// The desktop surface creates it on attach and destroys it on detach; every
// window, control and scene element draws through it on the shell's UI
// thread. Coordinates are list view client pixels, moved by the translation
// that the window tree pushes around each window while painting.
#pragma once

#include "ui/GdiPlus.h"

#include <string>
#include <utility>
#include <vector>

// windows.h names its DrawText function through a macro; the Canvas has its own.
#undef DrawText

class Canvas {
public:
    // Starts GDI+ and builds the back buffer for the given window.
    explicit Canvas(HWND window);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // (Re)creates the back buffer at the screen's size and a new graphics on
    // it; also called when the display changes.
    void RebuildBackBuffer();

    // Images by the caller's path text (relative to the library's folder, or
    // absolute); each acquire counts one use, each release drops one, and the
    // image goes with its last use. A picture that fails to load is not
    // cached: null now, another try next time.
    gdip::GpImage* AcquireImage(const wchar_t* path);
    void ReleaseImage(gdip::GpImage* image);
    int ImageUseCount(const gdip::GpImage* image) const;

    // Fonts by family, pixel size and style bits (1 bold, 2 italic,
    // 4 underline; other bits are kept in the key but ignored). A family that
    // is not found, among the shipped fonts once any was added, falls back to
    // the generic sans-serif. The cache owns the fonts until it is destroyed.
    gdip::GpFont* GetFont(const wchar_t* family, int size, int style);
    void AddPrivateFont(const wchar_t* path);

    void DrawImage(gdip::GpImage* image, float x, float y);
    void DrawImage(gdip::GpImage* image, float x, float y, float width, float height);
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

    // Saves the translation part of the world transform.
    void PushTranslation();
    // Restores the last saved translation, or the identity when none is saved.
    void PopTranslation();

    gdip::GraphicsObject graphics;  // draws on memoryDC
    HDC memoryDC = nullptr;         // owned
    HBITMAP backBuffer = nullptr;   // owned, selected into memoryDC
    ULONG_PTR gdiplusToken = 0;
    gdip::RectF clipRect{};         // the clip the painting window last recorded
    std::vector<std::pair<float, float>> transformStack;

private:
    struct ImageEntry {
        std::wstring key;  // the caller's text
        gdip::ImagePtr image;
        int useCount = 0;
    };
    struct FontEntry {
        std::wstring family;
        int size = 0;
        int style = 0;
        gdip::FontObject font;
    };

    gdip::FontFamilyPtr FindFamily(const wchar_t* family);

    std::vector<ImageEntry> images_;
    std::vector<FontEntry> fonts_;
    gdip::FontCollectionObject privateFonts_;  // null until a font file is added
    HGDIOBJ originalBitmap_ = nullptr;  // memoryDC's own bitmap, put back before deleting
};
