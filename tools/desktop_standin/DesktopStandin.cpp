// The desktop stand-in: plays the shell's desktop under Wine, where there is
// no shell. It builds the window chain the library looks for (Progman >
// SHELLDLL_DefView > SysListView32), paints a wallpaper behind five icons
// and reports what the end to end tests compare against once the library
// has come and gone. Started first by the tests and by the demo; never
// shipped.
//
// Usage: desktop_standin.exe [--half-width]
//   --half-width  cover only the left half of the screen, so that the list
//                 view is narrower than the screen.
// Standard input, one command a line, each answered by a line of its name:
//   place X Y W H  moves and sizes the desktop windows (X and Y may be
//                  negative: a screen left of or above the primary one)
//   rebuild        destroys the list view and makes a new one, as the shell
//                  does when it rebuilds its desktop view
//   repaint X Y W H N
//                  repaints that rectangle of the list view (W or H 0: the
//                  whole client area) synchronously N times on the window
//                  thread; answers "repaint MS", the median milliseconds
//   usage          answers "usage HEAP": the bytes in use on every heap of
//                  the process, which a leak of the library's raises
//                  whatever the heap's commit steps do (Wine counts no GDI
//                  or USER objects and no handles)
//   quit           (or, on a pipe, its end) closes the desktop.
#include "common/LineIo.h"
#include "gfx/GdiPlus.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>
#include <type_traits>

namespace {

// Answered by the Progman window for a test in another process: Wine does
// not read a window procedure or a class cursor across processes.
constexpr UINT kQueryWindowProc = WM_APP + 1;
constexpr UINT kQueryClassCursor = WM_APP + 2;
constexpr UINT kQueryExtendedStyle = WM_APP + 3;
constexpr UINT kQuerySelectedItem = WM_APP + 4;
constexpr UINT kClearSelection = WM_APP + 5;
// From the command reader to the window thread.
constexpr UINT kPlaceDesktop = WM_APP + 6;  // wParam: x, y; lParam: width, height
constexpr UINT kRebuildListView = WM_APP + 7;
constexpr UINT kTimeRepaints = WM_APP + 8;  // lParam: a RepaintRequest

struct RepaintRequest {
    RECT area{};     // empty: the whole client area
    int times = 0;
    double medianMs = 0;
};

// Invalidates and repaints the area at once, as the shell does when a window
// above the desktop moves away, and times each round.
void TimeRepaints(HWND listView, RepaintRequest& request) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    const RECT* area = IsRectEmpty(&request.area) ? nullptr : &request.area;
    std::vector<double> times;
    for (int round = 0; round < request.times; ++round) {
        QueryPerformanceCounter(&start);
        RedrawWindow(listView, area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        QueryPerformanceCounter(&end);
        times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 /
                        double(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    request.medianMs = times.empty() ? 0 : times[times.size() / 2];
}

// The bytes of the blocks in use on every heap of the process.
size_t HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    size_t inUse = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                inUse += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return inUse;
}

// Where the library puts its panel, in list view client coordinates, and
// where on the panel its Club tab lies: one icon is placed there so that
// icons drawn over the panel, and clicks on them, can be seen and checked.
constexpr int kPanelRightMargin = 390;
constexpr int kPanelTop = 93;
constexpr int kIconOverPanelX = 110;
constexpr int kIconOverPanelY = 50;

constexpr COLORREF kWallpaperTop = RGB(0x2E, 0x7D, 0x6B);
constexpr COLORREF kWallpaperBottom = RGB(0x16, 0x32, 0x4F);

struct DesktopWindows {
    HWND progman = nullptr;
    HWND defView = nullptr;
    HWND listView = nullptr;
    WNDPROC listViewProc = nullptr;  // comctl32's, under our subclass
};

DesktopWindows& Desktop() {
    static DesktopWindows windows;
    return windows;
}

using GdiObject = UniqueHandle<gdi::ObjectTraits<HGDIOBJ>>;

TRIVERTEX Vertex(int x, int y, COLORREF colour) {
    TRIVERTEX vertex{};
    vertex.x = x;
    vertex.y = y;
    vertex.Red = COLOR16(GetRValue(colour) << 8);
    vertex.Green = COLOR16(GetGValue(colour) << 8);
    vertex.Blue = COLOR16(GetBValue(colour) << 8);
    return vertex;
}

// The gradient's colour in the given band, a shade lighter.
COLORREF StreakColour(int band, int bands) {
    constexpr int kLighter = 18;
    auto channel = [band, bands](BYTE top, BYTE bottom) {
        return BYTE(top + (int(bottom) - int(top)) * band / bands + kLighter);
    };
    return RGB(channel(GetRValue(kWallpaperTop), GetRValue(kWallpaperBottom)),
               channel(GetGValue(kWallpaperTop), GetGValue(kWallpaperBottom)),
               channel(GetBValue(kWallpaperTop), GetBValue(kWallpaperBottom)));
}

// A gradient with faint diagonal streaks: plain enough to compare pixels
// against, busy enough that a missing or shifted background shows.
void PaintWallpaper(HDC dc, const RECT& area) {
    TRIVERTEX corners[2] = {Vertex(area.left, area.top, kWallpaperTop),
                            Vertex(area.right, area.bottom, kWallpaperBottom)};
    GRADIENT_RECT span{0, 1};
    GradientFill(dc, corners, 2, &span, 1, GRADIENT_FILL_RECT_V);

    // Each streak is drawn band by band in a shade a little lighter than the
    // gradient there, so that it stays equally faint from top to bottom.
    constexpr int kBands = 32;
    int height = area.bottom - area.top;
    int spacing = (area.right - area.left) / 5;
    if (height <= 0 || spacing <= 0)
        return;
    // The DC may be the library's back buffer: leave it as it came.
    int saved = SaveDC(dc);
    for (int band = 0; band < kBands; ++band) {
        int top = area.top + height * band / kBands;
        int bottom = area.top + height * (band + 1) / kBands;
        GdiObject pen(CreatePen(PS_SOLID, 3, StreakColour(band, kBands)));
        SelectObject(dc, pen.get());
        for (int x = area.left + spacing / 2; x < area.right + height; x += spacing) {
            MoveToEx(dc, x - (top - area.top), top, nullptr);
            LineTo(dc, x - (bottom - area.top), bottom);
        }
        SelectObject(dc, GetStockObject(BLACK_PEN));
    }
    RestoreDC(dc, saved);
}

// Sits on top of comctl32's procedure. The wallpaper is drawn on every erase
// into whatever DC comes with it: the library composes its paints by sending
// this very message with its own memory DC.
LRESULT CALLBACK ListViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) {
        RECT client{};
        GetClientRect(window, &client);
        PaintWallpaper(reinterpret_cast<HDC>(wParam), client);
        return 1;
    }
    return CallWindowProcW(Desktop().listViewProc, window, message, wParam, lParam);
}

