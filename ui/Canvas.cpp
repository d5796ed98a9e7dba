// Canvas surface and drawing operations; see Canvas.h.
#include "ui/Canvas.h"

using namespace gdip;

Canvas::Canvas(HWND window) {
    {
        gdi::WindowDC dc(window);
        memoryDC = CreateCompatibleDC(dc.get());
    }
    GdiplusStartupInput input;  // version 1, no debug callback, background thread
    GdiplusStartup(&gdiplusToken, &input, nullptr);
    RebuildBackBuffer();
}

Canvas::~Canvas() {
    transformStack.clear();
    graphics.native.reset();
    if (memoryDC && originalBitmap_)
        SelectObject(memoryDC, originalBitmap_);
    if (backBuffer)
        DeleteObject(backBuffer);
    if (memoryDC)
        DeleteDC(memoryDC);
    if (gdiplusToken)
        GdiplusShutdown(gdiplusToken);
}

void Canvas::RebuildBackBuffer() {
    HWND desktop = GetDesktopWindow();
    gdi::WindowDC screen(desktop);
    int width = GetDeviceCaps(screen.get(), HORZRES);
    int height = GetDeviceCaps(screen.get(), VERTRES);

    // The graphics holds memoryDC; let it go before the bitmap under it changes.
    graphics.native.reset();
    HBITMAP bitmap = CreateCompatibleBitmap(screen.get(), width, height);
    if (bitmap) {
        HGDIOBJ previous = SelectObject(memoryDC, bitmap);
        if (!originalBitmap_)
            originalBitmap_ = previous;
        if (backBuffer)
            DeleteObject(backBuffer);
        backBuffer = bitmap;
    }

    GpGraphics* created = nullptr;
    if (graphics.Check(GdipCreateFromHDC(memoryDC, &created)) != Ok)
        return;
    graphics.native.reset(created);
    graphics.Check(GdipSetPageUnit(created, UnitPixel));
    graphics.Check(GdipSetSmoothingMode(created, SmoothingModeAntiAlias));
    graphics.Check(GdipSetTextRenderingHint(created, TextRenderingHintAntiAlias));
    graphics.Check(GdipSetPixelOffsetMode(created, PixelOffsetModeHalf));
    graphics.Check(GdipSetTextContrast(created, 2));
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

void Canvas::FillRect(float x, float y, float width, float height, ARGB colour) {
    BrushPtr brush = MakeSolidBrush(colour);
    if (graphics && brush)
        graphics.Check(GdipFillRectangle(graphics.get(), brush.get(), x, y, width, height));
}
