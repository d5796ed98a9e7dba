// Handing results from worker threads to windows of the tree.
//
// A sender wraps its result in a WindowMessage and sends it synchronously
// to the desktop list view (DM_CONTENT or DM_DATA, wParam the kind); the
// desktop surface hands the message to ReceiveWindowMessage on the window
// thread, which calls OnContent or OnData of the target.
//
// The payload is always on the heap: whoever holds it when the exchange is
// over frees it, so nothing of the sender's stack is ever read by the window
// thread. The record is the sender's own, on its stack, and registered only
// while the sender waits. The window thread never keeps a pointer to it: under the
// registry's lock it checks that the record is registered and meant for this
// message, marks it taken and copies what it needs. The sender unregisters
// it under the same lock when the send returns, however it returned (done,
// timed out, failed), and reads the mark: taken, the payload is the
// target's; not taken, it is still the sender's. A send that timed out can
// still reach the window thread later; by then its record is gone, or
// another one of the same kind that this sender is waiting on now sits at
// that address, which may then be taken through the older message: either
// way each record is taken at most once. The messages can come from any
// process, and a foreign lParam is never read as a record. A sender names
// its stop: once that is set (the worker is being stopped), its records are
// refused, so a worker that teardown stopped waiting for never reaches a
// panel that has gone, whenever its message arrives.
#pragma once

#include "base/Desktop.h"

#include <atomic>

class Window;

// What a DM_CONTENT carries (OnContent's kind).
enum ContentKind : int {
    PageContent = 0,  // a Page
};

// What a DM_DATA carries (OnData's kind).
enum DataKind : int {
    CityMapContent = 0,  // one city's map pages
    SettingsContent = 1, // the remote settings record
    RatesContent = 2,    // the rates panel's texts
};

// A sender waits this long for the window thread before it keeps its payload.
constexpr unsigned kDeliveryTimeoutMs = 10000;

// A result for one window of the tree, on its sender's stack.
struct WindowMessage {
    Window* target;      // borrowed
    void* payload;       // passes to the target once taken
    UINT message = 0;    // DM_CONTENT or DM_DATA
    int kind = 0;
    const std::atomic<bool>* senderStop = nullptr;  // borrowed; null for none
    bool taken = false;  // set by the window thread, under the registry's lock
};

// Sends a result to a window of the tree through the list view and waits
// until it was handled or timeoutMs passed. Returns whether the target took
// the payload; false (no widget, closing, the sender stopped, timed out
// before the window thread got to it): the payload still belongs to the
// caller. senderStop, when given, must outlive the call. Any thread.
bool SendWindowMessage(HWND listView, UINT message, int kind, Window* target, void* payload,
                       unsigned timeoutMs = kDeliveryTimeoutMs,
                       const std::atomic<bool>* senderStop = nullptr);

// Hands a DM_CONTENT or DM_DATA to its target when it carries a record that
// a sender is waiting on; anything else is left alone. Returns whether the
// target got it. Window thread.
bool ReceiveWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
