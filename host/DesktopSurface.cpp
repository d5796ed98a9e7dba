// Attach, detach, the subclass procedure and paint composition; see
// DesktopSurface.h.
#include "host/DesktopSurface.h"

#include "host/HostBridge.h"
#include "stats/EventListener.h"
#include "ui/Canvas.h"
#include "ui/Window.h"
#include "widget/Widget.h"

#include <commctrl.h>
#include <windowsx.h>

#include <atomic>
#include <mutex>
#include <set>

using namespace gdip;

namespace {

constexpr wchar_t kInstanceProperty[] = L"instance";
constexpr int kWallpaperPathUnits = 260;
// A host that does not answer must not freeze the desktop.
constexpr UINT kHostReplyTimeoutMs = 2000;

// Process-wide state of the shell side.
struct SurfaceState {
    WNDPROC previousProc = nullptr;
    wchar_t wallpaperPath[kWallpaperPathUnits] = {};  // cache key of the prepared wallpaper
    int wallpaperScreenWidth = 0;
    int wallpaperScreenHeight = 0;
    POINT lastMouse{0, 0};
    std::atomic<LONG> closing{0};

    // WindowMessage records that a sender is waiting on. Only these are
    // delivered: the messages can come from any process, and a foreign
    // lParam must never be taken for a record of ours.
    std::mutex pendingLock;
    std::set<const WindowMessage*> pending;
};

SurfaceState& Surface() {
    static SurfaceState state;
    return state;
}

LRESULT CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = Surface().previousProc;
    if (!previous)
        return DefWindowProcW(window, message, wParam, lParam);
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

// Takes a pending record out of the set; false for anything we did not send.
bool ClaimWindowMessage(const WindowMessage* record) {
    SurfaceState& surface = Surface();
    std::lock_guard<std::mutex> lock(surface.pendingLock);
    return surface.pending.erase(record) == 1;
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
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return fallback;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ || size < sizeof(wchar_t))
        return fallback;
    return value[0];
}

