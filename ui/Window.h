// Lightweight windows: the retained tree that the widget is made of.
//
// None of these has a native handle. The root covers the desktop list view's
// client area; the desktop surface paints the tree on every WM_PAINT and
// routes the list view's mouse and timer messages into it. A window's x and y
// are whole pixels of the design (a 96-dpi screen's) relative to its
// parent's origin; region, MouseEvent points and painting use the window's
// own coordinates (origin at its top-left).
//
// The root alone knows the screen's scale: it turns the tree's pixels into
// the list view's for painting and invalidating, and the list view's into
// the tree's for every pointer message, so that no window knows the scale.
// The layers are of the list view's pixels; a top-level window's layer lies
// at its place scaled and rounded to a whole pixel.
//
// Input goes to the first window, depth first with children before their
// parent and siblings in the order they were shown, that is not mouse
// transparent and whose region holds the point; the capture holder, when set,
// gets everything wherever the pointer is. Painting runs the same order,
// parent first, so a later sibling is drawn on top of an earlier one that
// still receives the input in their overlap.
//
// A release belongs to the tree only when the press did or a window holds
// the capture: otherwise it is the list view's, which may be dragging its
// own selection. The tree takes the system capture for its holder and lets
// go only of a capture it took; hiding the holder or an ancestor of it (for
// a popup, of its owner too), or destroying the holder, ends the capture.
//
// Painting is retained: every window shown directly on the root (the panel,
// each popup) has a layer of its own size holding the pixels of it and its
// subtree. Invalidating a window marks its rectangle stale in its top-level
// ancestor's layer as well as on the list view; a paint first redraws the
// stale parts of each layer, clipped to them (a window that does not meet
// a part is not asked to paint), then copies the layers to the back buffer
// in order. Moving a top-level window leaves its layer as it is; hiding one
// lets its layer go. Without a layer (no memory) a window is drawn directly,
// as it is everywhere while `retained` is off.
//
// The root is the one window without a parent. It holds what the whole tree
// shares: the canvas and the list view that every window draws on and sets
// its timers on (each window takes them from its parent at construction, so
// from the root), and the tree's input state: the capture holder, the hover
// and pressed windows and the timer map. The desktop surface owns the root
// for as long as a widget is attached.
//
// Everything here runs on the shell's UI thread, and the root checks it: a
// call from another thread is refused and counted. The base class owns neither
// its children nor its timers: each window hides and deletes the children it
// created and kills the timers it set. Windows go before their root.
#pragma once

#include "gfx/GdiPlus.h"
#include "gfx/Layer.h"

#include <map>
#include <memory>
#include <vector>

class Canvas;
class RootWindow;

// A rectangle in whole pixels.
struct IntRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct MouseEvent {
    int x = 0;  // in the receiving window's own coordinates
    int y = 0;
    int wheel = 0;  // notches, non-zero only for wheel turns
    bool left = false;
    bool right = false;
    bool middle = false;
    bool control = false;
    bool shift = false;
};

// A coordinate brought within [0, room - size], so that a window of that size
// lies wholly inside its parent; 0 when the window is the larger, so that its
// top-left corner shows. Only compared, never added to: safe for any int.
int KeepInside(int position, int size, int room);

class Window {
public:
    // Created detached; see Show. The parent is never null: only the root
    // has none.
    Window(int x, int y, int width, int height, Window* parent);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // The virtual slots, in this order; all but the first two do nothing here.
    virtual void UpdateRegion();
    virtual void Paint() {}
    virtual void OnResize() {}
    virtual void OnShow() {}
    virtual void OnTimer(int /*id*/) {}
    virtual void OnClick(MouseEvent& /*event*/) {}
    virtual void OnMouseEnter(MouseEvent& /*event*/) {}
    virtual void OnMouseLeave(MouseEvent& /*event*/) {}
    virtual void OnMouseWheel(MouseEvent& /*event*/) {}
    virtual void OnMouseDown(MouseEvent& /*event*/) {}
    virtual void OnMouseUp(MouseEvent& /*event*/) {}
    virtual void OnMouseMove(MouseEvent& /*event*/) {}
    virtual void OnCommand(int /*code*/, int /*param*/) {}
    virtual void OnContent(int /*kind*/, void* /*payload*/) {}
    virtual void OnData(int /*kind*/, void* /*payload*/) {}
    virtual void OnCaptureLost() {}
    virtual void OnLink(const wchar_t* /*url*/) {}

    // Links the window as the last child of its parent and invalidates it.
    void Show();
    // Unlinks the window from its parent and invalidates where it was.
    void Hide();
    // Invalidates the window's rectangle on the list view.
    void Invalidate();
    // Invalidates a part of it, in the window's own coordinates.
    void InvalidatePart(const RECT& part);
    // Moves the window and invalidates the old and the new place.
    void MoveBy(int dx, int dy);
    // Whether the point, in the window's own coordinates, lies in its region.
    bool HitTest(int x, int y);

    // Ids are the window's own: two windows may use the same one.
    void SetWindowTimer(int id, unsigned intervalMs);
    void KillWindowTimer(int id);

