// The drawing surface of one embedded widget: a GDI+ graphics object on an
// off-screen bitmap the size of the screen, selected into a memory device
// context compatible with the desktop list view.
//
// The desktop surface creates it on attach and destroys it on detach; every
// window, control and scene element draws through it on the shell's UI
// thread. Coordinates are list view client pixels, moved by the translation
// that the window tree pushes around each window while painting.
#pragma once

#include "ui/GdiPlus.h"

#include <tuple>
#include <utility>
#include <vector>

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

    // Saves the translation part of the world transform.
    void PushTranslation();
    // Restores the last saved translation, or the identity when none is saved.
    void PopTranslation();

    void FillRect(float x, float y, float width, float height, gdip::ARGB colour);

    gdip::GraphicsObject graphics;       // draws on memoryDC
    HDC memoryDC = nullptr;        // owned
    HBITMAP backBuffer = nullptr;  // owned, selected into memoryDC
    ULONG_PTR gdiplusToken = 0;
    gdip::RectF clipRect{};        // the clip the painting window last recorded
    std::vector<std::pair<float, float>> transformStack;

private:
    HGDIOBJ originalBitmap_ = nullptr;  // memoryDC's own bitmap, put back before deleting
};