// Prepares the wallpaper for legacy painting when the path or the screen size
// changed. Returns false when there is no picture to draw.
bool PrepareWallpaper(DesktopInstance* instance) {
    SurfaceState& surface = Surface();
    Canvas& canvas = *instance->canvas;
    {
        gdi::WindowDC dc(instance->listView);
        instance->screenWidth = GetDeviceCaps(dc.get(), HORZRES);
        instance->screenHeight = GetDeviceCaps(dc.get(), VERTRES);
    }
    wchar_t path[kWallpaperPathUnits] = {};
    if (!SystemParametersInfoW(SPI_GETDESKWALLPAPER, kWallpaperPathUnits, path, 0))
        path[0] = 0;
    path[kWallpaperPathUnits - 1] = 0;

    if (instance->wallpaper && wcscmp(path, surface.wallpaperPath) == 0 &&
        instance->screenWidth == surface.wallpaperScreenWidth &&
        instance->screenHeight == surface.wallpaperScreenHeight)
        return true;

    if (path[0] == 0) {
        instance->wallpaper.reset();
        surface.wallpaperPath[0] = 0;
        return false;
    }

    if (DesktopValueFirstChar(L"WallpaperStyle", L'1') == L'2')
        instance->wallpaperMode = 2;
    else if (DesktopValueFirstChar(L"TileWallpaper", L'0') != L'1')
        instance->wallpaperMode = 1;
    else
        instance->wallpaperMode = 0;

    GpBitmap* loaded = nullptr;
    if (GdipCreateBitmapFromFile(path, &loaded) != Ok) {
        GdipDisposeImage(loaded);
        return false;
    }
    BitmapPtr image(loaded);

    if (instance->wallpaperMode == 2) {
        GpBitmap* stretched = nullptr;
        if (GdipCreateBitmapFromScan0(instance->screenWidth, instance->screenHeight, 0,
                                      PixelFormat32bppRGB, nullptr, &stretched) != Ok)
            return false;
        BitmapPtr screenSized(stretched);
        GpGraphics* context = nullptr;
        if (GdipGetImageGraphicsContext(stretched, &context) == Ok) {
            GraphicsPtr owner(context);
            GdipDrawImageRectI(context, image.get(), 0, 0, instance->screenWidth,
                               instance->screenHeight);
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

    instance->wallpaperWidth = int(width);
    instance->wallpaperHeight = int(height);
    instance->wallpaper.reset(cached);
    wcsncpy(surface.wallpaperPath, path, kWallpaperPathUnits - 1);
    surface.wallpaperScreenWidth = instance->screenWidth;
    surface.wallpaperScreenHeight = instance->screenHeight;
    return true;
}

void DrawWallpaper(DesktopInstance* instance) {
    GraphicsObject& graphics = instance->canvas->graphics;
    if (!graphics)
        return;
    bool prepared = PrepareWallpaper(instance) && instance->wallpaper;
    GpCachedBitmap* bitmap = instance->wallpaper.get();
    if (!prepared) {
        graphics.Check(GdipGraphicsClear(graphics.get(), BackgroundColour()));
        return;
    }
    switch (instance->wallpaperMode) {
    case 2:
        graphics.Check(GdipDrawCachedBitmap(graphics.get(), bitmap, 0, 0));
        break;
    case 1:
        graphics.Check(GdipGraphicsClear(graphics.get(), BackgroundColour()));
        graphics.Check(GdipDrawCachedBitmap(
            graphics.get(), bitmap, (instance->screenWidth - instance->wallpaperWidth) / 2,
            (instance->screenHeight - instance->wallpaperHeight) / 2));
        break;
    default:
        for (int x = 0; x < instance->screenWidth; x += instance->wallpaperWidth)
            for (int y = 0; y < instance->screenHeight; y += instance->wallpaperHeight)
                graphics.Check(GdipDrawCachedBitmap(graphics.get(), bitmap, x, y));
        break;
    }
}

void OnDisplayChange(DesktopInstance* instance) {
    instance->canvas->RebuildBackBuffer();
    int width = 0, height = 0;
    {
        gdi::WindowDC dc(instance->listView);
        width = GetDeviceCaps(dc.get(), HORZRES);
        height = GetDeviceCaps(dc.get(), VERTRES);
    }
    Window* root = instance->root.get();
    // An empty root has no scale to keep: leave its children where they are.
    float scaleX = root->width > 0 ? float(width) / float(root->width) : 1.0f;
    float scaleY = root->height > 0 ? float(height) / float(root->height) : 1.0f;
    root->width = width;
    root->height = height;
    root->UpdateRegion();
    for (Window* child = root->firstChild; child; child = child->nextSibling) {
        child->x = int(float(child->x) * scaleX);
        child->y = int(float(child->y) * scaleY);
    }
    root->Invalidate();
}

// The messages this procedure answers itself; false passes one on.
bool HandleMessage(DesktopInstance* instance, HWND window, UINT message, WPARAM wParam,
                   LPARAM lParam, LRESULT& result) {
    SurfaceState& surface = Surface();
    Window* root = instance->root.get();
    result = 0;
    switch (message) {
    case WM_PAINT: {
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
        if (LOWORD(wParam) == WA_INACTIVE)
            SetMouseCapture(nullptr);
        return false;
    case WM_KILLFOCUS:
        SetMouseCapture(nullptr);
        return false;
    case WM_DISPLAYCHANGE:
        if (instance->canvas && root)
            OnDisplayChange(instance);
        return false;
    case WM_TIMER:
        return DispatchTimer(int(wParam));
    case WM_MOUSEMOVE: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (point.x == surface.lastMouse.x && point.y == surface.lastMouse.y)
            return true;
        surface.lastMouse = point;
        if (root && RouteMove(root, point.x, point.y, unsigned(wParam)))
            return true;
        ClearHoverWindow();
        HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
        if (GetCursor() != arrow)
            SetCursor(arrow);
        return false;
    }
    case WM_LBUTTONDOWN: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (PointOnIcon(window, point))
            return false;
        return root && RouteButton(root, 1, true, point.x, point.y, unsigned(wParam));
    }
    case WM_LBUTTONUP:
        return root && RouteButton(root, 1, false, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam),
                                   unsigned(wParam));
    case WM_MOUSEWHEEL:
        return root &&
               RouteWheel(root, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), unsigned(wParam));
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND)
            BroadcastEvent(IdleBegan, 0);
        else if (wParam == PBT_APMRESUMEAUTOMATIC)
            BroadcastEvent(IdleEnded, 0);
        return false;
    case HM_QUERY:
        result = 1;
        return true;
    case DM_NETWORK_STATE:
        PostMessageW(instance->hostWindow, DM_NETWORK_STATE, wParam, lParam);
        return true;
    case DM_CLOSING: {
        surface.closing = 1;
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(instance->hostWindow, DM_CLOSING, 0, 0, SMTO_ABORTIFHUNG,
                            kHostReplyTimeoutMs, &ignored);
        return true;
    }
    case DM_CONTENT:
    case DM_DATA: {
        auto* record = reinterpret_cast<WindowMessage*>(lParam);
        if (!ClaimWindowMessage(record))
            return true;
        if (message == DM_CONTENT)
            record->target->OnContent(int(wParam), record->payload);
        else
            record->target->OnData(int(wParam), record->payload);
        delete record;
        return true;
    }
    case DM_IS_VISIBLE:
        result = instance->widget && instance->widget->attached ? 1 : 0;
        return true;
    case DM_TOGGLE:
        if (instance->widget)
            instance->widget->OnCommand(1, 0);
        return true;
    default:
        return false;
    }
}

}  // namespace

