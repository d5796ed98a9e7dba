// The process-wide list of usage listeners; see EventListener.h.
#include "base/EventListener.h"

#include <list>
#include <mutex>

namespace {

// Borrowed pointers in registration order, and their lock; recursive, as a
// listener may raise an event of its own.
struct Listeners {
    std::recursive_mutex lock;
    std::list<EventListener*> list;
};

Listeners& eventListeners() {
    static Listeners listeners;
    return listeners;
}

}  // namespace

void BroadcastEvent(int event, int param) {
    Listeners& listeners = eventListeners();
    std::lock_guard<std::recursive_mutex> hold(listeners.lock);
    for (EventListener* listener : listeners.list)
        listener->OnEvent(event, param);
}

void RegisterEventListener(EventListener* listener) {
    if (!listener)
        return;
    Listeners& listeners = eventListeners();
    std::lock_guard<std::recursive_mutex> hold(listeners.lock);
    listeners.list.push_back(listener);
}

void UnregisterEventListener(EventListener* listener) {
    Listeners& listeners = eventListeners();
    std::lock_guard<std::recursive_mutex> hold(listeners.lock);
    listeners.list.remove(listener);
}
