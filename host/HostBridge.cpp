// The exported entry points, the hook and the command line mapping; see
// HostBridge.h.
#include "host/HostBridge.h"

#include "base/Handles.h"
#include "base/ModulePath.h"
#include "base/Text.h"
#include "host/DesktopSurface.h"

namespace {

constexpr DWORD kMappingBytes = kCommandLineUnits * sizeof(wchar_t);

// While a widget is attached the list view calls into this module, so it
// holds a reference of its own: should the host die without Unload, the
// system removes the hook and would otherwise unload the code under the
// desktop's window procedure.
HMODULE pinnedModule = nullptr;

void CreateInstance(HWND listView, HWND hostWindow) {
    HostBridgeState& bridge = Bridge();
    SetDesktopListView(listView);
    auto instance = std::make_unique<DesktopInstance>();
    instance->hostWindow = hostWindow;
    instance->listView = listView;
    // A list view we could not subclass keeps no record, so a later
    // HM_CREATE may try again.
    if (!Attach(instance.get()))
        return;
    bridge.instance = std::move(instance);
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DesktopHookProc), &pinnedModule);
}

// The hook still holds the module while this runs, so dropping our own
// reference here never unloads the code that is running.
void DestroyInstance() {
    HostBridgeState& bridge = Bridge();
    Detach(bridge.instance.get());
    bridge.instance.reset();
    if (pinnedModule) {
        FreeLibrary(pinnedModule);
        pinnedModule = nullptr;
    }
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

LRESULT CALLBACK DesktopHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        HostBridgeState& bridge = Bridge();
        switch (call->message) {
        case HM_CREATE:
            // Other windows of the shell's thread may use the same private
            // number for their own purposes; only the list view counts.
            if (!bridge.instance && HasWindowClass(call->hwnd, L"SysListView32")) {
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
    HWND listView = DesktopListView();
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
    bridge.hook = SetWindowsHookExW(WH_CALLWNDPROC, DesktopHookProc, ThisModule(), thread);
    if (!bridge.hook)
        return false;
    SendCommandLine(commandLine);
    SendMessageW(listView, HM_CREATE, 0, LPARAM(hostWindow));
    RedrawWindow(listView, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
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
