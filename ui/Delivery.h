// Handing results from the worker thread to windows of the tree.
//
// A sender wraps its result in a WindowMessage and sends it synchronously
// to the desktop list view (DM_CONTENT or DM_DATA, wParam the kind); the
// desktop surface claims the record on the window thread and calls OnContent
// or OnData of the target. The record is the sender's own, alive while it
// waits. Only records that a sender is
// waiting on are delivered: the messages can come from any process, and a
// foreign lParam must never be taken for a record of ours.
#pragma once

#include "base/Desktop.h"

class Window;

// What a DM_CONTENT carries (OnContent's kind).
enum ContentKind : int {
    PageContent = 0,  // a Page
};

// What a DM_DATA carries (OnData's kind).
enum DataKind : int {
    CityMapContent = 0,  // one city's map pages
    SettingsContent = 1, // the remote settings record
};

// A result for one window of the tree. The payload belongs to the receiving
// window once delivered.
struct WindowMessage {
    Window* target;  // borrowed
    void* payload;   // passes to the target
};

// Sends a result to a window of the tree through the list view and waits
// until it was handled. Returns false when it was not delivered (no widget,
// closing): the payload then still belongs to the caller. Any thread.
bool SendWindowMessage(HWND listView, UINT message, int kind, Window* target, void* payload);

// Takes a record that a sender is waiting on; false for anything else,
// which must not be touched. Window thread.
bool ClaimWindowMessage(const WindowMessage* record);
