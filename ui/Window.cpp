// The window tree: links, geometry, invalidation, capture, input routing,
// timers and painting; see Window.h.
#include "ui/Window.h"

#include "base/Threads.h"
#include "gfx/Canvas.h"

#include <algorithm>
#include <cmath>

using namespace gdip;

namespace {

// A window's timer runs under its own id on the list view unless another
// window's timer already does; then under the first free id from here, far
// above the small ids that windows and the list view itself use.
constexpr int kSpareTimerIds = 0x4F520000;

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

// A place of the tree in list view pixels: the nearest whole one.
int Scaled(int coordinate, float scale) {
    return scale == 1 ? coordinate : int(std::lround(double(coordinate) * scale));
}

// A rectangle of list view pixels in the tree's, grown to whole pixels.
RECT Unscaled(const RECT& rect, float scale) {
    if (scale == 1)
        return rect;
    return RECT{LONG(std::floor(rect.left / scale)), LONG(std::floor(rect.top / scale)),
                LONG(std::ceil(rect.right / scale)), LONG(std::ceil(rect.bottom / scale))};
}

// A rectangle of the tree in list view pixels, grown to whole pixels.
RECT ScaledOut(const RECT& rect, float scale) {
    if (scale == 1)
        return rect;
    return RECT{LONG(std::floor(rect.left * scale)), LONG(std::floor(rect.top * scale)),
                LONG(std::ceil(rect.right * scale)), LONG(std::ceil(rect.bottom * scale))};
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

int KeepInside(int position, int size, int room) {
    if (room <= size || position < 0)
        return 0;
    return position > room - size ? room - size : position;
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
    if (parent == root)
        root->DropLayer(this);
    // Last, once unlinked: a holder that hides itself on losing the capture
    // finds itself hidden already.
    if (root->CaptureWithin(this))
        root->ReleaseMouseCapture();
}

void Window::Invalidate() {
    InvalidatePart(RECT{0, 0, width, height});
}

void Window::InvalidatePart(const RECT& part) {
    if (!attached || IsRectEmpty(&part) || !OnOwnThread(root->OwnerThread(), "Invalidate"))
        return;
    // Marked before the paint is asked for: the paint must find it stale.
    root->MarkStale(this, part);
    POINT origin = SurfaceOrigin(this);
    RECT rect = part;
    OffsetRect(&rect, origin.x, origin.y);
    rect = root->ToSurface(rect);
    // No erase: the surface composes each rectangle whole, wallpaper first,
    // and under Wine the WM_ERASEBKGND alone costs as much as a third of
    // a small repaint (it passes the host's message hook).
    InvalidateRect(surfaceWindow, &rect, FALSE);
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
    const RECT surface = root->ToSurface(rect);
    InvalidateRect(surfaceWindow, &surface, FALSE);
    // A top-level window carries its layer along unchanged; anywhere else
    // both places change in the ancestor's layer.
    if (parent && parent != root) {
        OffsetRect(&rect, -(before.x - (x - dx)), -(before.y - (y - dy)));
        root->MarkStale(parent, rect);
    }
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
    root->SetTreeTimer(this, id, intervalMs);
}

void Window::KillWindowTimer(int id) {
    root->KillTreeTimer(this, id);
}

namespace {

// (x, y, width, height) is the part being painted, in the window's parent's
// coordinates: a window that does not meet it is not asked to paint, though
// its children still may.
void PaintWindow(Window* window, int x, int y, int width, int height) {
    Canvas* canvas = window->canvas;
    canvas->PushTranslation();
    if (canvas->graphics) {
        // Prepended: the move is in the tree's pixels, before the scale. A
        // top-level window lands on the whole pixel its layer lies at.
        float dx = float(window->x), dy = float(window->y);
        const float scale = window->root->scale();
        if (scale != 1 && window->parent == window->root) {
            dx = float(Scaled(window->x, scale)) / scale;
            dy = float(Scaled(window->y, scale)) / scale;
        }
        canvas->graphics.Check(
            GdipTranslateWorldTransform(canvas->graphics.get(), dx, dy, MatrixOrderPrepend));
    }
    if (window->x < x + width && x < window->x + window->width && window->y < y + height &&
        y < window->y + window->height)
        window->Paint();
    for (Window* child = window->firstChild; child; child = child->nextSibling)
        PaintWindow(child, x - window->x, y - window->y, width, height);
    canvas->PopTranslation();
}

}  // namespace

RootWindow::RootWindow(int width, int height, Canvas* canvas, HWND surfaceWindow)
    : Window(width, height, canvas, surfaceWindow), ownerThread_(GetCurrentThreadId()) {}

void RootWindow::Fit(int clientWidth, int clientHeight, float scale) {
    if (!(scale > 0))
        scale = 1;
    const bool rescaled = scale != scale_;
    scale_ = scale;
    if (rescaled && canvas)
        canvas->SetScale(scale);
    const int newWidth = std::max(0, ToTree(clientWidth));
    const int newHeight = std::max(0, ToTree(clientHeight));
    // An empty root has no proportion to keep: its children stay where they are.
    const double ratioX = width > 0 ? double(newWidth) / double(width) : 1.0;
    const double ratioY = height > 0 ? double(newHeight) / double(height) : 1.0;
    width = newWidth;
    height = newHeight;
    UpdateRegion();
    for (Window* child = firstChild; child; child = child->nextSibling) {
        child->x = KeepInside(int(double(child->x) * ratioX), child->width, width);
        child->y = KeepInside(int(double(child->y) * ratioY), child->height, height);
    }
    // Every layer stale, and drawn at the new size when the scale changed.
    Invalidate();
}

RECT RootWindow::ToSurface(RECT rect) const {
    if (scale_ == 1)
        return rect;
    // A pixel more each way: a top-level window's layer lies at its place
    // rounded, what is drawn directly at its place scaled.
    rect = ScaledOut(rect, scale_);
    InflateRect(&rect, 1, 1);
    return rect;
}

int RootWindow::ToTree(int coordinate) const {
    return scale_ == 1 ? coordinate : int(std::floor(coordinate / double(scale_)));
}

int RootWindow::ScaledLength(int length) const {
    return scale_ == 1 ? length : int(std::ceil(length * double(scale_)));
}

RootWindow::~RootWindow() {
    ReleaseMouseCapture();
    for (auto& [nativeId, timer] : timers_)
        KillTimer(surfaceWindow, UINT_PTR(nativeId));
}

void RootWindow::Forget(Window* window) {
    DropLayer(window);
    if (CaptureWithin(window)) {
        Window* holder = captureWindow_;
        captureWindow_ = nullptr;
        LetGoOfSystemCapture();
        // The going window itself is past hearing anything.
        if (holder != window)
            holder->OnCaptureLost();
    }
    if (hoverWindow_ == window)
        hoverWindow_ = nullptr;
    // A later window may be built at this address: it must not inherit the
    // press, nor a timer that would call into freed memory.
    if (pressedWindow_ == window)
        pressedWindow_ = nullptr;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.window == window) {
            KillTimer(surfaceWindow, UINT_PTR(it->first));
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool RootWindow::CaptureWithin(const Window* window) const {
    // A popup lies under the root, and goes with its owner.
    for (const Window* w = captureWindow_; w; w = w->ownedBy ? w->ownedBy : w->parent) {
        if (w == window)
            return true;
    }
    return false;
}

void RootWindow::LetGoOfSystemCapture() {
    // Another window may have it by now, and ReleaseCapture would take it
    // from that one.
    if (GetCapture() != surfaceWindow)
        return;
    releasing_ = true;
    ReleaseCapture();
    releasing_ = false;
}

void RootWindow::SetMouseCapture(Window* window) {
    if (!window) {
        ReleaseMouseCapture();
        return;
    }
    if (window != captureWindow_) {
        Window* old = captureWindow_;
        captureWindow_ = window;
        if (old)
            old->OnCaptureLost();
    }
    SetCapture(surfaceWindow);
}

void RootWindow::ReleaseMouseCapture() {
    Window* old = captureWindow_;
    // With no holder, a capture the list view has is its own (a selection
    // drag): not the tree's to end.
    if (!old)
        return;
    captureWindow_ = nullptr;
    LetGoOfSystemCapture();
    old->OnCaptureLost();
}

void RootWindow::CaptureLost() {
    if (releasing_)
        return;
    pressTaken_ = false;
    pressedWindow_ = nullptr;
    Window* old = captureWindow_;
    captureWindow_ = nullptr;
    if (old)
        old->OnCaptureLost();
}

void RootWindow::SetTreeTimer(Window* window, int id, unsigned intervalMs) {
    // Set again: the same timer starts over.
    for (auto& [nativeId, timer] : timers_) {
        if (timer.window == window && timer.id == id) {
            SetTimer(surfaceWindow, UINT_PTR(nativeId), intervalMs, nullptr);
            return;
        }
    }
    int nativeId = id;
    if (timers_.count(nativeId)) {
        nativeId = kSpareTimerIds;
        while (timers_.count(nativeId))
            ++nativeId;
    }
    SetTimer(surfaceWindow, UINT_PTR(nativeId), intervalMs, nullptr);
    timers_[nativeId] = TreeTimer{window, id};
}

void RootWindow::KillTreeTimer(Window* window, int id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.window == window && it->second.id == id) {
            KillTimer(surfaceWindow, UINT_PTR(it->first));
            timers_.erase(it);
            return;
        }
    }
}

RootWindow::Retained* RootWindow::FindRetained(const Window* window) const {
    for (const auto& entry : layers_) {
        if (entry->window == window)
            return entry.get();
    }
    return nullptr;
}

const Layer* RootWindow::LayerOf(const Window* window) const {
    Retained* entry = FindRetained(window);
    return entry && !entry->layer.empty() ? &entry->layer : nullptr;
}

void RootWindow::DropLayer(const Window* window) {
    if (!OnOwnThread(ownerThread_, "DropLayer"))
        return;
    for (auto it = layers_.begin(); it != layers_.end(); ++it) {
        if ((*it)->window == window) {
            layers_.erase(it);
            return;
        }
    }
}

void RootWindow::MarkStale(const Window* window, RECT part) {
    if (!OnOwnThread(ownerThread_, "MarkStale"))
        return;
    if (window == this) {
        ++generation_;
        for (auto& entry : layers_)
            entry->stale.assign(1, RECT{0, 0, entry->window->width, entry->window->height});
        return;
    }
    const Window* top = window;
    while (top->parent && top->parent != this) {
        OffsetRect(&part, top->x, top->y);
        top = top->parent;
    }
    Retained* entry = top->parent ? FindRetained(top) : nullptr;
    // Without a layer there is nothing stale: its first paint draws it all.
    if (entry)
        AddStalePart(entry->stale, part);
}

bool RootWindow::Refresh(Window* window, Retained& entry) {
    Layer& layer = entry.layer;
    const int layerWidth = ScaledLength(window->width);
    const int layerHeight = ScaledLength(window->height);
    if (layer.width() != layerWidth || layer.height() != layerHeight) {
        if (!layer.Resize(layerWidth, layerHeight))
            return false;
        entry.stale.assign(1, RECT{0, 0, window->width, window->height});
    }
    // Taken first: a window that invalidates while it paints is drawn
    // again at the next paint, not forgotten.
    std::vector<RECT> parts;
    parts.swap(entry.stale);
    for (RECT& part : parts)
        part = ScaledOut(part, scale_);
    // PaintWindow adds the window's place back: its origin lands on the
    // layer's.
    canvas->RedrawParts(layer, parts, -float(Scaled(window->x, scale_)),
                        -float(Scaled(window->y, scale_)),
                        [&](const RECT& part) {
                            const RECT tree = Unscaled(part, scale_);
                            PaintWindow(window, tree.left + window->x, tree.top + window->y,
                                        tree.right - tree.left, tree.bottom - tree.top);
                        });
    return true;
}

void RootWindow::PaintDirectly(Window* window, const RECT& update) {
    GraphicsObject& graphics = canvas->graphics;
    // The clip is of the world, the tree's pixels.
    graphics.Check(GdipSetClipRect(graphics.get(), update.left / scale_, update.top / scale_,
                                   (update.right - update.left) / scale_,
                                   (update.bottom - update.top) / scale_, CombineModeReplace));
    const RECT tree = Unscaled(update, scale_);
    PaintWindow(window, tree.left, tree.top, tree.right - tree.left, tree.bottom - tree.top);
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
    graphics.Check(GdipResetClip(graphics.get()));
}

void RootWindow::PaintTree(int x, int y, int width, int height) {
    if (!canvas || !OnOwnThread(ownerThread_, "PaintTree"))
        return;
    RECT update{x, y, x + width, y + height};
    if (!retained) {
        const RECT tree = Unscaled(update, scale_);
        PaintWindow(this, tree.left, tree.top, tree.right - tree.left, tree.bottom - tree.top);
        return;
    }
    // The root itself draws nothing; its children each come from a layer.
    for (Window* child = firstChild; child; child = child->nextSibling) {
        const int left = Scaled(child->x, scale_), top = Scaled(child->y, scale_);
        RECT place{left, top, left + ScaledLength(child->width),
                   top + ScaledLength(child->height)};
        RECT part{};
        if (!IntersectRect(&part, &place, &update))
            continue;
        Retained* entry = FindRetained(child);
        if (!entry) {
            layers_.push_back(std::make_unique<Retained>());
            entry = layers_.back().get();
            entry->window = child;
        }
        if (!Refresh(child, *entry)) {
            DropLayer(child);
            PaintDirectly(child, update);
            continue;
        }
        OffsetRect(&part, -left, -top);
        entry->layer.CopyTo(canvas->memoryDC(), left, top, part);
    }
}

bool RootWindow::RouteButton(int button, bool down, int x, int y, unsigned keyState) {
    if (button != 1)
        return false;
    if (!down && !pressTaken_ && !captureWindow_)
        return false;
    x = ToTree(x);
    y = ToTree(y);
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
    if (down) {
        pressTaken_ = Route(this, x, y, deliver);
        return pressTaken_;
    }
    bool taken = Route(this, x, y, deliver);
    pressTaken_ = false;
    pressedWindow_ = nullptr;
    return taken;
}

bool RootWindow::RouteButtonMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // Signed: with the capture the pointer may be left of or above the list view.
    int x = short(LOWORD(lParam));
    int y = short(HIWORD(lParam));
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        return RouteButton(1, true, x, y, unsigned(wParam));
    case WM_LBUTTONUP:
        return RouteButton(1, false, x, y, unsigned(wParam));
    default:
        return false;
    }
}

bool RootWindow::RouteMove(int x, int y, unsigned keyState) {
    x = ToTree(x);
    y = ToTree(y);
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
    x = ToTree(x);
    y = ToTree(y);
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
    TreeTimer timer = found->second;
    timer.window->OnTimer(timer.id);
    return true;
}
