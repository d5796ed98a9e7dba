// The window tree: links, geometry, invalidation, capture, input routing,
// timers and painting; see Window.h.
#include "ui/Window.h"

#include "gfx/Canvas.h"

using namespace gdip;

namespace {

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
    Window* capture = window->root->CaptureWindow();
    if (capture && capture != window)
        return false;
    if (capture != window && !window->HitTest(localX, localY))
        return false;
    return deliver(window, localX, localY);
}

}  // namespace

Window::Window(int x, int y, int width, int height, Window* parent)
    : x(x),
      y(y),
      width(width),
      height(height),
      parent(parent),
      root(parent->root),
      canvas(parent->canvas),
      surfaceWindow(parent->surfaceWindow) {
    // Placed at (x, y) until the concrete window calls UpdateRegion.
    SetRectRegion(x, y, width, height);
}

Window::Window(int width, int height, Canvas* canvas, HWND surfaceWindow)
    : attached(true),
      x(0),
      y(0),
      width(width),
      height(height),
      parent(nullptr),
      root(static_cast<RootWindow*>(this)),
      canvas(canvas),
      surfaceWindow(surfaceWindow) {
    SetRectRegion(0, 0, width, height);
}

Window::~Window() {
    if (root != this)
        root->Forget(this);
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
    root->timers_[id] = this;
}

void Window::KillWindowTimer(int id) {
    KillTimer(surfaceWindow, id);
    root->timers_.erase(id);
}

namespace {

void PaintWindow(Window* window, int x, int y, int width, int height) {
    Canvas* canvas = window->canvas;
    canvas->PushTranslation();
    if (canvas->graphics) {
        canvas->graphics.Check(GdipTranslateWorldTransform(
            canvas->graphics.get(), float(window->x), float(window->y), MatrixOrderAppend));
    }
    window->Paint();
    for (Window* child = window->firstChild; child; child = child->nextSibling)
        PaintWindow(child, x - window->x, y - window->y, width, height);
    canvas->PopTranslation();
}

}  // namespace

RootWindow::RootWindow(int width, int height, Canvas* canvas, HWND surfaceWindow)
    : Window(width, height, canvas, surfaceWindow) {}

RootWindow::~RootWindow() {
    if (captureWindow_)
        ReleaseMouseCapture();
    for (auto& [id, window] : timers_)
        KillTimer(surfaceWindow, id);
}

void RootWindow::Forget(Window* window) {
    if (captureWindow_ == window)
        captureWindow_ = nullptr;
    if (hoverWindow_ == window)
        hoverWindow_ = nullptr;
    // A later window may be built at this address: it must not inherit the
    // press, nor a timer that would call into freed memory.
    if (pressedWindow_ == window)
        pressedWindow_ = nullptr;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second == window) {
            KillTimer(surfaceWindow, it->first);
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void RootWindow::SetMouseCapture(Window* window) {
    if (window != captureWindow_) {
        Window* old = captureWindow_;
        captureWindow_ = window;
        if (old)
            old->OnCaptureLost();
    }
    if (window)
        SetCapture(surfaceWindow);
    else
        ReleaseCapture();
}

void RootWindow::ReleaseMouseCapture() {
    Window* old = captureWindow_;
    captureWindow_ = nullptr;
    if (old)
        old->OnCaptureLost();
    ReleaseCapture();
}

void RootWindow::PaintTree(int x, int y, int width, int height) {
    if (canvas)
        PaintWindow(this, x, y, width, height);
}

bool RootWindow::RouteButton(int button, bool down, int x, int y, unsigned keyState) {
    if (button != 1)
        return false;
    auto deliver = [&](Window* window, int localX, int localY) {
        MouseEvent event = MakeEvent(localX, localY, keyState);
        if (down) {
            window->OnMouseDown(event);
            pressedWindow_ = window->HitTest(localX, localY) ? window : nullptr;
        } else {
            window->OnMouseUp(event);
            if (pressedWindow_ == window && window->HitTest(localX, localY))
                window->OnClick(event);
        }
        return window->parent != nullptr;
    };
    return Route(this, x, y, deliver);
}

bool RootWindow::RouteMove(int x, int y, unsigned keyState) {
    auto deliver = [&](Window* window, int localX, int localY) {
        MouseEvent event = MakeEvent(localX, localY, keyState);
        if (hoverWindow_ != window) {
            if (hoverWindow_)
                hoverWindow_->OnMouseLeave(event);
            window->OnMouseEnter(event);
            hoverWindow_ = window;
        }
        window->OnMouseMove(event);
        return window->parent != nullptr;
    };
    return Route(this, x, y, deliver);
}

bool RootWindow::RouteWheel(int x, int y, unsigned keyState) {
    auto deliver = [&](Window* window, int localX, int localY) {
        MouseEvent event = MakeEvent(localX, localY, keyState);
        event.wheel = short(HIWORD(keyState)) / WHEEL_DELTA;
        window->OnMouseWheel(event);
        return true;
    };
    return Route(this, x, y, deliver);
}

bool RootWindow::DispatchTimer(int id) {
    auto found = timers_.find(id);
    if (found == timers_.end())
        return false;
    found->second->OnTimer(id);
    return true;
}