HWND MakeListView(HWND defView);

LRESULT CALLBACK ProgmanProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND listView = Desktop().listView;
    switch (message) {
    case kPlaceDesktop: {
        int width = LOWORD(lParam), height = HIWORD(lParam);
        SetWindowPos(window, nullptr, short(LOWORD(wParam)), short(HIWORD(wParam)), width,
                     height, SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(Desktop().defView, nullptr, 0, 0, width, height, SWP_NOZORDER);
        SetWindowPos(listView, nullptr, 0, 0, width, height, SWP_NOZORDER);
        return 0;
    }
    case kRebuildListView:
        DestroyWindow(listView);
        Desktop().listView = MakeListView(Desktop().defView);
        return 0;
    case kQueryWindowProc:
        return GetWindowLongPtrW(listView, GWLP_WNDPROC);
    case kQueryClassCursor:
        return LRESULT(GetClassLongPtrW(listView, GCLP_HCURSOR));
    case kQueryExtendedStyle:
        return SendMessageW(listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    case kQuerySelectedItem:
        return SendMessageW(listView, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED);
    case kTimeRepaints:
        TimeRepaints(listView, *reinterpret_cast<RepaintRequest*>(lParam));
        return 0;
    case kClearSelection: {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(listView, LVM_SETITEMSTATE, WPARAM(-1), LPARAM(&item));
        return 0;
    }
    case WM_WINDOWPOSCHANGING:
        // Like the real desktop, stay below every other window.
        reinterpret_cast<WINDOWPOS*>(lParam)->hwndInsertAfter = HWND_BOTTOM;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure, HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) != 0;
}

void AddItems(HWND listView) {
    const wchar_t* const icons[] = {IDI_APPLICATION, IDI_INFORMATION, IDI_WARNING, IDI_ERROR,
                                    IDI_QUESTION};
    const wchar_t* const labels[] = {L"Корзина", L"Документы", L"Отчёт.txt", L"Сеть", L"Банк"};

    // The list view owns the image list and destroys it with itself.
    HIMAGELIST images = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 5, 0);
    for (const wchar_t* icon : icons)
        ImageList_AddIcon(images, LoadIconW(nullptr, icon));
    SendMessageW(listView, LVM_SETIMAGELIST, LVSIL_NORMAL, LPARAM(images));

    for (int index = 0; index < 5; ++index) {
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = index;
        item.iImage = index;
        item.pszText = const_cast<wchar_t*>(labels[index]);
        SendMessageW(listView, LVM_INSERTITEMW, 0, LPARAM(&item));
    }
}

// Wine lays the icons out again when the list view is first shown, so this
// runs after the first paint.
void PlaceItems(HWND listView, int width, int height) {
    const POINT places[] = {
        {20, 20},
        {20, 120},
        {20, 220},
        {width - kPanelRightMargin + kIconOverPanelX, kPanelTop + kIconOverPanelY},
        {width - 120, height - 120},
    };
    for (int index = 0; index < 5; ++index) {
        POINT place = places[index];
        SendMessageW(listView, LVM_SETITEMPOSITION32, index, LPARAM(&place));
    }
}

