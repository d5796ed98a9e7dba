// The desktop icon list view that the library lives on, as every floor
// knows it: the private messages exchanged with it, the finder and the
// cached handle, and the closing flag.
//
// The host side finds the list view and hooks its thread; on the shell side
// the desktop surface subclasses it, the window tree invalidates it and sets
// timers on it, and the worker hands results over through it. The cache and
// the flag are process-wide: each process has its own copy.
#pragma once

#include <windows.h>

// Host to the desktop list view.
constexpr UINT HM_QUERY = 0x3000;        // answers 1 while a widget is embedded
constexpr UINT HM_CREATE = 0x3001;       // lParam: the host window
constexpr UINT HM_DESTROY = 0x3002;
constexpr UINT HM_COMMANDLINE = 0x3003;  // the text waits in the shared mapping

// To and from the desktop list view while a widget is embedded.
constexpr UINT DM_NETWORK_STATE = 0x4000;  // wParam 1 reachable, 0 not; passed to the host
constexpr UINT DM_CLOSING = 0x4002;        // the host is closing; passed to the host
constexpr UINT DM_CONTENT = 0x4003;        // wParam kind, lParam WindowMessage
constexpr UINT DM_DATA = 0x4005;           // wParam kind, lParam WindowMessage
constexpr UINT DM_IS_VISIBLE = 0x4006;
constexpr UINT DM_TOGGLE = 0x4007;

// Whether the window exists and is of the named class.
bool HasWindowClass(HWND window, const wchar_t* name);

// Walks the top-level windows for Progman or WorkerW > SHELLDLL_DefView >
// SysListView32; null when there is none. Does not touch the cache.
HWND FindDesktopListView();

// The cached list view, looked for again when it is unset or no longer a
// window; null when there is none.
HWND DesktopListView();
// Sets the cache: the shell side records the list view it was created on.
void SetDesktopListView(HWND listView);

// Set when the host announces that it is closing (DM_CLOSING), cleared when
// a widget is attached; the worker reads it before it delivers or launches
// anything.
bool ClosingRequested();
void SetClosingRequested(bool closing);
