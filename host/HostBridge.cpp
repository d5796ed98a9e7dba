// The exported entry points, the hook and the command line mapping; see
// HostBridge.h.
#include "host/HostBridge.h"

#include "base/Handles.h"
#include "base/ModulePath.h"
#include "base/Text.h"
#include "host/DesktopSurface.h"

namespace {

constexpr DWORD kMappingBytes = kCommandLineUnits * sizeof(wchar_t);

// While our procedure is in the list view's chain the list view calls into
// this module, so it holds a reference of its own: should the host die
// without Unload, the system removes the hook and would otherwise unload the
// code under the desktop's window procedure. It is let go only from the hook
// procedure, while the hook still holds the module; a widget that detaches
// itself (a deferred detach, the list view destroyed) runs on the list view's
// stack with perhaps nothing else holding the module, and leaves it pinned
// for the next Unload to let go.
HMODULE pinnedModule = nullptr;

void PinModule() {
    if (!pinnedModule)
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&DesktopHookProc), &pinnedModule);
}

void ReleasePinnedModule() {
    if (pinnedModule) {
        FreeLibrary(pinnedModule);
        pinnedModule = nullptr;
    }
}

// Told by the surface when an instance has detached itself.
void ForgetDetached(DesktopInstance* instance) {
    HostBridgeState& bridge = Bridge();
    if (bridge.instance.get() == instance && !instance->passThrough)
        bridge.instance.reset();
}

void CreateInstance(HWND listView, HWND hostWindow) {
    HostBridgeState& bridge = Bridge();
    SetDesktopListView(listView);
    auto instance = std::make_unique<DesktopInstance>();
    SetHost(instance.get(), hostWindow);
    instance->listView = listView;
    instance->onDetached = ForgetDetached;
    // A list view we could not subclass keeps no record, so a later
    // HM_CREATE may try again.
    if (!Attach(instance.get()))
        return;
    bridge.instance = std::move(instance);
    PinModule();
}

// A new host's Load on a list view that already has our instance: take over
// from a host that died, bring back a widget on a chain we never left, or
// call off a detach still waiting. A live host's widget is left alone.
void TakeOver(DesktopInstance* instance, HWND hostWindow) {
    bool pending = instance->detachPending;
    if (!instance->passThrough && !pending && instance->embedding && HostAlive(instance))
        return;
    instance->detachPending = false;
    SetHost(instance, hostWindow);
    Rearm(instance);
}

// The hook still holds the module while this runs, so dropping our own
// reference here never unloads the code that is running.
void DestroyInstance() {
    HostBridgeState& bridge = Bridge();
    DesktopInstance* instance = bridge.instance.get();
    // Unload from a click handler's modal loop: detach once it has returned.
    if (instance->dispatchDepth > 0) {
        instance->detachPending = true;
        return;
    }
    if (!Detach(instance))
        return;  // another procedure stands above ours: stay as a pass-through
    bridge.instance.reset();
    ReleasePinnedModule();
}

void ReceiveCommandLine() {
    KernelHandle mapping(
        OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kCommandLineMapping));
    if (!mapping)
        return;
    MappedView view(
        MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kMappingBytes));
    if (view)
        CopyUnits(Bridge().commandLine, kCommandLineUnits, static_cast<const wchar_t*>(view.get()));
}

}  // namespace

HostBridgeState& Bridge() {
    static HostBridgeState state;
    return state;
}

namespace {

// The hook's own work; false passes the call on.
bool HandleHookCall(const CWPSTRUCT* call) {
    HostBridgeState& bridge = Bridge();
    switch (call->message) {
    case HM_CREATE:
        // Other windows of the shell's thread may use the same private
        // number for their own purposes; only the list view counts.
        if (!HasWindowClass(call->hwnd, L"SysListView32"))
            return false;
        if (bridge.instance && !IsWindow(bridge.instance->listView))
            bridge.instance.reset();  // its list view went without telling us
        if (!bridge.instance)
            CreateInstance(call->hwnd, reinterpret_cast<HWND>(call->lParam));
        else if (call->hwnd == bridge.instance->listView)
            TakeOver(bridge.instance.get(), reinterpret_cast<HWND>(call->lParam));
        return true;
    case HM_DESTROY:
        if (!bridge.instance || call->hwnd != bridge.instance->listView)
            return false;
        DestroyInstance();
        return true;
    case HM_COMMANDLINE:
        ReceiveCommandLine();
        return true;
    default:
        return false;
    }
}

}  // namespace

LRESULT CALLBACK DesktopHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        try {
            if (HandleHookCall(reinterpret_cast<const CWPSTRUCT*>(lParam)))
                return 0;
        } catch (...) {
            // Nothing of ours may end the shell; the call goes on unchanged.
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Load(HWND hostWindow, const wchar_t* commandLine) {
    HostBridgeState& bridge = Bridge();
    HWND listView = DesktopListView();
    if (!listView)
        return false;
    // One widget per desktop: a live host's widget answers 1.
    if (SendMessageW(listView, HM_QUERY, 0, 0) != 0)
        return false;
    // Thread 0 would hook every thread of the desktop: never ask for that.
    DWORD thread = GetWindowThreadProcessId(listView, nullptr);
    if (thread == 0)
        return false;
    if (bridge.hook)
        UnhookWindowsHookEx(bridge.hook);
    bridge.hook = SetWindowsHookExW(WH_CALLWNDPROC, DesktopHookProc, ThisModule(), thread);
    if (!bridge.hook)
        return false;
    SendCommandLine(commandLine);
    SendMessageW(listView, HM_CREATE, 0, LPARAM(hostWindow));
    if (SendMessageW(listView, HM_QUERY, 0, 0) != 1) {
        // No widget came up: leave no hook behind.
        UnhookWindowsHookEx(bridge.hook);
        bridge.hook = nullptr;
        return false;
    }
    // The panel invalidated its own place as it came up; the rest of the
    // desktop looks as it did and is not composed again.
    RedrawWindow(listView, nullptr, nullptr, RDW_UPDATENOW);
    return true;
}

void Unload() {
    HostBridgeState& bridge = Bridge();
    HWND listView = DesktopListView();
    if (listView)
        SendMessageW(listView, HM_DESTROY, 0, 0);
    if (bridge.hook) {
        UnhookWindowsHookEx(bridge.hook);
        bridge.hook = nullptr;
    }
    if (listView)
        RedrawWindow(listView, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
}

void SendCommandLine(const wchar_t* commandLine) {
    // The mapping stays open until the shell side has copied the text.
    KernelHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kMappingBytes, kCommandLineMapping));
    if (mapping) {
        MappedView view(
            MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kMappingBytes));
        if (view)
            CopyUnits(static_cast<wchar_t*>(view.get()), kCommandLineUnits,
                      commandLine ? commandLine : L"");
    }
    HWND listView = DesktopListView();
    if (listView)
        SendMessageW(listView, HM_COMMANDLINE, 0, 0);
}

HWND GetDesktopHWND() {
    return DesktopListView();
}
