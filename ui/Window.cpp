// The window tree: links, geometry, invalidation, capture, input routing,
// timers and painting; see Window.h.
#include "ui/Window.h"

#include "host/DesktopSurface.h"
#include "host/HostBridge.h"
#include "ui/Canvas.h"

#include <map>

using namespace gdip;

namespace {

// Process-wide state of the tree (UI thread only). Every pointer is borrowed.
struct TreeState {
    Window* captureWindow = nullptr;
    Window* hoverWindow = nullptr;
    Window* pressedWindow = nullptr;
    std::map<int, Window*> timers;
};

TreeState& Tree() {
    static TreeState state;
    return state;
}

RegionPtr RectRegion(int x, int y, int width, int height) {
    GpRect rect{x, y, width, height};
    GpRegion* region = nullptr;
    if (GdipCreateRegionRectI(&rect, &region) != Ok)
        return nullptr;
    return RegionPtr(region);
}

// Offset of a window's origin in list view client coordinates.
POINT SurfaceOrigin(const Window* window) {
    POINT origin{0, 0};
    for (const Window* w = window; w; w = w->parent) {
        origin.x += w->x;
        origin.y += w->y;
    }
    return origin;
}

MouseEvent MakeEvent(int x, int y, unsigned keyState) {
    MouseEvent event;
    event.x = x;
    event.y = y;
    event.left = keyState & MK_LBUTTON;
    event.right = keyState & MK_RBUTTON;
    event.middle = keyState & MK_MBUTTON;
    event.control = keyState & MK_CONTROL;
    event.shift = keyState & MK_SHIFT;
    return event;
}

// The routing shared by buttons, moves and wheel turns: the point arrives in
// the window's parent coordinates; children are offered the event first.
template <class Deliver>
bool Route(Window* window, int x, int y, Deliver& deliver) {
    int localX = x - window->x;
    int localY = y - window->y;
    for (Window* child = window->firstChild; child; child = child->nextSibling) {
        if (Route(child, localX, localY, deliver))
            return true;
    }
    if (window->mouseTransparent)
        return false;
    Window* capture = Tree().captureWindow;
    if (capture && capture != window)
        return false;
    if (capture != window && !window->HitTest(localX, localY))
        return false;
    return deliver(window, localX, localY);
}

}  // namespace

Window::Window(int x, int y, int width, int height, Window* parent)
    : attached(parent == nullptr),
      x(x),
      y(y),
      width(width),
      height(height),
      parent(parent),
      canvas(Bridge().instance ? Bridge().instance->canvas.get() : nullptr),
      surfaceWindow(Bridge().listView) {
    // Placed at (x, y) until the concrete window calls UpdateRegion.
    SetRectRegion(x, y, width, height);
}

Window::~Window() {
    TreeState& tree = Tree();
    if (tree.captureWindow == this)
        tree.captureWindow = nullptr;
    if (tree.hoverWindow == this)
        tree.hoverWindow = nullptr;
    // A later window may be built at this address: it must not inherit the
    // press, nor a timer that would call into freed memory.
    if (tree.pressedWindow == this)
        tree.pressedWindow = nullptr;
    for (auto it = tree.timers.begin(); it != tree.timers.end();) {
        if (it->second == this) {
            KillTimer(surfaceWindow, it->first);
            it = tree.timers.erase(it);
        } else {
            ++it;
        }
    }
}

void Window::UpdateRegion() {
    SetRectRegion(0, 0, width, height);
}

void Window::SetRectRegion(int left, int top, int w, int h) {
    region.native = RectRegion(left, top, w, h);
    rectRegion_ = region.get();
    rect_ = RECT{left, top, left + w, top + h};
}

void Window::Show() {
    if (!parent || attached)
        return;
    prevSibling = parent->lastChild;
    nextSibling = nullptr;
    if (parent->lastChild)
        parent->lastChild->nextSibling = this;
    parent->lastChild = this;
    if (!parent->firstChild)
        parent->firstChild = this;
    attached = true;
    OnShow();
    Invalidate();
}

void Window::Hide() {
    if (!parent || !attached)
        return;
    if (prevSibling)
        prevSibling->nextSibling = nextSibling;
    else
        parent->firstChild = nextSibling;
    if (nextSibling)
        nextSibling->prevSibling = prevSibling;
    else
        parent->lastChild = prevSibling;
    prevSibling = nullptr;
    nextSibling = nullptr;
    Invalidate();
    attached = false;
}

void Window::Invalidate() {
    if (!attached)
        return;
    POINT origin = SurfaceOrigin(this);
    RECT rect{origin.x, origin.y, origin.x + width, origin.y + height};
    InvalidateRect(surfaceWindow, &rect, TRUE);
}

