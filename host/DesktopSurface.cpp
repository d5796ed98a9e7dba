// Attach, detach, the subclass procedure and paint composition; see
// DesktopSurface.h.
#include "host/DesktopSurface.h"

#include "base/EventListener.h"
#include "host/DisplayScale.h"
#include "ui/Delivery.h"
#include "widget/Widget.h"

#include <commctrl.h>
#include <windowsx.h>

using namespace gdip;

namespace {

constexpr wchar_t kInstanceProperty[] = L"instance";
constexpr int kWallpaperPathUnits = 260;
// A host that does not answer must not freeze the desktop.
constexpr UINT kHostReplyTimeoutMs = 2000;

LRESULT CallPrevious(const DesktopInstance* instance, UINT message, WPARAM wParam,
                     LPARAM lParam) {
    if (!instance->previousProc)
        return DefWindowProcW(instance->listView, message, wParam, lParam);
    return CallWindowProcW(instance->previousProc, instance->listView, message, wParam, lParam);
}

bool PointOnIcon(HWND listView, POINT point) {
    int count = int(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    for (int item = 0; item < count; ++item) {
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        if (SendMessageW(listView, LVM_GETITEMRECT, item, LPARAM(&bounds)) &&
            PtInRect(&bounds, point))
            return true;
    }
    return false;
}

ARGB BackgroundColour() {
    COLORREF colour = GetSysColor(COLOR_BACKGROUND);
    return 0xFF000000u | (ARGB(GetRValue(colour)) << 16) | (ARGB(GetGValue(colour)) << 8) |
           GetBValue(colour);
}

// Reads a REG_SZ value of HKCU\Control Panel\Desktop; fallback when it is
// missing, of another type or empty.
wchar_t DesktopValueFirstChar(const wchar_t* name, wchar_t fallback) {
    wchar_t value[16] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        return fallback;
    LSTATUS status =
        RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ || size < sizeof(wchar_t))
        return fallback;
    return value[0];
}

void ScreenSize(HWND window, int& width, int& height) {
    gdi::WindowDC dc(window);
    width = GetDeviceCaps(dc.get(), HORZRES);
    height = GetDeviceCaps(dc.get(), VERTRES);
}

WallpaperMode ReadWallpaperMode() {
    if (DesktopValueFirstChar(L"WallpaperStyle", L'1') == L'2')
        return WallpaperMode::Stretched;
    if (DesktopValueFirstChar(L"TileWallpaper", L'0') != L'1')
        return WallpaperMode::Centred;
    return WallpaperMode::Tiled;
}

// Prepares the wallpaper for legacy painting when the path or the screen size
// changed. Returns false when there is no picture to draw.
bool PrepareWallpaper(HWND listView, Canvas& canvas, LegacyWallpaper& wallpaper) {
    ScreenSize(listView, wallpaper.screenWidth, wallpaper.screenHeight);
    wchar_t path[kWallpaperPathUnits] = {};
    if (!SystemParametersInfoW(SPI_GETDESKWALLPAPER, kWallpaperPathUnits, path, 0))
        path[0] = 0;
    path[kWallpaperPathUnits - 1] = 0;

    if (wallpaper.bitmap && wallpaper.path == path &&
        wallpaper.screenWidth == wallpaper.preparedScreenWidth &&
        wallpaper.screenHeight == wallpaper.preparedScreenHeight)
        return true;

    if (path[0] == 0) {
        wallpaper.bitmap.reset();
        wallpaper.path.clear();
        return false;
    }

    wallpaper.mode = ReadWallpaperMode();

    GpBitmap* loaded = nullptr;
    if (GdipCreateBitmapFromFile(path, &loaded) != Ok) {
        GdipDisposeImage(loaded);
        return false;
    }
    BitmapPtr image(loaded);

    if (wallpaper.mode == WallpaperMode::Stretched) {
        GpBitmap* stretched = nullptr;
        if (GdipCreateBitmapFromScan0(wallpaper.screenWidth, wallpaper.screenHeight, 0,
                                      PixelFormat32bppRGB, nullptr, &stretched) != Ok)
            return false;
        BitmapPtr screenSized(stretched);
        GpGraphics* context = nullptr;
        if (GdipGetImageGraphicsContext(stretched, &context) == Ok) {
            GraphicsPtr owner(context);
            GdipDrawImageRectI(context, image.get(), 0, 0, wallpaper.screenWidth,
                               wallpaper.screenHeight);
        }
        image = std::move(screenSized);
    }

    UINT width = 0, height = 0;
    GdipGetImageWidth(image.get(), &width);
    GdipGetImageHeight(image.get(), &height);
    GpCachedBitmap* cached = nullptr;
    if (width == 0 || height == 0 ||
        GdipCreateCachedBitmap(image.get(), canvas.graphics.get(), &cached) != Ok)
        return false;

    wallpaper.width = int(width);
    wallpaper.height = int(height);
    wallpaper.bitmap.reset(cached);
    wallpaper.path = path;
    wallpaper.preparedScreenWidth = wallpaper.screenWidth;
    wallpaper.preparedScreenHeight = wallpaper.screenHeight;
    return true;
}

void DrawWallpaper(HWND listView, Embedding& embedding) {
    GraphicsObject& graphics = embedding.canvas.graphics;
    if (!graphics)
        return;
    LegacyWallpaper& wallpaper = embedding.wallpaper;
    if (!PrepareWallpaper(listView, embedding.canvas, wallpaper) || !wallpaper.bitmap) {
        graphics.Check(GdipGraphicsClear(graphics.get(), BackgroundColour()));
        return;
    }
    GpCachedBitmap* bitmap = wallpaper.bitmap.get();
    switch (wallpaper.mode) {
    case WallpaperMode::Stretched:
        graphics.Check(GdipDrawCachedBitmap(graphics.get(), bitmap, 0, 0));
        break;
    case WallpaperMode::Centred:
        graphics.Check(GdipGraphicsClear(graphics.get(), BackgroundColour()));
        graphics.Check(GdipDrawCachedBitmap(graphics.get(), bitmap,
                                            (wallpaper.screenWidth - wallpaper.width) / 2,
                                            (wallpaper.screenHeight - wallpaper.height) / 2));
        break;
    case WallpaperMode::Tiled:
        for (int x = 0; x < wallpaper.screenWidth; x += wallpaper.width)
            for (int y = 0; y < wallpaper.screenHeight; y += wallpaper.height)
                graphics.Check(GdipDrawCachedBitmap(graphics.get(), bitmap, x, y));
        break;
    }
}

// The list view's client area changed (screens added, removed or resized),
// or the screens' scale may have: the back buffer and the root follow it,
// the root's children keep their relative places and stay wholly inside.
void OnClientResized(Embedding& embedding) {
    embedding.canvas.RebuildBackBuffer();
    embedding.client = SIZE{-1, -1};  // fitted again whatever it finds
    embedding.FitToDisplay();
}

// WM_DPICHANGED and the messages that tell a child window of it.
constexpr UINT kDpiChanged = 0x02E0;
constexpr UINT kDpiChangedBeforeParent = 0x02E2;
constexpr UINT kDpiChangedAfterParent = 0x02E3;

// The messages this procedure answers itself; false passes one on.
bool HandleMessage(DesktopInstance* instance, HWND window, UINT message, WPARAM wParam,
                   LPARAM lParam, LRESULT& result) {
    Embedding* embedding = instance->embedding.get();
    RootWindow* root = embedding ? &embedding->root : nullptr;
    Widget* widget = embedding ? embedding->widget.get() : nullptr;
    result = 0;
    switch (message) {
    case WM_PAINT: {
        // Without a canvas the list view paints the desktop as it would alone,
        // erasing too what the panel invalidated without asking for that.
        if (!embedding || !embedding->canvas.graphics) {
            if (embedding) {
                gdi::Region update(CreateRectRgn(0, 0, 0, 0));
                if (update && GetUpdateRgn(window, update.get(), FALSE) != ERROR)
                    InvalidateRgn(window, update.get(), TRUE);
            }
            return false;
        }
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window, &paint);
        if (dc)
            ComposePaint(instance, paint.rcPaint, dc);
        EndPaint(window, &paint);
        return true;
    }
    case WM_ERASEBKGND:
        return true;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE && root)
            root->SetMouseCapture(nullptr);
        return false;
    case WM_KILLFOCUS:
        if (root)
            root->SetMouseCapture(nullptr);
        return false;
    case WM_DISPLAYCHANGE:
        if (embedding)
            OnClientResized(*embedding);
        return false;
    case WM_SIZE:
        if (embedding && (int(LOWORD(lParam)) != embedding->client.cx ||
                          int(HIWORD(lParam)) != embedding->client.cy))
            OnClientResized(*embedding);
        return false;
    case kDpiChanged:
        // The new dpi is the message's: the window's own may not say so yet.
        if (embedding)
            embedding->FitToDisplay(LOWORD(wParam));
        return false;
    case kDpiChangedBeforeParent:
    case kDpiChangedAfterParent:
    case WM_SETTINGCHANGE:
        if (embedding)
            embedding->FitToDisplay();
        return false;
    case WM_TIMER:
        return root && root->DispatchTimer(int(wParam));
    case WM_MOUSEMOVE: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (point.x == instance->lastMouse.x && point.y == instance->lastMouse.y)
            return true;
        instance->lastMouse = point;
        if (!root)
            return false;
        if (root->RouteMove(point.x, point.y, unsigned(wParam)))
            return true;
        root->ClearHoverWindow();
        HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
        if (GetCursor() != arrow)
            SetCursor(arrow);
        return false;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (PointOnIcon(window, point))
            return false;
        return root && root->RouteButtonMessage(message, wParam, lParam);
    }
    case WM_LBUTTONUP: {
        const bool taken = root && root->RouteButtonMessage(message, wParam, lParam);
        // A panel dragged onto another screen takes that screen's scale.
        if (taken && DpiFollowsScreen(window))
            embedding->FitToDisplay();
        return taken;
    }
    case WM_CAPTURECHANGED:
        // Another window took the capture, or the list view let go of its own.
        if (root)
            root->CaptureLost();
        return false;
    case WM_MOUSEWHEEL: {
        // Wheel positions are in screen coordinates, the tree's in the client's.
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &point);
        return root && root->RouteWheel(point.x, point.y, unsigned(wParam));
    }
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND)
            BroadcastEvent(IdleBegan, 0);
        else if (wParam == PBT_APMRESUMEAUTOMATIC)
            BroadcastEvent(IdleEnded, 0);
        return false;
    case HM_QUERY:
        // A widget whose host died is free for a new host to take over.
        result = embedding && HostAlive(instance) ? 1 : 0;
        return true;
    case DM_NETWORK_STATE:
        if (HostAlive(instance))
            PostMessageW(instance->hostWindow, DM_NETWORK_STATE, wParam, lParam);
        return true;
    case DM_CLOSING: {
        SetClosingRequested(true);
        DWORD_PTR ignored = 0;
        if (HostAlive(instance))
            SendMessageTimeoutW(instance->hostWindow, DM_CLOSING, 0, 0, SMTO_ABORTIFHUNG,
                                kHostReplyTimeoutMs, &ignored);
        return true;
    }
    case DM_CONTENT:
    case DM_DATA:
        ReceiveWindowMessage(message, wParam, lParam);
        return true;
    case DM_IS_VISIBLE:
        result = widget && widget->attached ? 1 : 0;
        return true;
    case DM_TOGGLE:
        if (widget)
            widget->OnCommand(Widget::ToggleShown, 0);
        return true;
    default:
        return false;
    }
}

}  // namespace

