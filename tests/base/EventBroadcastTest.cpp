// The usage event channel.
#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(EventBroadcast, ListenersHearInRegistrationOrderWhileRegisteredAndNothingIsKept) {
    std::vector<int> order;
    struct Tagged : EventListener {
        Tagged(int tag, std::vector<int>& order) : tag(tag), order(order) {}
        void OnEvent(int, int) override { order.push_back(tag); }
        int tag;
        std::vector<int>& order;
    } first(1, order), second(2, order);

    RegisterEventListener(&first);
    UnregisterEventListener(&first);
    UnregisterEventListener(&first);  // no longer registered: nothing to remove
    BroadcastEvent(WidgetStarted, 0);  // heard by nobody, kept for nobody
    EXPECT_TRUE(order.empty());

    RegisterEventListener(&first);
    RegisterEventListener(&second);
    RegisterEventListener(&first);
    BroadcastEvent(TabSelected, 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1}));
    UnregisterEventListener(&first);  // once removes every registration
    order.clear();
    BroadcastEvent(TabSelected, 3);
    EXPECT_EQ(order, (std::vector<int>{2}));
    UnregisterEventListener(&second);

    EventRecorder late;  // hears nothing broadcast before it came
    BroadcastEvent(TabSelected, 5);
    EXPECT_EQ(late.heard, (std::vector<int>{TabSelected}));
    EXPECT_EQ(late.values, (std::vector<int>{5}));
}

}  // namespace
