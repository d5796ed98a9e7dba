// Display scale; see DisplayScale.h.
#include "host/DisplayScale.h"

#include "gfx/GdiPlus.h"

#include <algorithm>

namespace {

constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// The DPI calls, from the libraries that have them; null where missing.
struct DpiCalls {
    using ForWindow = UINT(WINAPI*)(HWND);
    using WindowContext = HANDLE(WINAPI*)(HWND);
    using ContextAwareness = int(WINAPI*)(HANDLE);
    using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

    ForWindow forWindow = nullptr;
    WindowContext windowContext = nullptr;
    ContextAwareness contextAwareness = nullptr;
    ForMonitor forMonitor = nullptr;

    DpiCalls() {
        if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
            forWindow = reinterpret_cast<ForWindow>(
                reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
            windowContext = reinterpret_cast<WindowContext>(
                reinterpret_cast<void*>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
            contextAwareness = reinterpret_cast<ContextAwareness>(reinterpret_cast<void*>(
                GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
        }
        // Loaded in the shell already; kept for the process's life, as the
        // system keeps it.
        HMODULE shcore = GetModuleHandleW(L"shcore.dll");
        if (!shcore && windowContext)
            shcore = LoadLibraryExW(L"shcore.dll", nullptr, kSearchSystem32);
        if (shcore)
            forMonitor = reinterpret_cast<ForMonitor>(
                reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
    }
};

const DpiCalls& Calls() {
    static const DpiCalls calls;
    return calls;
}

constexpr int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE
constexpr int kEffectiveDpi = 0;     // MDT_EFFECTIVE_DPI
constexpr unsigned kDesignDpi = 96;

unsigned SystemDpi() {
    gdi::WindowDC screen(nullptr);
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
    return dpi > 0 ? unsigned(dpi) : kDesignDpi;
}

}  // namespace

float ScaleOfDpi(unsigned dpi) {
    return float(std::clamp(dpi, kDesignDpi, 2 * kDesignDpi)) / float(kDesignDpi);
}

bool DpiFollowsScreen(HWND window) {
    const DpiCalls& calls = Calls();
    if (!calls.windowContext || !calls.contextAwareness || !calls.forMonitor)
        return false;
    HANDLE context = calls.windowContext(window);
    return context && calls.contextAwareness(context) == kPerMonitorAware;
}

unsigned PanelDpi(HWND window, POINT centre) {
    const DpiCalls& calls = Calls();
    if (DpiFollowsScreen(window)) {
        UINT x = 0, y = 0;
        HMONITOR monitor = MonitorFromPoint(centre, MONITOR_DEFAULTTONEAREST);
        if (monitor && SUCCEEDED(calls.forMonitor(monitor, kEffectiveDpi, &x, &y)) && x > 0)
            return x;
    }
    if (calls.forWindow && window) {
        if (UINT dpi = calls.forWindow(window))
            return dpi;
    }
    return SystemDpi();
}
