// The exported entry points, the finder, the hook and the command line
// mapping; see HostBridge.h.
#include "host/HostBridge.h"

#include "host/DesktopSurface.h"
#include "host/Messages.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

constexpr DWORD kMappingBytes = kCommandLineUnits * sizeof(wchar_t);

bool ClassIs(HWND window, const wchar_t* name) {
    wchar_t className[100] = {};
    if (!window || GetClassNameW(window, className, 100) == 0)
        return false;
    return wcscmp(className, name) == 0;
}

BOOL CALLBACK CheckTopLevel(HWND window, LPARAM found) {
    if (!ClassIs(window, L"WorkerW") && !ClassIs(window, L"Progman"))
        return TRUE;
    HWND view = GetWindow(window, GW_CHILD);
    HWND list = view ? GetWindow(view, GW_CHILD) : nullptr;
    if (!ClassIs(view, L"SHELLDLL_DefView") || !ClassIs(list, L"SysListView32"))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = list;
    return FALSE;
}

// The cached list view, found again when the shell has replaced it.
HWND CachedListView() {
    HostBridgeState& bridge = Bridge();
    if (!bridge.listView || !IsWindow(bridge.listView))
        bridge.listView = FindDesktopListView();
    return bridge.listView;
}

// While a widget is attached the list view calls into this module, so it
// holds a reference of its own: should the host die without Unload, the
// system removes the hook and would otherwise unload the code under the
// desktop's window procedure.
HMODULE pinnedModule = nullptr;

void CreateInstance(HWND listView, HWND hostWindow) {
    HostBridgeState& bridge = Bridge();
    bridge.listView = listView;
    auto* instance = new (std::nothrow) DesktopInstance;
    if (!instance)
        return;
    instance->hostWindow = hostWindow;
    instance->listView = listView;
    bridge.instance = instance;
    // A list view we could not subclass keeps no record, so a later
    // HM_CREATE may try again.
    if (!Attach(instance)) {
        bridge.instance = nullptr;
        delete instance;
        return;
    }
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DesktopHookProc), &pinnedModule);
}

// The hook still holds the module while this runs, so dropping our own
// reference here never unloads the code that is running.
void DestroyInstance() {
    HostBridgeState& bridge = Bridge();
    Detach(bridge.instance);
    delete bridge.instance;
    bridge.instance = nullptr;
    if (pinnedModule) {
        FreeLibrary(pinnedModule);
        pinnedModule = nullptr;
    }
}

void ReceiveCommandLine() {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kCommandLineMapping);
    if (!mapping)
        return;
    auto* view = static_cast<const wchar_t*>(
        MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kMappingBytes));
    if (view) {
        CopyCommandLine(Bridge().commandLine, view);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
}

}  // namespace

HostBridgeState& Bridge() {
    static HostBridgeState state;
    return state;
}

HWND FindDesktopListView() {
    HWND found = nullptr;
    // With a null parent this walks the top-level windows on Windows; Wine
    // refuses that call, so fall back to the plain walk.
    if (!EnumChildWindows(nullptr, CheckTopLevel, LPARAM(&found)) && !found)
        EnumWindows(CheckTopLevel, LPARAM(&found));
    return found;
}

void CopyCommandLine(wchar_t* destination, const wchar_t* source) {
    size_t length = 0;
    while (length < size_t(kCommandLineUnits) && source[length])
        ++length;
    std::memcpy(destination, source, length * sizeof(wchar_t));
    std::fill(destination + length, destination + kCommandLineUnits, L'\0');
}

LRESULT CALLBACK DesktopHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        HostBridgeState& bridge = Bridge();
        switch (call->message) {
        case HM_CREATE:
            // Other windows of the shell's thread may use the same private
            // number for their own purposes; only the list view counts.
            if (!bridge.instance && ClassIs(call->hwnd, L"SysListView32")) {
                CreateInstance(call->hwnd, reinterpret_cast<HWND>(call->lParam));
                return 0;
            }
            break;
        case HM_DESTROY:
            if (bridge.instance && call->hwnd == bridge.instance->listView) {
                DestroyInstance();
                return 0;
            }
            break;
        case HM_COMMANDLINE:
            ReceiveCommandLine();
            return 0;
        default:
            break;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Load(HWND hostWindow, const wchar_t* commandLine) {
    HostBridgeState& bridge = Bridge();
    HWND listView = CachedListView();
    if (!listView)
        return false;
    if (SendMessageW(listView, HM_QUERY, 0, 0) != 0)
        return false;
    // Thread 0 would hook every thread of the desktop: never ask for that.
    DWORD thread = GetWindowThreadProcessId(listView, nullptr);
    if (thread == 0)
        return false;
    // A Load whose widget did not come up left its hook behind; replace it.
    if (bridge.hook)
        UnhookWindowsHookEx(bridge.hook);
    bridge.hook = SetWindowsHookExW(WH_CALLWNDPROC, DesktopHookProc, bridge.module, thread);
    if (!bridge.hook)
        return false;
    SendCommandLine(commandLine);
    SendMessageW(listView, HM_CREATE, 0, LPARAM(hostWindow));
    RedrawWindow(listView, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    return true;
}

void Unload() {
    HostBridgeState& bridge = Bridge();
    if (bridge.listView)
        SendMessageW(bridge.listView, HM_DESTROY, 0, 0);
    if (bridge.hook) {
        UnhookWindowsHookEx(bridge.hook);
        bridge.hook = nullptr;
    }
    if (bridge.listView)
        RedrawWindow(bridge.listView, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
}

void SendCommandLine(const wchar_t* commandLine) {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kMappingBytes, kCommandLineMapping);
    if (mapping) {
        auto* view = static_cast<wchar_t*>(
            MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kMappingBytes));
        if (view) {
            CopyCommandLine(view, commandLine ? commandLine : L"");
            UnmapViewOfFile(view);
        }
    }
    HWND listView = CachedListView();
    if (listView)
        SendMessageW(listView, HM_COMMANDLINE, 0, 0);
    if (mapping)
        CloseHandle(mapping);
}

HWND GetDesktopHWND() {
    return CachedListView();
}