void Window::MoveBy(int dx, int dy) {
    if (dx == 0 && dy == 0)
        return;
    POINT before = SurfaceOrigin(this);
    x += dx;
    y += dy;
    RECT rect{before.x, before.y, before.x + width, before.y + height};
    if (dx < 0)
        rect.left += dx;
    else
        rect.right += dx;
    if (dy < 0)
        rect.top += dy;
    else
        rect.bottom += dy;
    rect.right += 1;
    rect.bottom += 1;
    InvalidateRect(surfaceWindow, &rect, TRUE);
}

bool Window::HitTest(int px, int py) {
    if (!region)
        return false;
    // Every move is hit-tested against many windows, and a GDI+ region test
    // is slow (about 14 microseconds under Wine): a rectangle is answered here.
    if (region.get() == rectRegion_)
        return px >= rect_.left && px < rect_.right && py >= rect_.top && py < rect_.bottom;
    BOOL inside = FALSE;
    if (region.Check(GdipIsVisibleRegionPointI(region.get(), px, py, nullptr, &inside)) != Ok)
        return false;
    return inside != FALSE;
}

void Window::SetWindowTimer(int id, unsigned intervalMs) {
    SetTimer(surfaceWindow, id, intervalMs, nullptr);
    Tree().timers[id] = this;
}

void Window::KillWindowTimer(int id) {
    KillTimer(surfaceWindow, id);
    Tree().timers.erase(id);
}

void SetMouseCapture(Window* window) {
    TreeState& tree = Tree();
    if (window != tree.captureWindow) {
        Window* old = tree.captureWindow;
        tree.captureWindow = window;
        if (old)
            old->OnCaptureLost();
    }
    if (window)
        SetCapture(window->surfaceWindow);
    else
        ReleaseCapture();
}

void ReleaseMouseCapture() {
    TreeState& tree = Tree();
    Window* old = tree.captureWindow;
    tree.captureWindow = nullptr;
    if (old)
        old->OnCaptureLost();
    ReleaseCapture();
}

Window* CaptureWindow() {
    return Tree().captureWindow;
}

Window* HoverWindow() {
    return Tree().hoverWindow;
}

void ClearHoverWindow() {
    Tree().hoverWindow = nullptr;
}

void PaintTree(Window* window, int x, int y, int width, int height) {
    Canvas* canvas = window->canvas;
    if (!canvas)
        return;
    canvas->PushTranslation();
    if (canvas->graphics) {
        canvas->graphics.Check(GdipTranslateWorldTransform(
            canvas->graphics.get(), float(window->x), float(window->y), MatrixOrderAppend));
    }
    window->Paint();
    for (Window* child = window->firstChild; child; child = child->nextSibling)
        PaintTree(child, x - window->x, y - window->y, width, height);
    canvas->PopTranslation();
}

bool RouteButton(Window* root, int button, bool down, int x, int y, unsigned keyState) {
    if (button != 1)
        return false;
    auto deliver = [&](Window* window, int localX, int localY) {
        MouseEvent event = MakeEvent(localX, localY, keyState);
        TreeState& tree = Tree();
        if (down) {
            window->OnMouseDown(event);
            tree.pressedWindow = window->HitTest(localX, localY) ? window : nullptr;
        } else {
            window->OnMouseUp(event);
            if (tree.pressedWindow == window && window->HitTest(localX, localY))
                window->OnClick(event);
        }
        return window->parent != nullptr;
    };
    return Route(root, x, y, deliver);
}

bool RouteMove(Window* root, int x, int y, unsigned keyState) {
    auto deliver = [&](Window* window, int localX, int localY) {
        MouseEvent event = MakeEvent(localX, localY, keyState);
        TreeState& tree = Tree();
        if (tree.hoverWindow != window) {
            if (tree.hoverWindow)
                tree.hoverWindow->OnMouseLeave(event);
            window->OnMouseEnter(event);
            tree.hoverWindow = window;
        }
        window->OnMouseMove(event);
        return window->parent != nullptr;
    };
    return Route(root, x, y, deliver);
}

bool RouteWheel(Window* root, int x, int y, unsigned keyState) {
    auto deliver = [&](Window* window, int localX, int localY) {
        MouseEvent event = MakeEvent(localX, localY, keyState);
        event.wheel = short(HIWORD(keyState)) / WHEEL_DELTA;
        window->OnMouseWheel(event);
        return true;
    };
    return Route(root, x, y, deliver);
}

bool DispatchTimer(int id) {
    auto found = Tree().timers.find(id);
    if (found == Tree().timers.end())
        return false;
    found->second->OnTimer(id);
    return true;
}

void KillAllWindowTimers() {
    for (auto& [id, window] : Tree().timers)
        KillTimer(window->surfaceWindow, id);
    Tree().timers.clear();
}
