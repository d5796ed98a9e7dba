// The finder, the cached list view and the closing flag; see Desktop.h.
#include "base/Desktop.h"

#include <atomic>
#include <cwchar>

namespace {

// Process-wide state of the desktop we live on.
struct DesktopState {
    HWND listView = nullptr;  // the cache; written on the thread that finds it
    std::atomic<bool> closing{false};
};

DesktopState& State() {
    static DesktopState state;
    return state;
}

BOOL CALLBACK CheckTopLevel(HWND window, LPARAM found) {
    if (!HasWindowClass(window, L"WorkerW") && !HasWindowClass(window, L"Progman"))
        return TRUE;
    HWND view = GetWindow(window, GW_CHILD);
    HWND list = view ? GetWindow(view, GW_CHILD) : nullptr;
    if (!HasWindowClass(view, L"SHELLDLL_DefView") || !HasWindowClass(list, L"SysListView32"))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = list;
    return FALSE;
}

}  // namespace

bool HasWindowClass(HWND window, const wchar_t* name) {
    wchar_t className[100] = {};
    if (!window || GetClassNameW(window, className, 100) == 0)
        return false;
    return wcscmp(className, name) == 0;
}

HWND FindDesktopListView() {
    HWND found = nullptr;
    // With a null parent this walks the top-level windows on Windows; Wine
    // refuses that call, so fall back to the plain walk.
    if (!EnumChildWindows(nullptr, CheckTopLevel, LPARAM(&found)) && !found)
        EnumWindows(CheckTopLevel, LPARAM(&found));
    return found;
}

HWND DesktopListView() {
    DesktopState& state = State();
    if (!state.listView || !IsWindow(state.listView))
        state.listView = FindDesktopListView();
    return state.listView;
}

void SetDesktopListView(HWND listView) {
    State().listView = listView;
}

bool ClosingRequested() {
    return State().closing;
}

void SetClosingRequested(bool closing) {
    State().closing = closing;
}
