// Result hand-over; see Delivery.h.
#include "ui/Delivery.h"

#include <mutex>
#include <set>

namespace {

// Process-wide: the records whose senders are waiting.
struct PendingMessages {
    std::mutex lock;
    std::set<const WindowMessage*> records;
};

PendingMessages& Pending() {
    static PendingMessages pending;
    return pending;
}

}  // namespace

bool ClaimWindowMessage(const WindowMessage* record) {
    PendingMessages& pending = Pending();
    std::lock_guard<std::mutex> lock(pending.lock);
    return pending.records.erase(record) == 1;
}

bool SendWindowMessage(HWND listView, UINT message, int kind, Window* target, void* payload) {
    if (ClosingRequested() || !listView)
        return false;
    // The call is synchronous, so the record lives here; the window thread
    // only claims it while this waits.
    WindowMessage record{target, payload};
    {
        PendingMessages& pending = Pending();
        std::lock_guard<std::mutex> lock(pending.lock);
        pending.records.insert(&record);
    }
    SendMessageW(listView, message, WPARAM(kind), LPARAM(&record));
    // Still pending: no widget took it, and the payload stays with the caller.
    return !ClaimWindowMessage(&record);
}
