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

#include "base/Handles.h"
#include "host/Embedding.h"

#include <memory>

struct DesktopInstance {
    HWND hostWindow = nullptr;
    KernelHandle hostProcess;  // null when the host could not be opened
    HWND listView = nullptr;
    WNDPROC previousProc = nullptr;  // the list view's procedure before ours
    DWORD savedExStyle = 0;
    ULONG_PTR savedClassCursor = 0;
    bool legacyPaint = false;  // the background is drawn here, not by the list view
    POINT lastMouse{0, 0};     // of the last move that reached the tree
    std::unique_ptr<Embedding> embedding;  // while a widget is attached

    // Messages of ours being handled on the window thread, nested. A detach
    // asked for meanwhile (a shell call in a click handler may run a modal
    // loop that delivers the host's Unload) waits until they have returned.
    int dispatchDepth = 0;
    bool detachPending = false;
    // Detached while other software's procedure stands above ours: we stay
    // in its chain and only pass messages on, and the module stays loaded.
    bool passThrough = false;
    // Told when the instance has detached itself (a pending detach carried
    // out, the list view destroyed); its owner lets it go. Null: nobody to tell.
    void (*onDetached)(DesktopInstance*) = nullptr;
};

// Records the host window and opens its process, so that a host that died
// without unloading can be told from a live one.
void SetHost(DesktopInstance* instance, HWND hostWindow);

// Whether the host can still hear us: it has no window at all, or its
// window and process are alive.
bool HostAlive(const DesktopInstance* instance);

// Subclasses the instance's list view and makes its embedding. Returns
// false, leaving the list view as it was, when subclassing fails.
bool Attach(DesktopInstance* instance);

// Arms a pass-through instance again: a new widget on the chain we never left.
void Rearm(DesktopInstance* instance);

// Destroys the embedding and restores the list view. Returns true when our
// procedure is out of the list view's chain; false when another procedure
// stands above ours, which then stays as a pass-through (see passThrough).
bool Detach(DesktopInstance* instance);

LRESULT CALLBACK DesktopSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Composes the update rectangle into the back buffer and copies it to dc.
// False when there is no canvas to compose with.
bool ComposePaint(DesktopInstance* instance, const RECT& update, HDC dc);
