// Private window messages between the host, the shell-side copy of the
// library and the worker thread, and the record that carries results to
// windows of the tree.
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

class Window;

// A result for one window of the tree. The payload belongs to the receiving
// window once delivered.
struct WindowMessage {
    Window* target;  // borrowed
    void* payload;   // passes to the target
};