void SetHost(DesktopInstance* instance, HWND hostWindow) {
    instance->hostWindow = hostWindow;
    instance->hostProcess.reset();
    DWORD process = 0;
    if (hostWindow && GetWindowThreadProcessId(hostWindow, &process) && process)
        instance->hostProcess.reset(OpenProcess(SYNCHRONIZE, FALSE, process));
}

bool HostAlive(const DesktopInstance* instance) {
    if (!instance->hostWindow)
        return true;
    if (!IsWindow(instance->hostWindow))
        return false;
    // The window handle may have been reused after its process ended.
    return !instance->hostProcess ||
           WaitForSingleObject(instance->hostProcess.get(), 0) == WAIT_TIMEOUT;
}

namespace {

// Takes the list view's cursor and double buffering and makes the widget.
void Arm(DesktopInstance* instance) {
    HWND listView = instance->listView;
    instance->passThrough = false;
    instance->detachPending = false;
    instance->savedClassCursor = SetClassLongPtrW(listView, GCLP_HCURSOR, 0);
    instance->savedExStyle = DWORD(SendMessageW(listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 instance->savedExStyle & ~DWORD(LVS_EX_DOUBLEBUFFER));
    // A widget attached after an earlier one was closed starts afresh.
    SetClosingRequested(false);
    try {
        instance->embedding = std::make_unique<Embedding>(listView);
    } catch (...) {
        // Out of memory or a system failure: the list view carries on alone.
        instance->embedding.reset();
    }
}

void FinishDetach(DesktopInstance* instance) {
    instance->detachPending = false;
    Detach(instance);
    if (instance->onDetached)
        instance->onDetached(instance);
}

}  // namespace

bool Attach(DesktopInstance* instance) {
    HWND listView = instance->listView;

    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    instance->legacyPaint = version.dwMajorVersion < 6;

    SetPropW(listView, kInstanceProperty, instance);
    LONG_PTR previous =
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DesktopSubclassProc));
    if (previous == 0) {
        RemovePropW(listView, kInstanceProperty);
        return false;
    }
    instance->previousProc = reinterpret_cast<WNDPROC>(previous);
    Arm(instance);
    return true;
}

