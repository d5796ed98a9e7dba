// The process-wide list of usage listeners; see EventListener.h.
#include "base/EventListener.h"

#include <list>

namespace {

// Borrowed pointers in registration order.
std::list<EventListener*>& eventListeners() {
    static std::list<EventListener*> listeners;
    return listeners;
}

}  // namespace

void BroadcastEvent(int event, int param) {
    for (EventListener* listener : eventListeners())
        listener->OnEvent(event, param);
}

void RegisterEventListener(EventListener* listener) {
    if (listener)
        eventListeners().push_back(listener);
}

void UnregisterEventListener(EventListener* listener) {
    eventListeners().remove(listener);
}
