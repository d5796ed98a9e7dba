// Usage events: the codes that parts of the widget announce, the listener
// interface and the process-wide listener list.
//
// Events are raised on the window thread and on the worker thread, and every
// listener guards its own state. The list has a lock of its own, held across
// a broadcast: a listener that is removed is called no more once removal
// returns, also when a worker left to finish by itself is raising an event
// meanwhile.
#pragma once

enum UsageEvent : int {
    RadioStarted = 0,
    RadioStopped = 1,
    WidgetHidden = 2,
    WidgetShown = 3,
    WidgetStarted = 4,
    WidgetExiting = 5,
    WentOnline = 6,
    WentOffline = 7,
    IdleBegan = 8,
    IdleEnded = 9,
    TabSelected = 10,  // param: the new tab index, 0 to 5
    PageLinkClicked = 11,
    PageScrolled = 12,
    PhoneHovered = 13,
    EnterClicked = 14,
    CityChosen = 15,
    OfficeOpenedFromList = 16,
    OfficeOpenedFromMap = 17,
    OfficeListOpened = 18,
    CityMapOpened = 19,
};

// Listeners are deleted through their own type, never through this interface.
class EventListener {
public:
    virtual void OnEvent(int event, int param) = 0;

protected:
    ~EventListener() = default;
};

// Calls OnEvent on every registered listener, in registration order, on the
// caller's thread.
void BroadcastEvent(int event, int param);

// A listener registered twice hears every event twice.
void RegisterEventListener(EventListener* listener);

// Removes every registration of the listener.
void UnregisterEventListener(EventListener* listener);
