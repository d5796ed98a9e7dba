// The bridge between the host platform and the shell: the exported entry
// points, the message hook that carries the library into the shell's
// process, and the shared mapping that hands over the host's command line.
//
// The library is loaded twice. In the host's process only the exported
// functions run, on the host's thread. In the shell's process the hook
// procedure runs on the shell's UI thread and creates or removes the one
// desktop instance. Finding the list view is shared with the rest of the
// library (base/Desktop.h).
#pragma once

#include "base/Desktop.h"

#include <memory>

struct DesktopInstance;

constexpr int kCommandLineUnits = 2048;
constexpr wchar_t kCommandLineMapping[] = L"LumideskCommandLine";

// Process-wide state of the bridge; each process has its own copy.
struct HostBridgeState {
    HHOOK hook = nullptr;                       // host side
    std::unique_ptr<DesktopInstance> instance;  // shell side
    // Shell side. A text of kCommandLineUnits units or more fills it
    // unterminated; readers stop at kCommandLineUnits.
    wchar_t commandLine[kCommandLineUnits] = {};
};

HostBridgeState& Bridge();

// The hook procedure installed on the list view's thread.
LRESULT CALLBACK DesktopHookProc(int code, WPARAM wParam, LPARAM lParam);

// The exported entry points (decorated names in resources/orvella.def).
bool Load(HWND hostWindow, const wchar_t* commandLine);
void Unload();
void SendCommandLine(const wchar_t* commandLine);
HWND GetDesktopHWND();