void ReportState(HWND listView, const RECT& client) {
    PrintLine("listview 0x%llx", static_cast<unsigned long long>(UINT_PTR(listView)));
    PrintLine("client %ld %ld", client.right, client.bottom);
    PrintLine("wndproc 0x%llx",
              static_cast<unsigned long long>(GetWindowLongPtrW(listView, GWLP_WNDPROC)));
    PrintLine("cursor 0x%llx",
              static_cast<unsigned long long>(GetClassLongPtrW(listView, GCLP_HCURSOR)));
    PrintLine("exstyle 0x%llx", static_cast<unsigned long long>(
                                    SendMessageW(listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)));
    for (int index = 0; index < 5; ++index) {
        RECT icon{};
        icon.left = LVIR_ICON;
        SendMessageW(listView, LVM_GETITEMRECT, index, LPARAM(&icon));
        PrintLine("item %d %ld %ld %ld %ld", index, icon.left, icon.top, icon.right,
                  icon.bottom);
    }
    PrintLine("ready");
}

// The list view with its icons, wallpaper and double buffering, filling defView.
HWND MakeListView(HWND defView) {
    RECT area{};
    GetClientRect(defView, &area);
    HWND listView = CreateWindowExW(
        0, WC_LISTVIEWW, L"FolderView", WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL, 0, 0,
        area.right, area.bottom, defView, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!listView)
        return nullptr;
    Desktop().listViewProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(listView, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListViewProc)));
    SendMessageW(listView, LVM_SETTEXTCOLOR, 0, RGB(255, 255, 255));
    SendMessageW(listView, LVM_SETBKCOLOR, 0, CLR_NONE);
    SendMessageW(listView, LVM_SETTEXTBKCOLOR, 0, CLR_NONE);
    AddItems(listView);
    UpdateWindow(Desktop().progman);
    PlaceItems(listView, area.right, area.bottom);
    // The library turns double buffering off while it is attached and must
    // give it back afterwards: this makes that visible.
    SendMessageW(listView, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_DOUBLEBUFFER,
                 LVS_EX_DOUBLEBUFFER);
    InvalidateRect(listView, nullptr, TRUE);
    UpdateWindow(listView);
    return listView;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool halfWidth = argc > 1 && wcscmp(argv[1], L"--half-width") == 0;
    HINSTANCE instance = GetModuleHandleW(nullptr);

    // The shell is aware of each screen's scale, and so is its stand-in.
    // Wine 8 refuses the per-monitor contexts (v2: ERROR_INVALID_PARAMETER,
    // v1: ERROR_ACCESS_DENIED) and takes the older call; it scales nothing
    // for a process either way and answers LogPixels for every screen.
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    auto setContext = reinterpret_cast<SetContext>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"));
    if (!setContext || !setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2))
        SetProcessDPIAware();

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    if (!InitCommonControlsEx(&controls) ||
        !RegisterWindowClass(L"Progman", ProgmanProc, instance) ||
        !RegisterWindowClass(L"SHELLDLL_DefView", DefWindowProcW, instance)) {
        std::fprintf(stderr, "cannot register the desktop classes\n");
        return 1;
    }

    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    if (halfWidth)
        width /= 2;

    DesktopWindows& desktop = Desktop();
    desktop.progman = CreateWindowExW(0, L"Progman", L"Program Manager", WS_POPUP | WS_VISIBLE,
                                      0, 0, width, height, nullptr, nullptr, instance, nullptr);
    HWND defView = CreateWindowExW(0, L"SHELLDLL_DefView", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                   width, height, desktop.progman, nullptr, instance, nullptr);
    desktop.defView = defView;
    desktop.listView = MakeListView(defView);
    if (!desktop.listView) {
        std::fprintf(stderr, "cannot create the desktop windows\n");
        return 1;
    }
    HWND listView = desktop.listView;

    RECT client{};
    GetClientRect(listView, &client);
    ReportState(listView, client);

    HWND progman = desktop.progman;
    ReadStdinLines(
        [progman](const std::string& line) {
            int x = 0, y = 0, width = 0, height = 0, times = 0;
            if (line == "quit") {
                PostMessageW(progman, WM_CLOSE, 0, 0);
            } else if (std::sscanf(line.c_str(), "place %d %d %d %d", &x, &y, &width, &height) == 4) {
                SendMessageW(progman, kPlaceDesktop, MAKEWPARAM(WORD(x), WORD(y)),
                             MAKELPARAM(WORD(width), WORD(height)));
                PrintLine("place");
            } else if (std::sscanf(line.c_str(), "repaint %d %d %d %d %d", &x, &y, &width,
                                   &height, &times) == 5) {
                RepaintRequest request;
                request.area = RECT{x, y, x + width, y + height};
                request.times = std::max(1, std::min(times, 100000));
                SendMessageW(progman, kTimeRepaints, 0, LPARAM(&request));
                PrintLine("repaint %.3f", request.medianMs);
            } else if (line == "usage") {
                PrintLine("usage %zu", HeapBytesInUse());
            } else if (line == "rebuild") {
                SendMessageW(progman, kRebuildListView, 0, 0);
                PrintLine("rebuild");
            }
        },
        [progman] { PostMessageW(progman, WM_CLOSE, 0, 0); });

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