    bool mouseTransparent = false;  // the window itself takes no mouse events
    bool attached = false;          // linked into the parent's child list
    int x, y, width, height;
    // Owned; hit shape in the window's own coordinates. Give a window another
    // shape by replacing the region, never by changing it in place: a plain
    // rectangle made here is hit-tested without asking GDI+ (see HitTest).
    gdip::RegionObject region;
    Window* parent;                  // borrowed; null for the root
    Window* firstChild = nullptr;    // borrowed
    Window* lastChild = nullptr;     // borrowed
    Window* prevSibling = nullptr;   // borrowed
    Window* nextSibling = nullptr;   // borrowed
    // A popup's owner (borrowed), which it goes with: hiding the owner or an
    // ancestor of it ends a capture the popup holds. Null for the others.
    Window* ownedBy = nullptr;
    RootWindow* root;    // borrowed; the root of this window's tree
    Canvas* canvas;      // borrowed from the root
    HWND surfaceWindow;  // the desktop list view, from the root

protected:
    // The root's own constructor.
    Window(int width, int height, Canvas* canvas, HWND surfaceWindow);

private:
    void SetRectRegion(int left, int top, int w, int h);

    const gdip::GpRegion* rectRegion_ = nullptr;  // region, while it is the rectangle below
    RECT rect_{};
};

// The root of a tree: covers the list view's client area, has no parent and
// holds the state that input routing and timers share across the tree.
class RootWindow : public Window {
public:
    RootWindow(int width, int height, Canvas* canvas, HWND surfaceWindow);
    // Releases a capture still held and kills every timer still registered.
    ~RootWindow() override;

    // The list view's pixels per pixel of the tree: 1 at 100 %, 2 at 200 %.
    float scale() const { return scale_; }
    // Covers a client area of that many list view pixels at that scale (the
    // canvas's too): the root's size follows, its children keep their places
    // relative to it and stay wholly inside, and a new scale has everything
    // drawn again at it.
    void Fit(int clientWidth, int clientHeight, float scale);
    // A rectangle of the tree (root coordinates) in list view pixels, grown
    // to whole pixels around what is drawn of it.
    RECT ToSurface(RECT rect) const;

    // Gives the capture to a window (null releases it); the old holder, when
    // it is another window, hears OnCaptureLost first.
    void SetMouseCapture(Window* window);
    // Ends the tree's capture: the holder hears OnCaptureLost, and the system
    // capture is let go when the tree holds it.
    void ReleaseMouseCapture();
    Window* CaptureWindow() const { return captureWindow_; }
    Window* HoverWindow() const { return hoverWindow_; }
    // Forgets the hover window without telling it (the pointer left the tree).
    void ClearHoverWindow() { hoverWindow_ = nullptr; }

    // Entry points for the desktop surface, with points in list view client
    // coordinates and the message's key state. Each answers whether a
    // window took the event.
    // Brings the stale parts of the layers up to date and draws the tree's
    // part of the rectangle on the canvas's back buffer.
    void PaintTree(int x, int y, int width, int height);
    bool RouteButton(int button, bool down, int x, int y, unsigned keyState);
    // A left button message as the list view got it; the second press of a
    // double click (WM_LBUTTONDBLCLK) is a press like the first.
    bool RouteButtonMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool RouteMove(int x, int y, unsigned keyState);
    bool RouteWheel(int x, int y, unsigned keyState);
    // id is the list view's timer id (WM_TIMER's wParam).
    bool DispatchTimer(int id);
    // The list view lost the system capture (WM_CAPTURECHANGED): unless the
    // tree let it go itself, the holder hears OnCaptureLost and the press
    // is over.
    void CaptureLost();

    // The part (in the window's own coordinates) of a window of this tree
    // will be drawn again at the next paint; the root's own stands for all.
    void MarkStale(const Window* window, RECT part);
    // The layer of a top-level window; null when it has none (yet).
    const Layer* LayerOf(const Window* window) const;
    // Counts the times everything was marked stale (a display change): what
    // a window keeps drawn on its own is drawn again when this moved on.
    unsigned Generation() const { return generation_; }

    // Off: every paint draws the windows straight on the back buffer.
    bool retained = true;

    // The thread that made the tree: the only one that may invalidate it,
    // mark it stale or touch its layers (checked, base/Threads.h).
    DWORD OwnerThread() const { return ownerThread_; }

private:
    friend class Window;

    struct Retained {
        const Window* window;       // top-level; borrowed
        Layer layer;                // its size; empty until first painted
        std::vector<RECT> stale;    // parts to redraw, in its coordinates
    };

    // A window's timer: the window (borrowed) and its own id.
    struct TreeTimer {
        Window* window;
        int id;
    };

    // A window of the tree is going: nothing may point at it any more.
    void Forget(Window* window);
    // Whether the capture holder is the window or lies under it.
    bool CaptureWithin(const Window* window) const;
    // Lets go of the system capture if the list view has it.
    void LetGoOfSystemCapture();
    void SetTreeTimer(Window* window, int id, unsigned intervalMs);
    void KillTreeTimer(Window* window, int id);
    Retained* FindRetained(const Window* window) const;
    void DropLayer(const Window* window);
    // Redraws the stale parts of a top-level window's layer; false when the
    // layer cannot be had and the window must be drawn directly.
    bool Refresh(Window* window, Retained& entry);
    // Paints a top-level window straight on the back buffer, within update
    // (list view pixels).
    void PaintDirectly(Window* window, const RECT& update);
    // A list view coordinate in the tree's pixels, rounded down.
    int ToTree(int coordinate) const;
    // A length of the tree in list view pixels, rounded up: a layer's side.
    int ScaledLength(int length) const;

    Window* captureWindow_ = nullptr;  // borrowed
    Window* hoverWindow_ = nullptr;    // borrowed
    Window* pressedWindow_ = nullptr;  // borrowed; where the left button went down
    bool pressTaken_ = false;          // the left button went down on the tree
    bool releasing_ = false;           // the tree is letting go of the system capture
    std::map<int, TreeTimer> timers_;  // by the list view's timer id
    std::vector<std::unique_ptr<Retained>> layers_;
    unsigned generation_ = 0;
    float scale_ = 1;
    DWORD ownerThread_;
};