void Rearm(DesktopInstance* instance) {
    if (!instance->embedding)
        Arm(instance);
}

bool Detach(DesktopInstance* instance) {
    HWND listView = instance->listView;
    if (!IsWindow(listView)) {
        // Destroyed: its procedures and properties went with it.
        instance->embedding.reset();
        instance->previousProc = nullptr;
        instance->passThrough = false;
        return true;
    }
    if (!instance->passThrough) {
        instance->embedding.reset();
        if (instance->savedClassCursor)
            SetClassLongPtrW(listView, GCLP_HCURSOR, LONG_PTR(instance->savedClassCursor));
        // Sent through this procedure, which passes it on to the saved one.
        if (instance->savedExStyle)
            SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, instance->savedExStyle);
        instance->savedClassCursor = 0;
        instance->savedExStyle = 0;
    }
    // Our saved procedure may only go back while ours is the list view's
    // own: otherwise the procedure above ours would be cut out of the chain,
    // and would call into this module after it is gone.
    if (instance->previousProc &&
        GetWindowLongPtrW(listView, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(DesktopSubclassProc)) {
        instance->passThrough = true;
        return false;
    }
    instance->passThrough = false;
    if (instance->previousProc) {
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(instance->previousProc));
        instance->previousProc = nullptr;
    }
    RemovePropW(listView, kInstanceProperty);
    return true;
}

