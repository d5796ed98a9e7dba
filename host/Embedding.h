// Everything that one attached widget holds, in one owner.
//
// The desktop surface makes an Embedding when it has subclassed the list
// view and destroys it before it gives the list view back. The members are
// made in the order they are declared and destroyed in the reverse order:
//
//   canvas     the off-screen surface and its caches; GDI+ runs while it lives
//   http       the HTTP client's process-wide state, for the panel's network work
//   root       the window tree's root, with its capture, hover, press and timers
//   widget     the panel and everything it builds
//   wallpaper  the legacy painting's prepared picture (a GDI+ object of the canvas)
//   worker     the feeds and the worker thread, delivering to the panel
//
// so the worker is stopped before the panel it delivers to goes (a worker
// left to end by itself delivers nothing more and reads nothing of the
// panel), the panel goes while the tree, the client and the canvas it uses
// still stand, and GDI+ shuts down last. Shell's UI thread.
#pragma once

#include "gfx/Canvas.h"
#include "net/HttpClient.h"
#include "ui/Window.h"

#include <memory>
#include <string>

class Widget;
class Worker;

enum class WallpaperMode : int {
    Tiled = 0,
    Centred = 1,
    Stretched = 2,
};

// The wallpaper as legacy painting draws it, prepared for the canvas's
// graphics and kept while the path and the screen size stay the same.
struct LegacyWallpaper {
    WallpaperMode mode = WallpaperMode::Stretched;
    int screenWidth = 0;  // of the screen at the last paint
    int screenHeight = 0;
    gdip::CachedBitmapPtr bitmap;  // null while there is none
    int width = 0;
    int height = 0;
    std::wstring path;  // what bitmap was made from, with the screen size below
    int preparedScreenWidth = 0;
    int preparedScreenHeight = 0;
};

class Embedding {
public:
    // Builds everything for the list view, at the scale of the screen the
    // panel stands on, and shows the panel.
    explicit Embedding(HWND listView);
    // Releases a capture still held, then lets the members go in order.
    ~Embedding();
    Embedding(const Embedding&) = delete;
    Embedding& operator=(const Embedding&) = delete;

    Canvas canvas;
    HttpClientScope http;
    RootWindow root;  // covers the list view's client area
    std::unique_ptr<Widget> widget;
    LegacyWallpaper wallpaper;
    std::unique_ptr<Worker> worker;

    // Takes the list view's client size and the scale of the screen the
    // panel stands on (or the one a dpi given names): the root covers the
    // client at that scale; a change has everything drawn again.
    void FitToDisplay(unsigned dpi = 0);
    SIZE client{0, 0};  // the list view's, as the root last covered it

private:
    HWND listView_;
};
