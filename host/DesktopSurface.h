// The desktop surface: the shell-side record of one embedded widget, the
// subclassed desktop list view and the composition of its paints.
//
// Attach subclasses the list view and creates the Canvas, the root window
// (covering the list view's client area) and the widget; detach undoes all of
// it. While attached, every paint is composed in the back buffer from the
// desktop background, the window tree and the icons, and reaches the screen
// with one BitBlt. Mouse, timer, power and display messages are turned into
// calls on the tree. Worker threads hand their results over with DM_CONTENT
// and DM_DATA, sent to the list view.
//
// Shell's UI thread only, except SendWindowMessage and ClosingRequested.
#pragma once

#include "host/Messages.h"
#include "ui/GdiPlus.h"

#include <memory>

class Canvas;
class Widget;
class Window;

struct DesktopInstance {
    DesktopInstance();
    ~DesktopInstance();

    std::unique_ptr<Widget> widget;  // the panel
    std::unique_ptr<Window> root;    // covers the list view's client area
    std::unique_ptr<Canvas> canvas;  // off-screen drawing surface
    HWND hostWindow = nullptr;
    HWND listView = nullptr;
    DWORD savedExStyle = 0;
    ULONG_PTR savedClassCursor = 0;
    bool legacyPaint = false;  // the background is drawn here, not by the list view
    int wallpaperMode = 2;     // 0 tiled, 1 centred, 2 stretched
    int screenWidth = 0;
    int screenHeight = 0;
    gdip::CachedBitmapPtr wallpaper;  // prepared for the Canvas graphics
    int wallpaperWidth = 0;
    int wallpaperHeight = 0;
};

// Subclasses the instance's list view and builds canvas, root and widget.
// Returns false, leaving the list view as it was, when subclassing fails.
bool Attach(DesktopInstance* instance);

// Destroys widget, root, wallpaper and canvas and restores the list view.
void Detach(DesktopInstance* instance);

LRESULT CALLBACK DesktopSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Composes the update rectangle into the back buffer and copies it to dc.
void ComposePaint(DesktopInstance* instance, const RECT& update, HDC dc);

// Set by DM_CLOSING, cleared when a widget is attached; worker threads read it
// before they deliver anything.
bool ClosingRequested();

// Sends a result to a window of the tree through the list view and waits
// until it was handled. Returns false when it was not delivered (no widget,
// closing): the payload then still belongs to the caller.
bool SendWindowMessage(HWND listView, UINT message, int kind, Window* target, void* payload);