DesktopInstance::DesktopInstance() = default;
DesktopInstance::~DesktopInstance() = default;

bool Attach(DesktopInstance* instance) {
    SurfaceState& surface = Surface();
    HWND listView = instance->listView;

    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    instance->legacyPaint = version.dwMajorVersion < 6;

    LONG_PTR previous =
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DesktopSubclassProc));
    if (previous == 0)
        return false;
    surface.previousProc = reinterpret_cast<WNDPROC>(previous);
    SetPropW(listView, kInstanceProperty, instance);
    instance->savedClassCursor = SetClassLongPtrW(listView, GCLP_HCURSOR, 0);
    instance->savedExStyle = DWORD(SendMessageW(listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 instance->savedExStyle & ~DWORD(LVS_EX_DOUBLEBUFFER));

    if (SendMessageW(listView, HM_QUERY, 0, 0) != 1)
        return true;

    // A widget attached after an earlier one was closed starts afresh.
    surface.closing = 0;
    instance->canvas = std::make_unique<Canvas>(listView);
    RECT client{};
    GetClientRect(listView, &client);
    instance->root = std::make_unique<Window>(0, 0, client.right, client.bottom, nullptr);
    instance->widget = std::make_unique<Widget>(instance->root.get());
    instance->widget->Show();
    return true;
}

void Detach(DesktopInstance* instance) {
    SurfaceState& surface = Surface();
    HWND listView = instance->listView;
    if (CaptureWindow())
        ReleaseMouseCapture();
    instance->widget.reset();
    instance->root.reset();
    KillAllWindowTimers();
    instance->wallpaper.reset();
    surface.wallpaperPath[0] = 0;
    instance->canvas.reset();

    RemovePropW(listView, kInstanceProperty);
    if (instance->savedClassCursor)
        SetClassLongPtrW(listView, GCLP_HCURSOR, LONG_PTR(instance->savedClassCursor));
    if (instance->savedExStyle)
        SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, instance->savedExStyle);
    if (surface.previousProc) {
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(surface.previousProc));
        surface.previousProc = nullptr;
    }
}

LRESULT CALLBACK DesktopSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* instance = static_cast<DesktopInstance*>(GetPropW(window, kInstanceProperty));
    LRESULT result = 0;
    if (instance && HandleMessage(instance, window, message, wParam, lParam, result))
        return result;
    return CallPrevious(window, message, wParam, lParam);
}

void ComposePaint(DesktopInstance* instance, const RECT& update, HDC dc) {
    Canvas* canvas = instance->canvas.get();
    if (!canvas || !canvas->graphics)
        return;
    GraphicsObject& graphics = canvas->graphics;
    int width = update.right - update.left;
    int height = update.bottom - update.top;

    gdi::Region clip(CreateRectRgnIndirect(&update));
    graphics.Check(GdipSetClipHrgn(graphics.get(), clip.get(), CombineModeReplace));
    SelectClipRgn(canvas->memoryDC, clip.get());
    SelectClipRgn(dc, clip.get());

    if (instance->legacyPaint)
        DrawWallpaper(instance);
    else
        CallPrevious(instance->listView, WM_ERASEBKGND, WPARAM(canvas->memoryDC), 0);

    graphics.Check(GdipSetClipRectI(graphics.get(), update.left, update.top, width, height,
                                    CombineModeReplace));
    if (instance->root)
        PaintTree(instance->root.get(), update.left, update.top, width, height);
    // The list view draws into the same DC next; GDI+ must be done with it.
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));

    CallPrevious(instance->listView, WM_PRINTCLIENT, WPARAM(canvas->memoryDC), PRF_CLIENT);
    BitBlt(dc, update.left, update.top, width, height, canvas->memoryDC, update.left, update.top,
           SRCCOPY);

    graphics.Check(GdipResetClip(graphics.get()));
    SelectClipRgn(canvas->memoryDC, nullptr);
}

bool ClosingRequested() {
    return Surface().closing != 0;
}

bool SendWindowMessage(HWND listView, UINT message, int kind, Window* target, void* payload) {
    if (ClosingRequested() || !listView)
        return false;
    auto* record = new WindowMessage{target, payload};
    SurfaceState& surface = Surface();
    {
        std::lock_guard<std::mutex> lock(surface.pendingLock);
        surface.pending.insert(record);
    }
    SendMessageW(listView, message, WPARAM(kind), LPARAM(record));
    // Still pending: no widget took it, and the payload stays with the caller.
    if (!ClaimWindowMessage(record))
        return true;
    delete record;
    return false;
}
