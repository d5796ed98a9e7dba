// The desktop surface: the shell-side record of one embedded widget, the
// subclassed desktop list view and the composition of its paints.
//
// Attach subclasses the list view and makes the Embedding (canvas, root,
// panel); detach destroys it and gives the list view back. While attached,
// every paint is composed in the back buffer from the desktop background,
// the window tree and the icons, and reaches the screen with one BitBlt.
// Mouse, timer, power and display messages are turned into calls on the
// tree. Worker threads hand their results over with DM_CONTENT and DM_DATA
// (ui/Delivery.h), sent to the list view.
//
// Shell's UI thread only.
#pragma once

#include "host/Embedding.h"

#include <memory>

struct DesktopInstance {
    HWND hostWindow = nullptr;
    HWND listView = nullptr;
    WNDPROC previousProc = nullptr;  // the list view's procedure before ours
    DWORD savedExStyle = 0;
    ULONG_PTR savedClassCursor = 0;
    bool legacyPaint = false;  // the background is drawn here, not by the list view
    POINT lastMouse{0, 0};     // of the last move that reached the tree
    std::unique_ptr<Embedding> embedding;  // while a widget is attached
};

// Subclasses the instance's list view and makes its embedding. Returns
// false, leaving the list view as it was, when subclassing fails.
bool Attach(DesktopInstance* instance);

// Destroys the embedding and restores the list view.
void Detach(DesktopInstance* instance);

LRESULT CALLBACK DesktopSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Composes the update rectangle into the back buffer and copies it to dc.
void ComposePaint(DesktopInstance* instance, const RECT& update, HDC dc);
