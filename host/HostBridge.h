// The bridge between the host platform and the shell: the exported entry
// points, the finder of the desktop icon list view, the message hook that
// carries the library into the shell's process, and the shared mapping that
// hands over the host's command line.
//
// The library is loaded twice. In the host's process only the exported
// functions run, on the host's thread. In the shell's process the hook
// procedure runs on the shell's UI thread and creates or removes the one
// desktop instance.
#pragma once

#include <windows.h>

struct DesktopInstance;

constexpr int kCommandLineUnits = 2048;
constexpr wchar_t kCommandLineMapping[] = L"LumideskCommandLine";

// Process-wide state of the bridge; each process has its own copy.
struct HostBridgeState {
    HINSTANCE module = nullptr;           // this library
    HWND listView = nullptr;              // the desktop icon list view, once found
    HHOOK hook = nullptr;                 // host side
    DesktopInstance* instance = nullptr;  // shell side, owned
    wchar_t commandLine[kCommandLineUnits] = {};  // shell side
};

HostBridgeState& Bridge();

// Walks the top-level windows for Progman or WorkerW > SHELLDLL_DefView >
// SysListView32; null when there is none. Does not touch the cache.
HWND FindDesktopListView();

// Copies up to kCommandLineUnits units: the text and its terminator, then
// zeros to the end. A longer text fills the whole buffer and is cut there, so
// the result may be unterminated; readers stop at kCommandLineUnits.
void CopyCommandLine(wchar_t* destination, const wchar_t* source);

// The hook procedure installed on the list view's thread.
LRESULT CALLBACK DesktopHookProc(int code, WPARAM wParam, LPARAM lParam);

// The exported entry points (decorated names in resources/orvella.def).
bool Load(HWND hostWindow, const wchar_t* commandLine);
void Unload();
void SendCommandLine(const wchar_t* commandLine);
HWND GetDesktopHWND();
