// Result hand-over; see Delivery.h.
#include "ui/Delivery.h"

#include "ui/Window.h"

#include <mutex>
#include <set>

namespace {

// Process-wide: the records whose senders are waiting.
struct PendingMessages {
    std::mutex lock;
    std::set<WindowMessage*> records;
};

PendingMessages& Pending() {
    static PendingMessages pending;
    return pending;
}

}  // namespace

bool ReceiveWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    Window* target = nullptr;
    void* payload = nullptr;
    {
        PendingMessages& pending = Pending();
        std::lock_guard<std::mutex> lock(pending.lock);
        // Looked up by address before it is read: a foreign lParam is never
        // dereferenced.
        auto found = pending.records.find(reinterpret_cast<WindowMessage*>(lParam));
        if (found == pending.records.end())
            return false;
        WindowMessage* record = *found;
        // A message whose sender timed out may meet a later record at the same
        // address: it may only take one it could have carried itself.
        if (record->taken || record->message != message || record->kind != int(wParam))
            return false;
        if (record->senderStop && *record->senderStop)
            return false;
        record->taken = true;
        target = record->target;
        payload = record->payload;
    }
    // Outside the lock: the target may take its time, and the sender may
    // already have stopped waiting.
    if (message == DM_CONTENT)
        target->OnContent(int(wParam), payload);
    else
        target->OnData(int(wParam), payload);
    return true;
}

bool SendWindowMessage(HWND listView, UINT message, int kind, Window* target, void* payload,
                       unsigned timeoutMs, const std::atomic<bool>* senderStop) {
    if (ClosingRequested() || !listView || (senderStop && *senderStop))
        return false;
    WindowMessage record{target, payload, message, kind, senderStop};
    PendingMessages& pending = Pending();
    {
        std::lock_guard<std::mutex> lock(pending.lock);
        pending.records.insert(&record);
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(listView, message, WPARAM(kind), LPARAM(&record), SMTO_NORMAL, timeoutMs,
                        &ignored);
    // What the send answered says nothing about the payload: the mark does.
    std::lock_guard<std::mutex> lock(pending.lock);
    pending.records.erase(&record);
    return record.taken;
}