LRESULT CALLBACK DesktopSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* instance = static_cast<DesktopInstance*>(GetPropW(window, kInstanceProperty));
    if (!instance)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The shell rebuilds its desktop view: let everything go with it.
        WNDPROC previous = instance->previousProc;
        if (instance->dispatchDepth == 0) {
            Detach(instance);
            instance->passThrough = false;
            RemovePropW(window, kInstanceProperty);
            if (instance->onDetached)
                instance->onDetached(instance);
        } else {
            instance->detachPending = true;
        }
        return previous ? CallWindowProcW(previous, window, message, wParam, lParam)
                        : DefWindowProcW(window, message, wParam, lParam);
    }
    if (instance->passThrough)
        return CallPrevious(instance, message, wParam, lParam);

    ++instance->dispatchDepth;
    LRESULT result = 0;
    bool handled = false;
    try {
        handled = HandleMessage(instance, window, message, wParam, lParam, result);
    } catch (...) {
        // Nothing of ours may end the shell: the list view answers alone.
        handled = false;
        result = 0;
    }
    if (!handled)
        result = CallPrevious(instance, message, wParam, lParam);
    if (--instance->dispatchDepth == 0 && instance->detachPending)
        FinishDetach(instance);
    return result;
}

bool ComposePaint(DesktopInstance* instance, const RECT& update, HDC dc) {
    Embedding* embedding = instance->embedding.get();
    if (!embedding || !embedding->canvas.graphics)
        return false;
    Canvas& canvas = embedding->canvas;
    canvas.WaitForBackBuffer();
    GraphicsObject& graphics = canvas.graphics;
    int width = update.right - update.left;
    int height = update.bottom - update.top;

    gdi::Region clip(CreateRectRgnIndirect(&update));
    SelectClipRgn(canvas.memoryDC(), clip.get());
    SelectClipRgn(dc, clip.get());
    // GDI+ draws on the back buffer only for the legacy wallpaper and for
    // windows painted directly; the layers are copied with GDI.
    const bool direct = instance->legacyPaint || !embedding->root.retained;
    if (direct)
        graphics.Check(GdipSetClipHrgn(graphics.get(), clip.get(), CombineModeReplace));

    if (instance->legacyPaint) {
        // The wallpaper is of the list view's own pixels.
        graphics.Check(GdipResetWorldTransform(graphics.get()));
        DrawWallpaper(instance->listView, *embedding);
        canvas.PopTranslation();
    }
    else
        CallPrevious(instance, WM_ERASEBKGND, WPARAM(canvas.memoryDC()), 0);

    // The clip is of the world, the tree's pixels.
    const float scale = embedding->root.scale();
    if (direct)
        graphics.Check(GdipSetClipRect(graphics.get(), update.left / scale, update.top / scale,
                                       width / scale, height / scale, CombineModeReplace));
    embedding->root.PaintTree(update.left, update.top, width, height);
    // The list view draws into the same DC next; GDI+ must be done with it.
    if (direct)
        graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));

    CallPrevious(instance, WM_PRINTCLIENT, WPARAM(canvas.memoryDC()), PRF_CLIENT);
    BitBlt(dc, update.left, update.top, width, height, canvas.memoryDC(), update.left,
           update.top, SRCCOPY);

    if (direct)
        graphics.Check(GdipResetClip(graphics.get()));
    SelectClipRgn(canvas.memoryDC(), nullptr);
    return true;
}
